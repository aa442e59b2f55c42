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

// catalogue: fetches the catalogue once and prints "Newer version: <Ver> <URL>" or "No newer
// version", then one line per entry with its six columns separated by tabs. Exit 1 with the
// "Connecting server failed." message on standard error when both servers fail.
int RunCatalogue(Args args, std::ostream& out, std::ostream& err);

// download INDEX PATH: the download window's Download for entry INDEX (from 0) with PATH typed
// into the save-as box; prints the saved path. Exit 1 with the window's message on standard
// error when the catalogue or the download fails or there is no entry INDEX.
int RunDownload(Args args, std::ostream& out, std::ostream& err);

// doctor [--json | --udev-rules]: why chargers may not be found or opened on this machine, each
// problem with the command that fixes it. Exit 0 when nothing is wrong, 1 otherwise.
// --udev-rules prints the rules for chargers, for installing them.
int RunDoctor(Args args, std::ostream& out, std::ostream& err);

} // namespace crenovix::cli
