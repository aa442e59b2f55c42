// What marks a charger among the system's devices, in one place: HID discovery, serial
// enumeration, the doctor and the Windows port report all ask here.
//
// A HID charger is vendor 0x0483 with a product id from 0x5750 to 0x575F (the low four bits are
// the model). A USB serial charger announces itself by its bus description (the USB product
// string of the cable), which begins "Kavro" or "USB Device"; the match is case-sensitive, as
// the chargers report it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace crenovix {

inline constexpr std::uint16_t kChargerVendorId = 0x0483;
inline constexpr std::uint16_t kChargerFirstProductId = 0x5750;
inline constexpr std::uint16_t kChargerLastProductId = 0x575F;
inline constexpr std::array<std::string_view, 2> kChargerBusDescriptions = {"Kavro", "USB Device"};

constexpr bool IsChargerUsbId(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == kChargerVendorId && productId >= kChargerFirstProductId &&
           productId <= kChargerLastProductId;
}

constexpr bool IsChargerBusDescription(std::string_view busDescription) {
    for (const std::string_view prefix : kChargerBusDescriptions) {
        if (busDescription.starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace crenovix
