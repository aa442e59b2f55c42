// The Qt window's services: the Linux platform adapters or the demo desk (app/ProgramServices.h),
// and device changes delivered to a callback through the Qt event loop, so they also arrive
// while an update run pumps events.
#pragma once

#include "app/ProgramServices.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace crenovix::gui {

// The Linux devices, or the demo desk when `simulate` names simulated chargers.
std::unique_ptr<CProgramServices> CreateProgramServices(const char* simulate, std::string& error,
                                                        std::uint32_t seed);

// Calls `onChange` on `owner`'s thread whenever devices come or go, for as long as `owner`
// lives: udev's notifications for the Linux devices, a poll for simulated chargers.
void WatchDeviceChanges(CProgramServices& services, QObject* owner, std::function<void()> onChange);

} // namespace crenovix::gui
