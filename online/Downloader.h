// Copying a web resource into a file: the one network operation of the catalogue and the
// download window.
//
// A download blocks until it has ended and answers a signed 32-bit status: negative means it
// failed, zero or positive that the file at the target path now holds the resource. A failure
// also carries the system's text for its status when there is one (shown in the message box) or
// nothing ("No message available."). The Linux implementation is CCurlDownloader
// (online/linux/CurlDownloader.h, which lists its statuses); tests use a fake.
//
// Every implementation must leave an existing file at the target path unchanged when the
// download fails, and leave nothing behind.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace crenovix {

struct SDownloadStatus {
    std::int32_t status = 0;
    std::optional<std::string> text; // the text for a failure's status; nothing: none available
    bool Failed() const { return status < 0; }
};

class IDownloader {
public:
    virtual ~IDownloader() = default;
    // Copies the resource at `url` into the file `path` (relative paths are relative to the
    // current directory), replacing the file. Blocks until done; every wait is bounded.
    virtual SDownloadStatus DownloadToFile(const std::string& url, const std::string& path) = 0;
};

} // namespace crenovix
