// The doctor on Windows: every HID interface and serial port the system shows, and whether each
// opens as the updater would open it. Portable over the device interfaces, so the simulated
// desk can stand in for the system in tests.
#pragma once

#include "device/DevicePort.h"
#include "device/HidDiscovery.h"
#include "device/SerialPlatform.h"

#include <ostream>
#include <string>
#include <vector>

namespace crenovix::doctor {

struct SPortLine {
    std::string port;        // "HID3", "COM4"
    std::string description; // "0483:5750 Kelvorin K4", or the port's friendly name
    bool charger = false;
    bool opens = false;
};

// HID interfaces in position order, then the serial ports. Raises CEnumerationError as the device
// list does.
std::vector<SPortLine> ListPortAccess(IHidInterfaceSet& hid, ISerialPlatform& serial,
                                      IPortOpener& opener);

// One line per port, then a problem with its remedy for each charger that does not open. Returns
// the exit code: 0 when every charger opens, 1 otherwise.
int PrintPortAccess(const std::vector<SPortLine>& lines, bool json, std::ostream& out);

} // namespace crenovix::doctor
