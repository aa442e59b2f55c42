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

} // namespace crenovix::cli
