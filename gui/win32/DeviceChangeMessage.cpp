#include "gui/win32/DeviceChangeMessage.h"

extern "C" {
#include <hidsdi.h>
}

namespace crenovix::win32 {

namespace {
// Interface class of COM ports ({86E0D1E0-8089-11D0-9CE4-08003E301F73}).
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
} // namespace

std::vector<HDEVNOTIFY> RegisterForChargerChanges(HWND window) {
    std::vector<HDEVNOTIFY> notifications;
    GUID hid{};
    HidD_GetHidGuid(&hid);
    for (const GUID& interfaceClass : {hid, kComPortInterface}) {
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass;
        if (const HDEVNOTIFY notification =
                RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE)) {
            notifications.push_back(notification);
        }
    }
    return notifications;
}

void UnregisterChargerChanges(std::vector<HDEVNOTIFY>& notifications) {
    for (const HDEVNOTIFY notification : notifications) {
        UnregisterDeviceNotification(notification);
    }
    notifications.clear();
}

} // namespace crenovix::win32
