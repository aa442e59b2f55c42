#include "doctor/SystemReport.h"

#include "device/SerialEnumeration.h"
#include "device/win32/Win32HidInterfaceSet.h"
#include "device/win32/Win32PortOpener.h"
#include "device/win32/Win32SerialPlatform.h"
#include "doctor/PortReport.h"
#include "text/PrintableText.h"

namespace crenovix::doctor {

int RunDoctorReport(bool json, bool udevRules, std::ostream& out, std::ostream& err) {
    if (udevRules) {
        err << "crenovix-cli: udev rules are for Linux\n";
        return 2;
    }
    CWin32HidInterfaceSet hid;
    CWin32SerialPlatform serial;
    CWin32PortOpener opener;
    try {
        return PrintPortAccess(ListPortAccess(hid, serial, opener), json, out);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return 2;
    }
}

} // namespace crenovix::doctor
