// Traces read back for `replay`: the first run a trace (protocol/Trace.h) holds.
#pragma once

#include "protocol/Trace.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::cli {

// One run read back from a trace: the first run it holds.
struct STraceEvent {
    bool out = false;
    bool discard = false; // waiting input was dropped here
    std::vector<std::uint8_t> bytes;
    int line = 0; // in the trace file, from 1
};
struct STraceRun {
    std::string port;
    std::string type;
    std::string serial;
    std::uint32_t nonceSeed = 0;
    std::vector<STraceEvent> events;
};

// Nothing, with `error` set, when the file cannot be read (only a regular file of at most
// kMaxTraceBytes is) or holds no run.
inline constexpr std::size_t kMaxTraceBytes = 64 * 1024 * 1024; // a whole 512 KiB file is ~10 MiB
std::optional<STraceRun> ReadTrace(const std::string& path, std::string& error);

} // namespace crenovix::cli
