#include "doctor/SystemReport.h"

#include "device/SerialEnumeration.h"
#include "doctor/PortReport.h"
#include "platform/Platform.h"
#include "text/PrintableText.h"

namespace crenovix::doctor {

int RunDoctorReport(bool json, bool udevRules, std::ostream& out, std::ostream& err) {
    if (udevRules) {
        err << "crenovix-cli: udev rules are for Linux\n";
        return 2;
    }
    const auto platform = CreateSystemPlatform()->OpenDevices();
    try {
        return PrintPortAccess(
            ListPortAccess(platform->HidInterfaces(), platform->SerialPorts(), platform->Ports()),
            json, out);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return 2;
    }
}

} // namespace crenovix::doctor
