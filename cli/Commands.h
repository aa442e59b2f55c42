// The command line's subcommands. Each takes its arguments (after the subcommand's name) and the
// streams to write to, and returns the process exit code.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace crenovix::cli {

using Args = std::span<const std::string>;

// The exit codes, the same for every command.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailed = 1;    // the update (or one of several), or the command, failed
inline constexpr int kExitUsage = 2;     // bad arguments, or the device list could not be read
inline constexpr int kExitNoCharger = 3; // no charger (or not the one asked for) was found
inline constexpr int kExitInterrupted = 130;

// info [--json] FILE: the header fields of an update file, or the load error.
int RunInfo(Args args, std::ostream& out, std::ostream& err);

// list [--com] [--json]: the device list as the window would show it, one line per row with its
// port name first; "Device not found!" (exit 3) when it is empty. An enumeration error exits
// with 2.
int RunList(Args args, std::ostream& out, std::ostream& err);

// update [--com] (--port NAME | --serial SN | --all | --simulate LIST) [--json] [--record FILE]
// FILE: update runs with the console as their window, one per charger, concurrently. Exit 0
// only when every run ended with "Upgrade completion!" (and, simulated, a matching payload).
// update --watch [--serial SN] [--simulate LIST] [--json] FILE: the station (app/Station.h) in
// Automatic until an interrupt; each charger is updated once as it appears. Exit as above.
int RunUpdate(Args args, std::ostream& out, std::ostream& err);

// replay TRACE FILE: the dialogue of the trace's first run against a charger that answers from
// the trace; exit 1 at the first write that differs from the recorded one.
int RunReplay(Args args, std::ostream& out, std::ostream& err);

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
