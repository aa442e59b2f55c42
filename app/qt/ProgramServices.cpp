#include "app/qt/ProgramServices.h"

#include "device/SerialEnumeration.h"
#include "device/linux/DeviceMonitor.h"
#include "device/linux/HidApiDevices.h"
#include "device/linux/LinuxPortOpener.h"
#include "device/linux/UdevSerialPlatform.h"

#include <QSocketNotifier>
#include <QTimer>

namespace crenovix::gui {

namespace {

class CLinuxServices final : public CProgramServices {
public:
    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return ports_; }

private:
    CUdevSerialPlatform serialPorts_;
    CHidApiInterfaceSet hidInterfaces_;
    CDeviceEnumerator enumerator_{serialPorts_, hidInterfaces_};
    CLinuxPortOpener ports_;
};

// Keeps the udev monitor as long as the window that watches lives.
class CMonitorHolder final : public QObject {
public:
    CMonitorHolder(std::unique_ptr<CDeviceMonitor> monitor, QObject* owner)
        : QObject(owner), monitor_(std::move(monitor)) {
        auto* notifier = new QSocketNotifier(monitor_->Fd(), QSocketNotifier::Read, this);
        QObject::connect(notifier, &QSocketNotifier::activated, this,
                         [this] { monitor_->Dispatch(); });
    }

private:
    std::unique_ptr<CDeviceMonitor> monitor_;
};

} // namespace

std::unique_ptr<CProgramServices> CreateProgramServices(const char* simulate, std::string& error,
                                                        std::uint32_t seed) {
    return crenovix::CreateProgramServices(simulate, error, seed,
                                           [] { return std::make_unique<CLinuxServices>(); });
}

void WatchDeviceChanges(CProgramServices& services, QObject* owner,
                        std::function<void()> onChange) {
    if (std::function<bool()> poll = services.DevicesChangedPoll()) {
        auto* timer = new QTimer(owner);
        QObject::connect(timer, &QTimer::timeout, owner,
                         [poll = std::move(poll), onChange = std::move(onChange)] {
                             if (poll()) {
                                 onChange();
                             }
                         });
        timer->start(kDemoPollMs);
        return;
    }
    int error = 0;
    auto monitor = CDeviceMonitor::Create(std::move(onChange), error);
    if (monitor == nullptr) {
        return; // no udev: the list refreshes on the check box and after runs only
    }
    new CMonitorHolder(std::move(monitor), owner);
}

} // namespace crenovix::gui
