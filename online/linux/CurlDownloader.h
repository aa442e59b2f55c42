// CCurlDownloader: IDownloader on libcurl, blocking, with bounded waits.
//
// The resource goes into the part file beside the target (online/PartFile.h); only when the
// whole resource has arrived is that file flushed to disk and renamed over the target, keeping an
// existing target's permissions. On any failure the new file is removed and an existing target
// is left untouched.
//
// Network behaviour: http and https only (also after redirects, so a catalogue cannot make us
// read local files or other protocols), redirects followed up to SDownloadLimits::maxRedirects,
// proxies from the environment (http_proxy, https_proxy, all_proxy, no_proxy, as libcurl reads
// them), HTTP answers of 400 and above are failures, nothing is cached.
//
// Statuses: 0 on success. Failures use the numbers of online/DownloadStatus.h, those of the
// Windows download call's code family for the same kind of failure. The text is ours (quoted
// below), followed on a new line by libcurl's or the system's detail when there is one.
//
//   0x800C0002  URL empty, malformed, or not http/https (CURLE_URL_MALFORMAT,
//               CURLE_UNSUPPORTED_PROTOCOL): "The address is not a valid web address."
//   0x800C0005  host or proxy name unknown (CURLE_COULDNT_RESOLVE_HOST, _PROXY):
//               "The server's name could not be resolved."
//   0x800C0004  connection refused or unreachable (CURLE_COULDNT_CONNECT):
//               "The server could not be connected."
//   0x800C000B  a limit of SDownloadLimits ran out (CURLE_OPERATION_TIMEDOUT, our silence and
//               total limits): "The server did not answer in time."
//   0x800C0006  HTTP 404 or 410: "The server does not have this file (HTTP n)."
//   0x800C0009  HTTP 401 or 407: "The server asks for a log-in (HTTP n)."
//   0x800C0008  any other HTTP answer of 400 and above:
//               "The server refused the download (HTTP n)."
//               (these three from kHttpAnswerRules)
//   0x800C0014  more redirects than allowed (CURLE_TOO_MANY_REDIRECTS):
//               "The server redirected too often."
//   0x800C000E  TLS failures (CURLE_SSL_*, CURLE_PEER_FAILED_VERIFICATION):
//               "The secure connection failed."
//   0x800C0008  the transfer broke off, and every other libcurl error (CURLE_PARTIAL_FILE,
//               CURLE_RECV_ERROR, CURLE_GOT_NOTHING, ...): "The download broke off."
//   0x800700DF  the body is longer than SDownloadLimits::maxBytes, announced or counted
//               (download_status::kTooLarge): "The download is larger than n bytes."
//   0x800C0008  the caller's check refused the body: the check's text
//   0x80004004  the cancel token was set: "The download was cancelled."
//   0x8007000E  out of memory (CURLE_OUT_OF_MEMORY, ENOMEM): "Not enough memory."
//   0x80070003  target path empty, naming no file, or its folder missing (ENOENT, ENOTDIR,
//               ENAMETOOLONG): "The folder to save the file in was not found."
//   0x80070005  the file cannot be written there (EACCES, EPERM, EROFS, EISDIR; the path is a
//               folder): "Access to the file was denied."
//   0x80070070  disk full (ENOSPC, EDQUOT): "There is not enough space on the disk."
//   0x80004005  any other file error: "The file could not be written."
#pragma once

#include "online/Downloader.h"

namespace crenovix {

class CCurlDownloader final : public IDownloader {
public:
    explicit CCurlDownloader(const SDownloadLimits& limits);
    using IDownloader::DownloadToFile;
    SDownloadStatus DownloadToFile(const std::string& url, const std::string& path,
                                   const SDownloadOptions& options) override;

private:
    SDownloadLimits limits_;
};

// The status of a file error (errno) as listed above, its text followed by "<detail>: <the
// system's text>"; also for the catalogue's temporary files (online/linux/PosixTempFiles.h).
SDownloadStatus PosixFileFailure(int error, const std::string& detail);

} // namespace crenovix
