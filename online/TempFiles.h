// Private temporary files: where a fetched catalogue waits to be read.
//
// Each fetch gets a file of its own in the system's folder for temporary files, created
// exclusively under a new name, so that fetches at the same time (two commands in one folder,
// the window's start-up check beside its download window) never share one, a user's file is
// never touched and the current directory need not be writable. The platform makes them
// (CPosixTempFiles in online/linux/, CWin32TempFiles in online/win32/); tests use a fake.
#pragma once

#include "online/Downloader.h"

#include <string>

namespace crenovix {

class ITempFiles {
public:
    virtual ~ITempFiles() = default;
    // Creates a new, empty file that no other file had the name of, readable and writable by
    // this user only, in the system's folder for temporary files; `path` gets its full path.
    // A failure carries the status and text of the file error (online/DownloadStatus.h) and
    // leaves nothing behind. Called from any thread.
    virtual SDownloadStatus Create(std::string& path) = 0;
    // Deletes a file Create made; there is nothing left to do when that fails. Any thread.
    virtual void Remove(const std::string& path) = 0;
};

} // namespace crenovix
