// The main window's device-change notifications (WM_DEVICECHANGE) in the window logic's terms.
// Node changes reach every window; arrivals and removals come for the interface classes the
// window registered for. Every other event (configuration changes, removal queries, custom
// events) changes no device: it is answered and otherwise ignored.
#pragma once

#include "device/DeviceChange.h"

#include <windows.h>

#include <dbt.h>

#include <optional>
#include <vector>

namespace crenovix::win32 {

inline std::optional<EDeviceChange> DeviceChangeFromMessage(WPARAM eventCode) {
    switch (eventCode) {
    case DBT_DEVNODES_CHANGED:
        return EDeviceChange::NodesChanged;
    case DBT_DEVICEARRIVAL:
        return EDeviceChange::Arrival;
    case DBT_DEVICEREMOVECOMPLETE:
        return EDeviceChange::RemoveComplete;
    default:
        return std::nullopt;
    }
}

// Registers `window` for arrivals and removals of HID and COM-port interfaces (USB serial
// adapters announce their ports under the latter), besides the node changes every window gets.
// Without a registration only node changes arrive, which still refresh the list.
std::vector<HDEVNOTIFY> RegisterForChargerChanges(HWND window);
void UnregisterChargerChanges(std::vector<HDEVNOTIFY>& notifications);

} // namespace crenovix::win32
