#include "protocol/UpdateLog.h"

#include "protocol/UpdateRun.h"
#include "text/Json.h"

#include <cstdio>
#include <string_view>

namespace crenovix {

std::string RunMessageOf(const SRunResult& result) {
    return result.outcome == ERunOutcome::FileEmpty ? kFileEmptyText
           : result.bBox                            ? result.boxText
                                                    : result.errorLine;
}

SUpdateRecord UpdateRecordOf(const SRunJob& job, const SRunResult& result,
                             std::uint32_t elapsedMs) {
    SUpdateRecord record;
    record.port = result.target.strPort;
    record.type = result.target.strType;
    record.serial = result.target.strSerial;
    record.file = job.path;
    record.fileVersion = result.strVersion;
    record.fileSha256 = result.fileSha256;
    record.ok = result.Ok();
    record.code = result.Code();
    record.message = RunMessageOf(result);
    record.elapsedMs = elapsedMs;
    return record;
}

std::string UpdateLogLine(const SUpdateRecord& record) {
    return CJsonObject()
        .Add("time", record.time)
        .Add("program_version", record.programVersion)
        .Add("host", record.host)
        .Add("port", record.port)
        .Add("type", record.type)
        .Add("serial", record.serial)
        .Add("file", record.file)
        .Add("file_version", record.fileVersion)
        .Add("file_sha256", record.fileSha256)
        .Add("ok", record.ok)
        .Add("code", std::int64_t{record.code})
        .Add("message", record.message)
        .Add("elapsed_ms", std::int64_t{record.elapsedMs})
        .Text();
}

std::string UpdateLogAppendText(SUpdateRecord record, const SLogStamp& stamp,
                                bool fileEndsInsideALine) {
    record.time = IsoUtcTime(stamp.unixMs ? stamp.unixMs() : 0);
    record.host = stamp.host;
    record.programVersion = stamp.programVersion;
    // Appended, not concatenated: g++ 12 at -O3 takes `"\n" + std::string` for an overlap.
    std::string text = fileEndsInsideALine ? "\n" : "";
    text.append(UpdateLogLine(record)).append("\n");
    return text;
}

std::string IsoUtcTime(std::int64_t unixMs) {
    // Days to a civil date in the proleptic Gregorian calendar (H. Hinnant's algorithm).
    const std::int64_t ms = ((unixMs % 86'400'000) + 86'400'000) % 86'400'000;
    std::int64_t days = (unixMs - ms) / 86'400'000 + 719'468;
    const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const std::int64_t dayOfEra = days - era * 146'097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[128];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(ms / 3'600'000),
                  static_cast<long long>(ms / 60'000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string LogFailureText(const std::string& reason) {
    return std::string("The update log could not be written: ").append(reason);
}

std::string LinuxDefaultLogPath(const char* dataHome, const char* home) {
    // The XDG rule: a relative $XDG_DATA_HOME is invalid and ignored.
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::string(dataHome) + "/crenovix/updates.jsonl";
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/share/crenovix/updates.jsonl";
    }
    return "";
}

std::string WindowsDefaultLogPath(const char* localAppData) {
    if (localAppData == nullptr || localAppData[0] == '\0') {
        return "";
    }
    return std::string(localAppData) + "\\Crenovix\\updates.jsonl";
}

} // namespace crenovix
