// HID interfaces through hidapi (hidraw backend): the scan's interface set and the port's HID
// channel.
//
// Positions are counted over every entry of a fresh hid_enumerate(0, 0) list, chargers or not,
// so the scan and a later open by position agree while no device comes or goes. Opening is
// hid_open_path on the entry's path, shared with other programs. A device's vendor and product id,
// product and serial number strings are those of its enumeration entry: the hidraw backend reads
// them from the same udev records for an open handle, so asking again would only add a second
// lookup that can meet another device. The strings come through hidapi as wchar_t (UTF-32 here)
// and are handed on as UTF-16 units, the form the portable scan takes the low byte of; hidapi
// decodes them with the C library's multibyte rules, so non-ASCII names need a UTF-8 LC_CTYPE.
//
// The library's global state is set up by the first user and torn down after the last one: every
// object here holds a share of one guard, so hid_exit never runs under an open device.
#pragma once

#include "device/DevicePort.h"
#include "device/HidDiscovery.h"

#include <memory>
#include <string>
#include <string_view>

namespace crenovix {

// The UTF-16 units of `text` up to its first NUL: code points above U+FFFF become surrogate
// pairs, values beyond U+10FFFF become U+FFFD, lone surrogate values pass through as units.
std::u16string WideToUtf16(std::wstring_view text);

// hid_init for as long as any holder keeps its share; hid_exit after the last one lets go.
class CHidApiGuard {
public:
    // nullptr when hid_init fails.
    static std::shared_ptr<CHidApiGuard> Acquire();
    ~CHidApiGuard();
    CHidApiGuard(const CHidApiGuard&) = delete;
    CHidApiGuard& operator=(const CHidApiGuard&) = delete;

private:
    CHidApiGuard() = default;
};

class CHidApiInterfaceSet final : public IHidInterfaceSet {
public:
    EHidScanOpen OpenHidForScan(int position, std::unique_ptr<IHidScanDevice>& device) override;
};

// The channel of the HID interface at `position`; nullptr when there is none or it cannot be
// opened. Writes send one whole report (report ID first). Reads return one report in a buffer of
// at least 2 bytes: byte 0 the report ID (0 for a device without numbered reports), the report's
// data after it, zero-filled; TimedOut when no report came in time, Failed when hidapi fails.
std::unique_ptr<IPortChannel> OpenHidChannel(int position);

} // namespace crenovix
