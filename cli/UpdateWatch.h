// update --watch: the station engine (app/Station.h) in Automatic, fed with the platform's device
// news, each run printed by the reporter as `update` prints its runs, until the user interrupts.
#pragma once

#include "cli/RunAbort.h"
#include "cli/RunReport.h"
#include "platform/Platform.h"

#include <cstdint>
#include <string>

namespace crenovix::cli {

struct SWatch {
    IPlatform& platform;
    const std::string& file;
    const std::string& serial; // only the chargers with this serial number; empty: every one
    CRunReporter& reporter;
    CRunAbort& abort; // over the user's interrupts
    IUpdateLog* log;  // where each run is recorded; nullptr: nowhere
    std::uint32_t seed;
};

struct SWatchOutcome {
    int ok = 0;
    int failed = 0;
    bool aborted = false;  // the second interrupt ended runs under way
    std::string fileError; // the file cannot be used: nothing was watched
};

// Watches until the first interrupt; runs under way then finish, unless a second interrupt
// aborts them.
SWatchOutcome WatchAndUpdate(const SWatch& watch);

} // namespace crenovix::cli
