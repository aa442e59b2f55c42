// The doctor's view of a Linux machine: plain file-system calls, so that a mocked /sys and /dev
// (in tests) stand in for the real ones unchanged.
#pragma once

#include "cli/Doctor.h"

#include <memory>

namespace crenovix::doctor {

std::unique_ptr<IDoctorSystem> CreateLinuxDoctorSystem();

} // namespace crenovix::doctor
