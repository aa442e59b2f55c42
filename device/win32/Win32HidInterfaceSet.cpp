#include "device/win32/Win32HidInterfaceSet.h"

#include "device/win32/Win32Hid.h"

extern "C" {
#include <hidsdi.h>
}

#include <array>
#include <cstddef>
#include <optional>
#include <string>

namespace crenovix {

namespace {

class CWin32HidScanDevice final : public IHidScanDevice {
public:
    explicit CWin32HidScanDevice(HANDLE handle) : handle_(handle) {}
    ~CWin32HidScanDevice() override { CloseHandle(handle_); }
    CWin32HidScanDevice(const CWin32HidScanDevice&) = delete;
    CWin32HidScanDevice& operator=(const CWin32HidScanDevice&) = delete;

    bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof(attributes);
        if (!HidD_GetAttributes(handle_, &attributes)) {
            return false;
        }
        vendorId = attributes.VendorID;
        productId = attributes.ProductID;
        return true;
    }

    std::optional<std::u16string> GetProductString() override {
        return ReadString([this](PVOID buffer, ULONG bytes) {
            return HidD_GetProductString(handle_, buffer, bytes);
        });
    }

    std::optional<std::u16string> GetSerialNumberString() override {
        return ReadString([this](PVOID buffer, ULONG bytes) {
            return HidD_GetSerialNumberString(handle_, buffer, bytes);
        });
    }

private:
    // 256 bytes of UTF-16; the units up to the first zero unit, at most 127 of them.
    template <typename Get>
    static std::optional<std::u16string> ReadString(Get get) {
        std::array<WCHAR, kHidStringMaxUnits + 1> buffer{};
        if (!get(buffer.data(), static_cast<ULONG>(sizeof(buffer)))) {
            return std::nullopt;
        }
        std::u16string units;
        for (std::size_t i = 0; i < kHidStringMaxUnits && buffer[i] != 0; ++i) {
            units.push_back(static_cast<char16_t>(buffer[i]));
        }
        return units;
    }

    HANDLE handle_;
};

} // namespace

EHidScanOpen CWin32HidInterfaceSet::OpenHidForScan(int position,
                                                   std::unique_ptr<IHidScanDevice>& device) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    switch (win32::OpenHidInterface(position, handle, error)) {
    case win32::EHidInterfaceOpen::Opened:
        device = std::make_unique<CWin32HidScanDevice>(handle);
        return EHidScanOpen::Opened;
    case win32::EHidInterfaceOpen::Unopenable:
        return EHidScanOpen::Unopenable;
    case win32::EHidInterfaceOpen::NoInterface:
        break;
    }
    return EHidScanOpen::NoInterface;
}

} // namespace crenovix
