// Finding chargers among the HID interfaces present on the machine.
//
// A charger is vendor 0x0483 with a product id from 0x5750 to 0x575F. It is addressed by its
// position in the enumeration of all present HID interfaces (not only chargers), which the
// record carries in its friendly name ("Kavro USB(HID<n>)") and the device port walks to again.
// The walk reports nothing: every failure skips one interface or ends the walk, and the records
// appended up to then stay. Devices opened for the scan are owned and closed by the walk.
#pragma once

#include "device/SerInfo.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace crenovix {

// The strings are read into 256 bytes: 127 UTF-16 units and the terminator.
inline constexpr std::size_t kHidStringMaxUnits = 127;
// The walk gives up after this many positions, so an interface set that never reports its end
// cannot hang the enumeration.
inline constexpr int kHidMaxPositions = 4096;

// An HID interface opened for the scan. Closing is destruction.
class IHidScanDevice {
public:
    virtual ~IHidScanDevice() = default;
    // False when the attributes cannot be read.
    virtual bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) = 0;
    // The strings as UTF-16 units without terminator; nothing when unreadable.
    virtual std::optional<std::u16string> GetProductString() = 0;
    virtual std::optional<std::u16string> GetSerialNumberString() = 0;
};

enum class EHidScanOpen {
    Opened,     // `device` holds the open interface
    Unopenable, // the interface exists but cannot be opened; it still takes its position
    NoInterface // no interface at that position (or the set or its path cannot be obtained)
};

// The platform's set of present HID interfaces, in a stable order while devices do not change.
class IHidInterfaceSet {
public:
    virtual ~IHidInterfaceSet() = default;
    virtual EHidScanOpen OpenHidForScan(int position, std::unique_ptr<IHidScanDevice>& device) = 0;
};

// Appends one record per charger to `list`, in ascending position order: strPath "##" + serial
// number, strFriendly "Kavro USB(HID<n>)", bCharger 1, strBusDesc the product string, nHidIndex n.
void ListHidChargers(IHidInterfaceSet& interfaces, SerInfoList& list);

// The string conversion of the scan: each unit up to the first zero unit keeps its low byte,
// at most 127 units (a 256-byte buffer with its terminator). A unit whose low byte is zero
// (U+0100, ...) ends the text as the terminator does.
std::string HidStringToText(const std::u16string& units);

} // namespace crenovix
