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
// download fails, and leave nothing behind: not on a failure, not when the body is larger than
// allowed, not when the caller's check refuses the body, not when the download is cancelled.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace crenovix {

// Statuses every implementation answers for the same reasons, with these texts (their own
// detail may follow on a new line).
namespace download_status {
// More bytes than SDownloadLimits::maxBytes (announced or arrived):
// "The download is larger than <maxBytes> bytes."
inline constexpr std::int32_t kTooLarge = static_cast<std::int32_t>(0x800700DFu);
// The caller's check refused the complete body; the text is the check's.
inline constexpr std::int32_t kRefusedContent = static_cast<std::int32_t>(0x800C0008u);
// The cancel token was set: "The download was cancelled."
inline constexpr std::int32_t kCancelled = static_cast<std::int32_t>(0x80004004u);
} // namespace download_status

std::string TooLargeText(std::size_t maxBytes);
inline constexpr const char* kCancelledText = "The download was cancelled.";

// A stop switch for a download under way, set from any thread (a window that closes, an
// interrupted command). A downloader looks at it at least every kCancelPollMs and then ends
// with kCancelled.
class CCancelToken {
public:
    void Cancel() { cancelled_.store(true); }
    bool Cancelled() const { return cancelled_.load(); }

private:
    std::atomic<bool> cancelled_{false};
};
inline constexpr int kCancelPollMs = 50;

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
    std::size_t maxBytes = 0; // the longest body taken; a longer one fails with kTooLarge
};

// The largest update file, and the most of a catalogue our INI reader reads (online/IniFile.h):
// anything longer is not what was asked for, and is not written to disk past its limit.
inline constexpr std::size_t kMaxUpdateFileBytes = 524288;
inline constexpr std::size_t kMaxCatalogueBytes = 1024 * 1024;

// Catalogue fetches: the windows fetch in the background, and each attempt (primary, second
// server) ends within 2.5 s whatever the server does (silent, trickling or unreachable), so a
// version check or a download window's list is settled within 5 s. The command line waits for
// them. A catalogue is a few kilobytes; 2.5 s carries it even over a slow line.
inline constexpr SDownloadLimits kCatalogueDownloadLimits{
    std::chrono::milliseconds(2500), std::chrono::milliseconds(2500),
    std::chrono::milliseconds(2500), 5, kMaxCatalogueBytes};

// Update files (up to 512 KiB): the window is blocked meanwhile and has no cancel, so a stalled
// server is given up after 10 s without data, and the whole download after 5 minutes.
inline constexpr SDownloadLimits kFileDownloadLimits{
    std::chrono::milliseconds(10000), std::chrono::milliseconds(10000),
    std::chrono::milliseconds(300000), 5, kMaxUpdateFileBytes};

// What a caller may add to one download.
struct SDownloadOptions {
    const CCancelToken* cancel = nullptr; // nothing: runs until done or a limit
    // Judges the complete body, in the new file at `partPath`, before it replaces the target:
    // nothing accepts it, a text refuses it (kRefusedContent with that text).
    std::function<std::optional<std::string>(const std::string& partPath)> check;
};

class IDownloader {
public:
    virtual ~IDownloader() = default;
    // Copies the resource at `url` into the file `path` (relative paths are relative to the
    // current directory), replacing the file. Blocks until done; every wait is bounded.
    virtual SDownloadStatus DownloadToFile(const std::string& url, const std::string& path,
                                           const SDownloadOptions& options) = 0;
    SDownloadStatus DownloadToFile(const std::string& url, const std::string& path) {
        return DownloadToFile(url, path, SDownloadOptions{});
    }
};

} // namespace crenovix
