// The doctor on the system it is built for, as `crenovix-cli doctor` runs it: on Linux the checks
// of this machine (doctor/linux/SystemReport.cpp), on Windows the port report of every HID
// interface and serial port (doctor/win32/SystemReport.cpp).
#pragma once

#include <ostream>

namespace crenovix::doctor {

// Prints the report (`json`: as one JSON object) to `out`, or with `udevRules` the rules for
// chargers this program carries; errors go to `err`. Returns the exit code: 0 nothing wrong, 1
// problems found, 2 what was asked cannot be done here.
int RunDoctorReport(bool json, bool udevRules, std::ostream& out, std::ostream& err);

} // namespace crenovix::doctor
