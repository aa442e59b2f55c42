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

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace crenovix {

struct SDownloadStatus {
    std::int32_t status = 0;
    std::optional<std::string> text; // the text for a failure's status; nothing: none available
    bool Failed() const { return status < 0; }
};

// How long a download may take. A platform whose download call has no separate connection limit
// lets the silence limit cover connecting.
struct SDownloadLimits {
    std::chrono::milliseconds connect; // name resolution and connection (TLS included)
    std::chrono::milliseconds silence; // longest time without a byte from the server, from start
    std::chrono::milliseconds total;   // the whole download
    long maxRedirects = 5;
};

// Catalogue fetches: start-up waits for both attempts (primary, second server) before the main
// window shows, so each attempt ends within 2.5 s whatever the server does (silent, trickling
// or unreachable), and the window shows within 6 s with a second to spare. A catalogue is a few
// kilobytes; 2.5 s carries it even over a slow line.
inline constexpr SDownloadLimits kCatalogueDownloadLimits{std::chrono::milliseconds(2500),
                                                          std::chrono::milliseconds(2500),
                                                          std::chrono::milliseconds(2500), 5};

// Update files (up to 512 KiB): the window is blocked meanwhile and has no cancel, so a stalled
// server is given up after 10 s without data, and the whole download after 5 minutes.
inline constexpr SDownloadLimits kFileDownloadLimits{std::chrono::milliseconds(10000),
                                                     std::chrono::milliseconds(10000),
                                                     std::chrono::milliseconds(300000), 5};

// Only web addresses are fetched or opened: "http://..." or "https://..." (scheme in any letter
// case, something after it). A catalogue entry naming file: or another scheme could otherwise
// copy local files or start programs.
bool IsWebAddress(std::string_view url);

class IDownloader {
public:
    virtual ~IDownloader() = default;
    // Copies the resource at `url` into the file `path` (relative paths are relative to the
    // current directory), replacing the file. Blocks until done; every wait is bounded.
    virtual SDownloadStatus DownloadToFile(const std::string& url, const std::string& path) = 0;
};

} // namespace crenovix
