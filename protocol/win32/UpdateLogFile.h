// The update log on Windows: a file opened for appending only and locked, one write per record,
// flushed to the disk before Append returns (see protocol/UpdateLog.h).
#pragma once

#include "protocol/UpdateLog.h"

#include <memory>
#include <string>

namespace crenovix {

class CUpdateLogFile final : public IUpdateLog {
public:
    // nullptr, with `error` set, when `path` names something that is no file to append to (a
    // directory, a FIFO, a device). A missing file and its missing folders are made by the first
    // append.
    static std::unique_ptr<CUpdateLogFile> Open(const std::string& path, SLogStamp stamp,
                                                std::string& error);

    SLogAppend Append(SUpdateRecord record) override;
    const std::string& Path() const { return path_; }

private:
    CUpdateLogFile(std::string path, SLogStamp stamp)
        : path_(std::move(path)), stamp_(std::move(stamp)) {}

    std::string path_;
    SLogStamp stamp_;
};

// This computer's name, this program's version and the system's wall clock.
SLogStamp SystemLogStamp();

// %LOCALAPPDATA%\Crenovix\updates.jsonl.
std::string DefaultUpdateLogPath();

} // namespace crenovix
