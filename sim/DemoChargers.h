// The simulated chargers of the demo modes ("crenovix-cli update --simulate", the window's
// CRENOVIX_SIMULATE): what a person trying the program without hardware sees in the device list.
#pragma once

#include "sim/SimBench.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace crenovix::sim {

// What the demo chargers accept and report unless told otherwise.
inline constexpr std::uint8_t kDemoModelCode = 0x0A;
inline constexpr const char* kDemoType = "Kelvorin K4";

// Adds to `bench` the chargers named in `names`, a comma-separated list of "hid" and "serial"
// (for example "hid,serial"). A HID charger sits behind a keyboard, at position 1, as on a real
// machine; a serial charger is a USB serial charger on "simtty0", "simtty1", ... Each accepts
// files for `modelCode` and reports `type`. A word may name one fault after a colon, for
// trying what goes wrong in a box of chargers: "refuse" (the boot request is answered "5"),
// "noreturn" (the boot loader never comes up), "unplug" (the charger leaves half-way through the
// transfer), "moved" (HID: the boot loader comes back at another position), as in
// "hid,hid:refuse,serial:unplug". "twin" instead of a fault gives the charger the serial number
// of the one before it on the same transport. "@PLUG" or "@PLUG-UNPLUG" after the word makes a
// charger that is plugged in PLUG ms after the bench's clock starts (and pulled out at UNPLUG),
// as in "hid,hid@3000,hid@0-5000,hid@8000:twin". Returns an error text for an unknown word,
// fault or time.
std::optional<std::string> AddDemoChargers(CSimBench& bench, std::string_view names,
                                           std::uint8_t modelCode = kDemoModelCode,
                                           const std::string& type = kDemoType);

} // namespace crenovix::sim
