#include "gui/qt/ProgramServices.h"

#include <QSocketNotifier>
#include <QTimer>

namespace crenovix::qt {

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
    IDevices& devices = services.Devices();
    if (devices.Notices() != EDeviceNotices::Descriptor) {
        return; // no udev: the list refreshes on the check box and after runs only
    }
    auto* notifier = new QSocketNotifier(devices.NoticeDescriptor(), QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner,
                     [&devices, onChange = std::move(onChange)] {
                         if (devices.TakeDevicesChanged()) {
                             onChange();
                         }
                     });
}

} // namespace crenovix::qt
