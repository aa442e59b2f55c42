#include "cli/Commands.h"
#include "cli/PortReport.h"
#include "cli/PrintableText.h"
#include "device/SerialEnumeration.h"
#include "platform/Platform.h"

#if !defined(_WIN32)
#include "cli/linux/DoctorSystem.h"
#include "crenovix/UdevRules.h"
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
        return cli::PrintPortAccess(cli::ListPortAccess(platform->HidInterfaces(),
                                                        platform->SerialPorts(), platform->Ports()),
                                    json, out);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return 2;
    }
#else
    if (rules) {
        out << cli::kUdevRules;
        return 0;
    }
    const auto system = cli::CreateLinuxDoctorSystem();
    const cli::SDoctorReport report = cli::RunDoctorChecks(*system);
    if (json) {
        cli::PrintReportJson(report, out);
    } else {
        cli::PrintReport(report, out);
    }
    return report.HasProblems() ? 1 : 0;
#endif
}

} // namespace crenovix::cli
