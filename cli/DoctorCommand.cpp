#include "cli/Commands.h"
#include "doctor/SystemReport.h"

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
    return doctor::RunDoctorReport(json, rules, out, err);
}

} // namespace crenovix::cli
