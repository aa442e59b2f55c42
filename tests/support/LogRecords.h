// Records for the update log files' tests on both systems: fixed stamps, records of a chosen size
// and the file read back whole.
#pragma once

#include "protocol/UpdateLog.h"

#include <fstream>
#include <sstream>
#include <string>

namespace crenovix::testsupport {

inline const SLogStamp kLogStamp{"bench", "V9.9", [] { return std::int64_t{1'700'000'000'000}; }};

// A record whose message is `size` copies of `mark`: large records make a torn or interleaved
// write likely if the locking or the single write were missing.
inline SUpdateRecord LogRecord(char mark, std::size_t size) {
    SUpdateRecord record;
    record.port = "HID1";
    record.message.assign(size, mark);
    return record;
}

// The line LogRecord(mark, size) becomes, with its line end; the mark is found again at
// MarkOfLine.
inline std::string LogLineOf(char mark, std::size_t size) {
    return UpdateLogAppendText(LogRecord(mark, size), kLogStamp, false);
}
inline char MarkOfLine(const std::string& line) {
    constexpr std::size_t kFromEnd = 25; // inside the message, before `", "elapsed_ms": 0}`
    return line.size() > kFromEnd ? line[line.size() - kFromEnd] : '?';
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace crenovix::testsupport
