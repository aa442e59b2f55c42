// The command line's subcommands. Each takes its arguments (after the subcommand's name) and the
// streams to write to, and returns the process exit code.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace crenovix::cli {

using Args = std::span<const std::string>;

// info FILE: the header fields of an update file, or the load error.
int RunInfo(Args args, std::ostream& out, std::ostream& err);

// list [--com]: the device list as the window would show it, one line per row with its port
// name first; "Device not found!" when it is empty. An enumeration error exits with 2.
int RunList(Args args, std::ostream& out, std::ostream& err);

// update [--com] (--port NAME | --simulate hid|serial) FILE: the update run with the console as
// its window. Exit 0 only after "Upgrade completion!" (and, simulated, a matching payload).
int RunUpdate(Args args, std::ostream& out, std::ostream& err);

} // namespace crenovix::cli
