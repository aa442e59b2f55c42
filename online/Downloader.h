// Copying a web resource into a file: the one network operation of the catalogue and the
// download window.
//
// A download blocks until it has ended and answers a signed 32-bit status: negative means it
// failed, zero or positive that the file at the target path now holds the resource. A failure
// also carries the system's text for its status when there is one (shown in the message box) or
// nothing ("No message available."). The statuses are those of online/DownloadStatus.h. The
// implementations are CCurlDownloader (online/linux/CurlDownloader.h) and CUrlMonDownloader
// (online/win32/UrlMonDownloader.h), each listing its statuses; tests use a fake.
//
// Every implementation must leave an existing file at the target path unchanged when the
// download fails, and leave nothing behind: not on a failure, not when the body is larger than
// allowed, not when the caller's check refuses the body, not when the download is cancelled.
// Both write into a part file beside the target that replaces it only at the end
// (online/PartFile.h).
#pragma once

#include "online/DownloadStatus.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace crenovix {

// A stop switch for a download under way, set from any thread (a window that closes, an
// interrupted command). A downloader looks at it at least every kCancelPollMs and then ends
// with kCancelled.
class CCancelToken {
public:
    CCancelToken() = default;
    // A token that is also set while either of these is (each may be nothing): a window's
    // download that the window and the command line's interrupt can both stop.
    CCancelToken(const CCancelToken* first, const CCancelToken* second)
        : first_(first), second_(second) {}
    CCancelToken(const CCancelToken&) = delete;
    CCancelToken& operator=(const CCancelToken&) = delete;

    void Cancel() { cancelled_.store(true); }
    bool Cancelled() const {
        return cancelled_.load() || (first_ != nullptr && first_->Cancelled()) ||
               (second_ != nullptr && second_->Cancelled());
    }

private:
    std::atomic<bool> cancelled_{false};
    const CCancelToken* first_ = nullptr;
    const CCancelToken* second_ = nullptr;
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

// Update files (up to 512 KiB): the download window saves them on a worker thread and can cancel
// them; the command line waits. A stalled server is given up after 10 s without data, and the
// whole download after 5 minutes.
inline constexpr SDownloadLimits kFileDownloadLimits{
    std::chrono::milliseconds(10000), std::chrono::milliseconds(10000),
    std::chrono::milliseconds(300000), 5, kMaxUpdateFileBytes};

// A download's progress: the bytes of the body so far and, when the server announced it, the
// whole size. Called on the downloader's thread.
using DownloadProgress =
    std::function<void(std::size_t received, std::optional<std::size_t> total)>;
inline constexpr int kProgressIntervalMs = 50;

// What a caller may add to one download.
struct SDownloadOptions {
    const CCancelToken* cancel = nullptr; // nothing: runs until done or a limit
    // Told of the progress at most once per kProgressIntervalMs, and always of a body that has
    // arrived whole (CProgressReports); nothing: not told.
    DownloadProgress progress;
    // Judges the complete body, in the new file at `partPath`, before it replaces the target:
    // nothing accepts it, a text refuses it (kRefusedContent with that text).
    std::function<std::optional<std::string>(const std::string& partPath)> check;
};

// The progress reports of one download, bounded in rate: a count that grew is handed on when
// kProgressIntervalMs have passed since the last report, or when it reaches the announced size.
// The time comes from the downloader, which reads its clock anyway.
class CProgressReports {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    explicit CProgressReports(DownloadProgress report) : report_(std::move(report)) {}

    void Update(std::size_t received, std::optional<std::size_t> total, TimePoint now) {
        if (!report_ || received <= reported_) {
            return;
        }
        const bool whole = total && received >= *total;
        if (!whole && last_ && now - *last_ < std::chrono::milliseconds(kProgressIntervalMs)) {
            return;
        }
        reported_ = received;
        last_ = now;
        report_(received, total);
    }

private:
    DownloadProgress report_;
    std::size_t reported_ = 0;
    std::optional<TimePoint> last_;
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
