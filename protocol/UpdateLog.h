// The update log: one JSON line per update run, appended to a file that outlives the program, so
// that a service centre can tell afterwards which charger got which file, when and with what
// result.
//
// RunUpdate appends the record when its job names a log (SRunJob::log), after the port is closed
// and before the result goes back, so every front end keeps the log by setting that pointer. The
// record and its line are portable; IUpdateLog is the file, one adapter per system
// (CUpdateLogFile, protocol/UpdateLogFile.h), each appending a line with
// one locked write and flushing it to the disk before Append returns. The time, the host name
// and the program version are the adapter's: the portable code reads no real clock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace crenovix {

struct SRunResult;
struct SRunJob;

// One run as the log keeps it.
struct SUpdateRecord {
    std::string time;           // UTC, ISO 8601 with milliseconds: "2026-12-08T17:14:47.123Z"
    std::string programVersion; // this program's
    std::string host;           // the computer's name
    std::string port;           // the charger's port, type and serial number as the list had them
    std::string type;
    std::string serial;
    std::string file;        // the update file's path as the run was given it
    std::string fileVersion; // from its header, once it loaded
    std::string fileSha256;  // of the bytes the run loaded, lower-case hex; empty when none
    bool ok = false;         // only for "Upgrade completion!" (and checks the front end made)
    int code = -1;           // 0 success; the HID error number 1001 to 1009; -1 otherwise
    std::string message;     // the box's text, else the error line's, else why the run ended
    std::uint32_t elapsedMs = 0;
};

// What an append came to: nothing to say, or why the record was not kept.
struct SLogAppend {
    bool ok = true;
    std::string error; // for people: "cannot open /x/updates.jsonl: Permission denied"
};

class IUpdateLog {
public:
    virtual ~IUpdateLog() = default;
    // Stamps the record with the time, the host and the program version, and appends it as one
    // line. Returns once the line is on the disk, or with the reason it is not; never throws.
    virtual SLogAppend Append(SUpdateRecord record) = 0;
};

// What an adapter stamps each record with: the computer's name, the program's version and the
// wall clock (milliseconds since 1970-01-01 UTC). Tests give fixed ones.
struct SLogStamp {
    std::string host;
    std::string programVersion;
    std::function<std::int64_t()> unixMs;
};

// The bytes one append writes: the record stamped and as a line, after a line end of its own when
// the file so far does not end with one (a record a power cut cut short), so that one damaged
// line never swallows the next.
std::string UpdateLogAppendText(SUpdateRecord record, const SLogStamp& stamp,
                                bool fileEndsInsideALine);

// The record of a run's result (port, type, serial number, file version, SHA-256, ok, code,
// message) for the job's file, `elapsedMs` long; time, host and version are left to the log.
SUpdateRecord UpdateRecordOf(const SRunJob& job, const SRunResult& result, std::uint32_t elapsedMs);

// What a result says for people and scripts: the box's text, else the error line's, else
// kFileEmptyText for a run that ended quietly on an empty file.
std::string RunMessageOf(const SRunResult& result);
inline constexpr const char* kFileEmptyText = "The file is empty.";

// The record as one JSON object, without a line end; every text escaped (text/Json.h), so a
// file name or a device text can never start another line.
std::string UpdateLogLine(const SUpdateRecord& record);

// `unixMs` (milliseconds since 1970-01-01 UTC) as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string IsoUtcTime(std::int64_t unixMs);

// The text a run's ending says about a log it could not write: "The update log could not be
// written: <reason>". The update's own result stands.
std::string LogFailureText(const std::string& reason);

// The file's place when the user chose none: the user's data folder. `home` and `dataHome` are
// $HOME and $XDG_DATA_HOME (Linux), `localAppData` is %LOCALAPPDATA% (Windows). Empty when the
// system names no such folder.
std::string LinuxDefaultLogPath(const char* dataHome, const char* home);
std::string WindowsDefaultLogPath(const char* localAppData);

} // namespace crenovix
