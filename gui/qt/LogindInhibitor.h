// Keeps the system from sleeping while a charger is written, through logind's inhibitor locks
// on the system bus. Where there is no such service (no system bus, no logind, no permission)
// it does nothing: an update must not fail for want of it.
#pragma once

#include "app/MainWindowLogic.h"

#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusUnixFileDescriptor>

#include <memory>
#include <optional>

namespace crenovix::qt {

class CLogindInhibitor final : public ISleepInhibitor {
public:
    CLogindInhibitor() = default;
    // Asks on `bus` in place of the system bus (tests).
    explicit CLogindInhibitor(const QDBusConnection& bus) : bus_(bus) {}

    // Asks for the lock and returns at once: the window's thread never waits for the bus or
    // logind. The lock holds from logind's answer on, unless Release came first.
    void Acquire() override;
    void Release() override;
    bool Held() const { return state_->lock.isValid(); }

private:
    struct SState {
        QDBusUnixFileDescriptor lock; // the lock lasts as long as this descriptor is open
        unsigned asked = 0;           // Acquire calls so far
        unsigned wanted = 0;          // the Acquire whose answer is to be kept; 0: none
    };

    std::optional<QDBusConnection> bus_;
    // Shared with the answers on their way, which may come after this object has gone.
    std::shared_ptr<SState> state_ = std::make_shared<SState>();
};

} // namespace crenovix::qt
