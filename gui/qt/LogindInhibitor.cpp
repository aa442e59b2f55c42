#include "gui/qt/LogindInhibitor.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusInterface>
#include <QtDBus/QDBusReply>

namespace crenovix::qt {

void CLogindInhibitor::Acquire() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusInterface manager("org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", bus);
    if (!manager.isValid()) {
        return;
    }
    manager.setTimeout(2000); // a slow bus must not delay the update noticeably
    const QDBusReply<QDBusUnixFileDescriptor> reply =
        manager.call("Inhibit", "sleep:idle", "Crenovix", "Writing charger firmware", "block");
    if (reply.isValid()) {
        lock_ = reply.value();
    }
}

void CLogindInhibitor::Release() {
    lock_ = QDBusUnixFileDescriptor();
}

} // namespace crenovix::qt
