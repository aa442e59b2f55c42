// The doctor's view of a Linux machine: plain file-system calls, so that a mocked /sys and /dev
// (in tests) stand in for the real ones unchanged.
#pragma once

#include "doctor/Doctor.h"

#include <memory>
#include <string>

namespace crenovix::doctor {

// `configRoot` stands in for "/" for every path outside the kernel's file systems (/sys, /dev,
// /proc): udev's rule directories and /run/udev, /etc, installed programs. Empty: the machine's
// own. Tests point it at a made-up machine while the devices come from a mocked kernel.
std::unique_ptr<IDoctorSystem> CreateLinuxDoctorSystem(std::string configRoot = {});

} // namespace crenovix::doctor
