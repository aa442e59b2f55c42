// CUrlMonDownloader: IDownloader on the system's URL download call (URLDownloadToFileA),
// blocking, with bounded waits.
//
// The resource goes into the part file beside the target (online/PartFile.h); only when the
// download call has succeeded and the server's answer was not an error is that file moved over
// the target (MoveFileExA, replacing it). On any failure the new file is deleted and an existing
// target is left untouched.
//
// Network behaviour: http and https only, checked before the call and on every redirect the
// system reports; nothing is taken from or written to the download cache; HTTP answers of 400
// and above are failures. The download call has no time-outs of its own that we can set, so a
// watch thread aborts the binding when the server has been silent, or the whole download has
// taken, longer than the limits allow.
//
// A body longer than SDownloadLimits::maxBytes is stopped when the progress reports pass it (or
// announce more), and checked once more by the finished file's size; the cancel token is looked
// at by the watch thread every kCancelPollMs and by each progress report, which also goes on to
// the caller's progress callback (SDownloadOptions::progress), bounded in rate. Both, and the
// caller's check of the complete body, end with the shared statuses and texts of
// online/DownloadStatus.h.
//
// Statuses are the download call's HRESULTs, negative on failure; our own checks use the numbers
// of online/DownloadStatus.h, the same family (the Linux downloader uses them for the same kinds
// of failure):
//   0x800C0002  URL empty or not http/https (INET_E_INVALID_URL)
//   0x800C000B  a limit of SDownloadLimits ran out, connecting counting as silence
//               (INET_E_CONNECTION_TIMEOUT)
//   0x800C0006  HTTP 404 or 410 (INET_E_OBJECT_NOT_FOUND)
//   0x800C0009  HTTP 401 or 407 (INET_E_AUTHENTICATION_REQUIRED)
//   0x800C0008  any other HTTP answer of 400 and above (INET_E_DOWNLOAD_FAILURE)
//   0x800C0014  a redirect to another scheme, one the system did not follow (the final answer
//               is 3xx), or more redirects than allowed (INET_E_REDIRECT_FAILED)
//               (the HTTP answers by kHttpAnswerRules)
//   0x80070003  target path empty or naming no file (ERROR_PATH_NOT_FOUND)
//   0x80070005  the target is a folder (ERROR_ACCESS_DENIED)
//   0x8007xxxx  creating or moving the file failed: the system error of that step
// The text is the system's (FormatMessageA), or nothing when the system has none.
#pragma once

#include "online/Downloader.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace crenovix {

class CUrlMonDownloader final : public IDownloader {
public:
    explicit CUrlMonDownloader(const SDownloadLimits& limits) : limits_(limits) {}
    using IDownloader::DownloadToFile;
    SDownloadStatus DownloadToFile(const std::string& url, const std::string& path,
                                   const SDownloadOptions& options) override;

private:
    SDownloadLimits limits_;
};

// The system's text for a status (FormatMessageA, user's default language), without its line
// end; for an HRESULT of a Win32 error, the text of that error. Nothing when there is none.
std::optional<std::string> SystemMessageText(std::int32_t status);

} // namespace crenovix
