// The update log's file: appended under a lock, one write per record, flushed to the disk before
// Append returns (see protocol/UpdateLog.h). Opening and the stamp are portable
// (UpdateLogFile.cpp); appending, the host name and what the system says of a path are each
// system's (protocol/linux/UpdateLogFile.cpp: open with O_APPEND, flock, write, fsync;
// protocol/win32/UpdateLogFile.cpp: CreateFileA with FILE_APPEND_DATA, LockFileEx, WriteFile,
// FlushFileBuffers), linked by the platform's library.
#pragma once

#include "protocol/UpdateLog.h"

#include <memory>
#include <optional>
#include <string>

namespace crenovix {

class CUpdateLogFile final : public IUpdateLog {
public:
    // nullptr, with `error` set, when `path` names something that is no file to append to (a
    // directory, a FIFO, a device) or is empty (no data folder known). A missing file and its
    // missing folders are made by the first append (on Linux the file with the mode 0600). A
    // relative path is made absolute here.
    static std::unique_ptr<CUpdateLogFile> Open(const std::string& path, SLogStamp stamp,
                                                std::string& error);

    SLogAppend Append(SUpdateRecord record) override;
    const std::string& Path() const { return path_; }

private:
    CUpdateLogFile(std::string path, SLogStamp stamp)
        : path_(std::move(path)), stamp_(std::move(stamp)) {}
    // `path` made absolute, or nothing with `error` set when the system says it cannot be the
    // log ("the update log '<path>' is a directory").
    static std::optional<std::string> Checked(const std::string& path, std::string& error);

    std::string path_;
    SLogStamp stamp_;
};

// This computer's name, this program's version and the system's wall clock.
SLogStamp SystemLogStamp();
// This computer's name as its system gives it ("" when it gives none).
std::string LogHostName();

// Linux: $XDG_DATA_HOME/crenovix/updates.jsonl, else ~/.local/share/crenovix/updates.jsonl;
// Windows: %LOCALAPPDATA%\Crenovix\updates.jsonl.
std::string DefaultUpdateLogPath();

} // namespace crenovix
