#include "online/linux/CurlDownloader.h"

#include "online/PartFile.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace crenovix {

namespace {

using Clock = std::chrono::steady_clock;
namespace status = download_status;

void EnsureCurlInitialised() {
    // Once per process, before the first handle; libcurl would otherwise do it lazily and not
    // thread-safely.
    static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)initialised;
}

SDownloadStatus Failure(std::int32_t code, const std::string& text, const std::string& detail) {
    return {code, detail.empty() ? text : text + "\n" + detail};
}

SDownloadStatus CurlFailure(CURLcode code, long httpCode, const std::string& detail) {
    switch (code) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return Failure(status::kInvalidUrl, "The address is not a valid web address.", detail);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Failure(status::kNameNotResolved, "The server's name could not be resolved.",
                       detail);
    case CURLE_COULDNT_CONNECT:
        return Failure(status::kCannotConnect, "The server could not be connected.", detail);
    case CURLE_OPERATION_TIMEDOUT:
        return Failure(status::kTimedOut, "The server did not answer in time.", detail);
    case CURLE_TOO_MANY_REDIRECTS:
        return Failure(status::kRedirectFailed, "The server redirected too often.", detail);
    case CURLE_OUT_OF_MEMORY:
        return Failure(status::kOutOfMemory, "Not enough memory.", detail);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return Failure(status::kSecurityProblem, "The secure connection failed.", detail);
    case CURLE_HTTP_RETURNED_ERROR: {
        // libcurl fails answers of 400 and above only: the rules of that range apply.
        const SHttpAnswerRule& rule = *FindHttpAnswerRule(std::max(httpCode, 400L));
        return Failure(rule.status, HttpAnswerText(rule, httpCode), "");
    }
    default:
        return Failure(status::kDownloadFailure, "The download broke off.", detail);
    }
}

// The part file's calls: the file stays open for the transfer's writes until it is renamed.
class CPosixPartFiles final : public IPartFileSystem {
public:
    CPosixPartFiles() = default;
    CPosixPartFiles(const CPosixPartFiles&) = delete;
    CPosixPartFiles& operator=(const CPosixPartFiles&) = delete;
    ~CPosixPartFiles() override { CloseFile(); }

    int Fd() const { return fd_; }

    std::uint32_t CreateNew(const std::string& path) override {
        // 0666 before the umask: the same permissions a newly written file would get.
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd_ >= 0 ? 0 : static_cast<std::uint32_t>(errno);
    }
    bool NameTaken(std::uint32_t error) const override { return error == EEXIST; }
    std::uint32_t Replace(const std::string& path, const std::string& target) override {
        if (::fsync(fd_) != 0) {
            return static_cast<std::uint32_t>(errno);
        }
        if (CloseFile() != 0) {
            return static_cast<std::uint32_t>(errno);
        }
        if (::rename(path.c_str(), target.c_str()) != 0) {
            return static_cast<std::uint32_t>(errno);
        }
        return 0;
    }
    void Remove(const std::string& path) override {
        CloseFile();
        ::unlink(path.c_str());
    }
    SDownloadStatus FileFailure(std::uint32_t error, const std::string& target) const override {
        return PosixFileFailure(static_cast<int>(error), target);
    }

private:
    int CloseFile() {
        const int closed = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return closed;
    }

    int fd_ = -1;
};

struct STransfer {
    int fd = -1;
    int writeError = 0;
    std::size_t received = 0;
    std::size_t maxBytes = 0;
    bool tooLarge = false;
    Clock::time_point lastActivity;
    char errorBuffer[CURL_ERROR_SIZE] = {};
};

// How the transfer loop ended: libcurl's result, one of our bounds, or the cancel token.
struct STransferEnd {
    std::optional<CURLcode> result;
    std::string timeout; // which limit ran out; empty: none
    bool cancelled = false;
    long httpCode = 0;
};

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<STransfer*>(user);
    transfer->lastActivity = Clock::now();
    const std::size_t total = size * count;
    // A body without an announced size (chunked, or one that lies) is counted as it arrives.
    if (transfer->maxBytes != 0 && total > transfer->maxBytes - transfer->received) {
        transfer->tooLarge = true;
        return 0; // makes libcurl stop with CURLE_WRITE_ERROR
    }
    transfer->received += total;
    std::size_t written = 0;
    while (written < total) {
        const ssize_t n = ::write(transfer->fd, data + written, total - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            transfer->writeError = errno;
            return 0; // makes libcurl stop with CURLE_WRITE_ERROR
        }
        written += static_cast<std::size_t>(n);
    }
    return total;
}

std::size_t TakeHeader(char*, std::size_t size, std::size_t count, void* user) {
    static_cast<STransfer*>(user)->lastActivity = Clock::now();
    return size * count;
}

struct SEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct SMultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

} // namespace

SDownloadStatus PosixFileFailure(int error, const std::string& detail) {
    const std::string withReason = detail + ": " + std::strerror(error);
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
        return Failure(status::kPathNotFound, "The folder to save the file in was not found.",
                       withReason);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return Failure(status::kAccessDenied, "Access to the file was denied.", withReason);
    case ENOSPC:
    case EDQUOT:
        return Failure(status::kDiskFull, "There is not enough space on the disk.", withReason);
    case ENOMEM:
        return Failure(status::kOutOfMemory, "Not enough memory.", withReason);
    default:
        return Failure(status::kFileError, "The file could not be written.", withReason);
    }
}

namespace {

// Step 1: the target is checked and the part file made beside it, with the permissions of a
// file it replaces.
std::optional<SDownloadStatus> OpenPartFile(const std::string& url, const std::string& path,
                                            CPosixPartFiles& files, CPartFile& part) {
    if (url.empty()) {
        return Failure(status::kInvalidUrl, "The address is not a valid web address.",
                       "the address is empty");
    }
    const std::filesystem::path target(path);
    if (path.empty() || !target.has_filename()) {
        return Failure(status::kPathNotFound, "The folder to save the file in was not found.",
                       path.empty() ? "the file path is empty" : path + ": names no file");
    }
    struct stat existing {};
    const bool targetExists = ::stat(path.c_str(), &existing) == 0;
    if (targetExists && S_ISDIR(existing.st_mode)) {
        return PosixFileFailure(EISDIR, path);
    }
    if (std::optional<SDownloadStatus> failure = part.Create(path)) {
        return failure;
    }
    if (targetExists && S_ISREG(existing.st_mode)) {
        ::fchmod(files.Fd(), existing.st_mode & 07777); // the replaced file's permissions stay
    }
    return std::nullopt;
}

// Step 2: the transfer's options: web addresses only, bounded redirects and size, our writes.
void SetUpTransfer(CURL* handle, const std::string& url, const SDownloadLimits& limits,
                   STransfer& transfer) {
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, transfer.errorBuffer);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS,
                     static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS,
                     static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count()));
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Crenovix");
    if (limits.maxBytes != 0) { // an announced size beyond the limit ends it before the body
        curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(limits.maxBytes));
    }
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, TakeHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
}

// The body's size as the answer announced it, if it did.
std::optional<std::size_t> AnnouncedSize(CURL* handle) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(length);
}

// Step 3: the transfer, driven here rather than by curl_easy_perform, so that the silence and
// total limits end the download to the millisecond instead of at libcurl's once-a-second speed
// checks, and the cancel token and the progress reports are looked at every kCancelPollMs.
STransferEnd RunTransfer(CURLM* multi, CURL* handle, const SDownloadLimits& limits,
                         STransfer& transfer, const SDownloadOptions& options) {
    curl_multi_add_handle(multi, handle);
    const Clock::time_point start = Clock::now();
    transfer.lastActivity = start;
    CProgressReports reports(options.progress);
    STransferEnd end;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            end.result = CURLE_OUT_OF_MEMORY;
            break;
        }
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                end.result = message->data.result;
            }
        }
        const Clock::time_point now = Clock::now();
        reports.Update(transfer.received, AnnouncedSize(handle), now);
        if (end.result || running == 0) {
            break;
        }
        if (options.cancel != nullptr && options.cancel->Cancelled()) {
            end.cancelled = true;
            break;
        }
        const Clock::time_point totalEnd = start + limits.total;
        const Clock::time_point silenceEnd = transfer.lastActivity + limits.silence;
        if (now >= totalEnd) {
            end.timeout =
                "the download took longer than " + std::to_string(limits.total.count()) + " ms";
            break;
        }
        if (now >= silenceEnd) {
            end.timeout =
                "no answer from the server for " + std::to_string(limits.silence.count()) + " ms";
            break;
        }
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(std::min(totalEnd, silenceEnd) - now);
        curl_multi_poll(multi, nullptr, 0,
                        static_cast<int>(std::clamp<long long>(wait.count(), 1, kCancelPollMs)),
                        nullptr);
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &end.httpCode);
    curl_multi_remove_handle(multi, handle);
    return end;
}

// Step 4: whether what arrived is the whole resource asked for; nothing when it is.
std::optional<SDownloadStatus> CheckBody(const STransferEnd& end, const STransfer& transfer,
                                         const SDownloadLimits& limits, const std::string& path) {
    if (end.cancelled) {
        return SDownloadStatus{status::kCancelled, kCancelledText};
    }
    if (!end.timeout.empty()) {
        return CurlFailure(CURLE_OPERATION_TIMEDOUT, end.httpCode, end.timeout);
    }
    if (transfer.tooLarge || end.result == CURLE_FILESIZE_EXCEEDED) {
        return SDownloadStatus{status::kTooLarge, TooLargeText(limits.maxBytes)};
    }
    if (!end.result) {
        return CurlFailure(CURLE_RECV_ERROR, end.httpCode, "the transfer ended without a result");
    }
    if (*end.result == CURLE_WRITE_ERROR && transfer.writeError != 0) {
        return PosixFileFailure(transfer.writeError, path);
    }
    if (*end.result != CURLE_OK) {
        return CurlFailure(*end.result, end.httpCode,
                           transfer.errorBuffer[0] != '\0' ? transfer.errorBuffer
                                                           : curl_easy_strerror(*end.result));
    }
    // A redirect libcurl did not follow (one without a target): what arrived is the redirect's
    // own body, not the file asked for.
    if (end.httpCode >= 300 && end.httpCode < 400) {
        const SHttpAnswerRule& rule = *FindHttpAnswerRule(end.httpCode);
        return Failure(rule.status, HttpAnswerText(rule, end.httpCode), "");
    }
    return std::nullopt;
}

} // namespace

CCurlDownloader::CCurlDownloader(const SDownloadLimits& limits) : limits_(limits) {
    EnsureCurlInitialised();
}

SDownloadStatus CCurlDownloader::DownloadToFile(const std::string& url, const std::string& path,
                                                const SDownloadOptions& options) {
    CPosixPartFiles files;
    CPartFile part(files);
    if (std::optional<SDownloadStatus> failure = OpenPartFile(url, path, files, part)) {
        return *failure;
    }
    const std::unique_ptr<CURL, SEasyDeleter> easy(curl_easy_init());
    const std::unique_ptr<CURLM, SMultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        return Failure(status::kOutOfMemory, "Not enough memory.", "");
    }
    STransfer transfer;
    transfer.fd = files.Fd();
    transfer.maxBytes = limits_.maxBytes;
    SetUpTransfer(easy.get(), url, limits_, transfer);
    const STransferEnd end = RunTransfer(multi.get(), easy.get(), limits_, transfer, options);
    if (std::optional<SDownloadStatus> failure = CheckBody(end, transfer, limits_, path)) {
        return *failure;
    }
    // Step 5: the checked body replaces the target (the part file goes on any failure).
    return part.Finish(path, options);
}

} // namespace crenovix
