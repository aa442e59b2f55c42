// SSerInfo: one found serial port or HID charger, as device enumeration lists it. Plain value
// record; the enumeration list is an ordered vector that owns its records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace crenovix {

struct SSerInfo {
    std::string strPath;     // what the device is opened by; HID: "##" + serial number
    std::string strPort;     // short port name, set only by the number and registry routes
    std::string strFriendly; // shown to the user; HID: "Kavro USB(HID<n>)"
    std::int32_t bCharger = 0;
    std::string strDesc;    // port description
    std::string strBusDesc; // description reported by the bus; HID: the product string
    // HID position; unset (-1) for serial ports.
    std::int32_t nHidIndex = -1;
};

using SerInfoList = std::vector<SSerInfo>;

} // namespace crenovix
