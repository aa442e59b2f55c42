// crenovix-mock-doctor ROOT: the doctor's checks and report as `crenovix-cli doctor` prints them,
// with the machine's configuration (udev's rule directories and /run/udev, /etc, installed
// programs) read under ROOT and the devices from the kernel, mocked under crenovix-mock-kernel.
// Exits 0 when nothing is wrong, 1 otherwise, 2 for a usage error.
#include "doctor/linux/DoctorSystem.h"

#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: crenovix-mock-doctor ROOT\n";
        return 2;
    }
    const auto system = crenovix::doctor::CreateLinuxDoctorSystem(argv[1]);
    const crenovix::doctor::SDoctorReport report = crenovix::doctor::RunDoctorChecks(*system);
    crenovix::doctor::PrintReport(report, std::cout);
    return report.HasProblems() ? 1 : 0;
}
