// Keeps the system from sleeping while a charger is written, through logind's inhibitor locks
// on the system bus. Where there is no such service (no system bus, no logind, no permission)
// it does nothing: an update must not fail for want of it.
#pragma once

#include "app/MainWindowLogic.h"

#include <QtDBus/QDBusUnixFileDescriptor>

namespace crenovix::qt {

class CLogindInhibitor final : public ISleepInhibitor {
public:
    void Acquire() override;
    void Release() override;
    bool Held() const { return lock_.isValid(); }

private:
    QDBusUnixFileDescriptor lock_; // the lock lasts as long as this descriptor is open
};

} // namespace crenovix::qt
