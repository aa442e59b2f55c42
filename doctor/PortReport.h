// The doctor on Windows: every HID interface and serial port the system shows, and whether each
// opens as the updater would open it. Portable over the device interfaces, so the simulated
// desk can stand in for the system in tests.
#pragma once

#include "device/DevicePort.h"
#include "device/HidDiscovery.h"
#include "device/SerialPlatform.h"
#include "doctor/Doctor.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace crenovix::doctor {

struct SPortLine {
    std::string port;        // "HID3", "COM4"
    std::string description; // "0483:5750 Kelvorin K4", or the port's friendly name
    bool charger = false;
    bool opens = false;
    std::optional<std::uint32_t> latencyTimerMs; // a charger's USB serial bridge, where readable
};

// HID interfaces in position order, then the serial ports. Raises CEnumerationError as the device
// list does.
std::vector<SPortLine> ListPortAccess(IHidInterfaceSet& hid, ISerialPlatform& serial,
                                      IPortOpener& opener);
// Only the HID interfaces: what the window looks at after a device change (it opens no serial
// port that another program may be using).
std::vector<SPortLine> ListHidAccess(IHidInterfaceSet& hid, IPortOpener& opener);

// The chargers among the lines (node = port name), a problem for each that does not open and a
// note for each whose bridge holds answers too long, for the printout and the window's hint.
SDoctorReport PortAccessReport(const std::vector<SPortLine>& lines);

// One line per port, then each problem and note with its remedy. Returns the exit code: 0 when
// every charger opens, 1 otherwise.
int PrintPortAccess(const std::vector<SPortLine>& lines, bool json, std::ostream& out);

} // namespace crenovix::doctor
