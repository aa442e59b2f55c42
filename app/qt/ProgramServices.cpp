#include "app/qt/ProgramServices.h"

#include "device/SerialEnumeration.h"
#include "device/linux/DeviceMonitor.h"
#include "device/linux/HidApiDevices.h"
#include "device/linux/LinuxPortOpener.h"
#include "device/linux/UdevSerialPlatform.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

#include <QSocketNotifier>
#include <QTimer>

namespace crenovix::gui {

namespace {

class CLinuxServices final : public CProgramServices {
public:
    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return ports_; }

    void WatchDeviceChanges(QObject* owner, std::function<void()> onChange) override {
        int error = 0;
        monitor_ = CDeviceMonitor::Create(std::move(onChange), error);
        if (monitor_ == nullptr) {
            return; // no udev: the list refreshes on the check box and after runs only
        }
        auto* notifier = new QSocketNotifier(monitor_->Fd(), QSocketNotifier::Read, owner);
        QObject::connect(notifier, &QSocketNotifier::activated, owner,
                         [this] { monitor_->Dispatch(); });
    }

private:
    CUdevSerialPlatform serialPorts_;
    CHidApiInterfaceSet hidInterfaces_;
    CDeviceEnumerator enumerator_{serialPorts_, hidInterfaces_};
    CLinuxPortOpener ports_;
    std::unique_ptr<CDeviceMonitor> monitor_;
};

class CDemoServices final : public CProgramServices {
public:
    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return bench_; }
    sim::CSimBench& Bench() { return bench_; }

    // Simulated chargers change with time (restarting into the boot loader), not with events;
    // a short poll stands in for the system's notifications.
    void WatchDeviceChanges(QObject* owner, std::function<void()> onChange) override {
        bench_.TakeDevicesChanged();
        auto* timer = new QTimer(owner);
        QObject::connect(timer, &QTimer::timeout, owner, [this, onChange = std::move(onChange)] {
            if (bench_.TakeDevicesChanged()) {
                onChange();
            }
        });
        timer->start(100);
    }

private:
    sim::CSimBench bench_{clock_};
    CDeviceEnumerator enumerator_{bench_, bench_};
};

} // namespace

std::unique_ptr<CProgramServices> CreateProgramServices(const char* simulate, std::string& error,
                                                        std::uint32_t seed) {
    std::unique_ptr<CProgramServices> services;
    if (simulate == nullptr || *simulate == '\0') {
        services = std::make_unique<CLinuxServices>();
    } else {
        auto demo = std::make_unique<CDemoServices>();
        if (const auto problem = sim::AddDemoChargers(demo->Bench(), simulate)) {
            error = *problem;
            return nullptr;
        }
        services = std::move(demo);
    }
    services->nonces_ = CNonceGenerator(seed);
    return services;
}

} // namespace crenovix::gui
