#include "gui/qt/LogindInhibitor.h"

#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>

namespace crenovix::qt {

namespace {
constexpr int kInhibitTimeoutMs = 2000; // an answer later than this is none
}

void CLogindInhibitor::Acquire() {
    const QDBusConnection bus = bus_ ? *bus_ : QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Crenovix")
         << QStringLiteral("Writing charger firmware") << QStringLiteral("block");
    const unsigned asked = ++state_->asked;
    state_->wanted = asked;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kInhibitTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [state = state_, asked](QDBusPendingCallWatcher* answered) {
                         const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *answered;
                         if (state->wanted == asked && reply.isValid()) {
                             state->lock = reply.value();
                         }
                         answered->deleteLater();
                     });
}

void CLogindInhibitor::Release() {
    state_->wanted = 0;
    state_->lock = QDBusUnixFileDescriptor();
}

} // namespace crenovix::qt
