// Device changes for the Qt window, delivered to a callback through the Qt event loop, so they
// also arrive while an update run pumps events.
#pragma once

#include "platform/ProgramServices.h"

#include <QObject>

#include <functional>

namespace crenovix::qt {

// Calls `onChange` on `owner`'s thread whenever devices come or go, for as long as `owner`
// lives: the system's notices (udev's) for its devices, a poll for simulated chargers. `services`
// must outlive `owner`.
void WatchDeviceChanges(CProgramServices& services, QObject* owner, std::function<void()> onChange);

} // namespace crenovix::qt
