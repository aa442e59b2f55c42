// A change among the devices present, as the main window hears of it: each kind makes it refill
// the device list. The kinds are those the systems tell apart; the Windows front end translates
// its device-change notifications into them, the Linux monitor reports every batch of udev events
// as NodesChanged.
#pragma once

namespace crenovix {

enum class EDeviceChange {
    NodesChanged,   // some device came or went, the system does not say which
    Arrival,        // a port or HID device arrived
    RemoveComplete, // a port or HID device is gone
};

} // namespace crenovix
