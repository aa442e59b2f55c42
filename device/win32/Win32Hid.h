// Internal to the Windows adapters: the SetupDi walk to the HID interface at a position, shared
// by the scan and the device port.
#pragma once

#include <windows.h>

namespace crenovix::win32 {

enum class EHidInterfaceOpen { Opened, Unopenable, NoInterface };

// Opens the present HID interface at `position` (read and write access, shared for reading and
// writing, overlapped). `handle` is set only when the result is Opened; the caller closes it.
// `error` receives the GetLastError of a failed step, 0 after success.
EHidInterfaceOpen OpenHidInterface(int position, HANDLE& handle, DWORD& error);

} // namespace crenovix::win32
