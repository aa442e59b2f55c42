#include "device/win32/Win32Hid.h"

#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <vector>

namespace crenovix::win32 {

namespace {

class CDeviceInfoList {
public:
    explicit CDeviceInfoList(HDEVINFO list) : list_(list) {}
    ~CDeviceInfoList() { SetupDiDestroyDeviceInfoList(list_); }
    CDeviceInfoList(const CDeviceInfoList&) = delete;
    CDeviceInfoList& operator=(const CDeviceInfoList&) = delete;

private:
    HDEVINFO list_;
};

} // namespace

EHidInterfaceOpen OpenHidInterface(int position, HANDLE& handle, DWORD& error) {
    error = 0;
    if (position < 0) {
        return EHidInterfaceOpen::NoInterface;
    }
    GUID hidClass{};
    HidD_GetHidGuid(&hidClass);
    const HDEVINFO interfaces =
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (interfaces == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return EHidInterfaceOpen::NoInterface;
    }
    const CDeviceInfoList release(interfaces);

    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(interfaces, nullptr, &hidClass, static_cast<DWORD>(position),
                                     &interfaceData)) {
        error = GetLastError();
        return EHidInterfaceOpen::NoInterface;
    }

    // The first call only reports the size the detail record needs.
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailA(interfaces, &interfaceData, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        error = GetLastError();
        return EHidInterfaceOpen::NoInterface;
    }
    std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    // The size of the record's fixed part: 5 in a 32-bit program, 8 in a 64-bit one.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(interfaces, &interfaceData, detail, needed, nullptr,
                                          nullptr)) {
        error = GetLastError();
        return EHidInterfaceOpen::NoInterface;
    }

    const HANDLE opened = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return EHidInterfaceOpen::Unopenable;
    }
    handle = opened;
    return EHidInterfaceOpen::Opened;
}

} // namespace crenovix::win32
