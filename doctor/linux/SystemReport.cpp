#include "doctor/SystemReport.h"

#include "crenovix/UdevRules.h"
#include "doctor/linux/DoctorSystem.h"

namespace crenovix::doctor {

int RunDoctorReport(bool json, bool udevRules, std::ostream& out, std::ostream&) {
    if (udevRules) {
        out << kUdevRules;
        return 0;
    }
    const auto system = CreateLinuxDoctorSystem();
    const SDoctorReport report = RunDoctorChecks(*system);
    if (json) {
        PrintReportJson(report, out);
    } else {
        PrintReport(report, out);
    }
    return report.HasProblems() ? 1 : 0;
}

} // namespace crenovix::doctor
