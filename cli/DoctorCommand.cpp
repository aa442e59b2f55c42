#include "cli/Commands.h"
#include "device/SerialEnumeration.h"
#include "doctor/PortReport.h"
#include "platform/Platform.h"
#include "text/PrintableText.h"

#if !defined(_WIN32)
#include "crenovix/UdevRules.h"
#include "doctor/linux/DoctorSystem.h"
#endif

namespace crenovix::cli {

int RunDoctor(Args args, std::ostream& out, std::ostream& err) {
    bool json = false;
    bool rules = false;
    for (const std::string& arg : args) {
        if (arg == "--json") {
            json = true;
        } else if (arg == "--udev-rules") {
            rules = true;
        } else {
            err << "usage: crenovix-cli doctor [--json | --udev-rules]\n";
            return 2;
        }
    }
#if defined(_WIN32)
    if (rules) {
        err << "crenovix-cli: udev rules are for Linux\n";
        return 2;
    }
    const auto platform = CreateSystemPlatform()->OpenDevices();
    try {
        return doctor::PrintPortAccess(doctor::ListPortAccess(platform->HidInterfaces(),
                                                              platform->SerialPorts(),
                                                              platform->Ports()),
                                       json, out);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return 2;
    }
#else
    if (rules) {
        out << doctor::kUdevRules;
        return 0;
    }
    const auto system = doctor::CreateLinuxDoctorSystem();
    const doctor::SDoctorReport report = doctor::RunDoctorChecks(*system);
    if (json) {
        doctor::PrintReportJson(report, out);
    } else {
        doctor::PrintReport(report, out);
    }
    return report.HasProblems() ? 1 : 0;
#endif
}

} // namespace crenovix::cli
