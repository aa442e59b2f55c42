#include "online/win32/UrlMonDownloader.h"

#include "controls/HyperLink.h"
#include "online/PartFile.h"

#include <windows.h>

#include <urlmon.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace crenovix {

namespace {

using Clock = std::chrono::steady_clock;

using download_status::kInvalidUrl;
using download_status::kRedirectFailed;
using download_status::kTimedOut;
// The shared numbers are the download call's own.
static_assert(kInvalidUrl == INET_E_INVALID_URL);
static_assert(kTimedOut == INET_E_CONNECTION_TIMEOUT);
static_assert(download_status::kNotFound == INET_E_OBJECT_NOT_FOUND);
static_assert(download_status::kAuthenticationRequired == INET_E_AUTHENTICATION_REQUIRED);
static_assert(download_status::kDownloadFailure == INET_E_DOWNLOAD_FAILURE);
static_assert(kRedirectFailed == INET_E_REDIRECT_FAILED);
static_assert(download_status::kPathNotFound == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
static_assert(download_status::kAccessDenied == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));

SDownloadStatus Failure(std::int32_t status) {
    return {status, SystemMessageText(status)};
}

// Our own reasons carry our texts, the same as on Linux; the others the system's.
SDownloadStatus OwnFailure(std::int32_t reason, const SDownloadLimits& limits) {
    if (reason == download_status::kTooLarge) {
        return {reason, TooLargeText(limits.maxBytes)};
    }
    if (reason == download_status::kCancelled) {
        return {reason, kCancelledText};
    }
    return Failure(reason);
}

SDownloadStatus Win32Failure(DWORD error) {
    return Failure(static_cast<std::int32_t>(HRESULT_FROM_WIN32(error)));
}

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) {
        return {};
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), bytes, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(bytes - 1));
    return narrow;
}

// The body's length as the answer's headers announce it, if they do.
std::optional<unsigned long long> AnnouncedLength(const wchar_t* headers) {
    std::string text = Narrow(headers);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string key = "\ncontent-length:";
    const std::size_t at = text.find(key);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::size_t digit = text.find_first_not_of(" \t", at + key.size());
    unsigned long long value = 0;
    bool any = false;
    for (; digit < text.size() && std::isdigit(static_cast<unsigned char>(text[digit])); ++digit) {
        value = std::min(value * 10 + static_cast<unsigned>(text[digit] - '0'), 1ULL << 62);
        any = true;
    }
    return any ? std::optional<unsigned long long>(value) : std::nullopt;
}

// What one download has seen, shared by the binding's callbacks (on the calling thread) and the
// watch thread. Reference-counted as COM asks: the system may hold it a little longer than the
// download call lasts.
class CBindWatch final : public IBindStatusCallback, public IHttpNegotiate {
public:
    CBindWatch(const SDownloadLimits& limits, const SDownloadOptions& options, std::string partPath)
        : limits_(limits), cancel_(options.cancel), reports_(options.progress),
          partPath_(std::move(partPath)), start_(Clock::now()), lastNews_(start_) {}

    // --- IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *object = static_cast<IBindStatusCallback*>(this);
        } else if (IsEqualIID(riid, IID_IHttpNegotiate)) {
            *object = static_cast<IHttpNegotiate*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // --- IBindStatusCallback
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
        bool abortNow = false;
        {
            const std::lock_guard lock(mutex_);
            if (binding != nullptr) {
                binding->AddRef();
                binding_ = binding;
            }
            abortNow = abortReason_ != 0;
            lastNews_ = Clock::now();
        }
        if (abortNow && binding != nullptr) {
            binding->Abort();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) override {
        Touch();
        if (cancel_ != nullptr && cancel_->Cancelled()) {
            Abort(download_status::kCancelled);
            return E_ABORT;
        }
        // The bytes so far and, when the server announced it, the whole size; a body without an
        // announced size is stopped as soon as the count passes the limit.
        const bool data = statusCode == BINDSTATUS_BEGINDOWNLOADDATA ||
                          statusCode == BINDSTATUS_DOWNLOADINGDATA ||
                          statusCode == BINDSTATUS_ENDDOWNLOADDATA;
        if (data && limits_.maxBytes != 0 &&
            (progress > limits_.maxBytes || progressMax > limits_.maxBytes)) {
            Abort(download_status::kTooLarge);
            return E_ABORT;
        }
        if (data) { // on the download call's thread only, as the reports are not shared
            reports_.Update(
                progress, progressMax > 0 ? std::optional<std::size_t>(progressMax) : std::nullopt,
                Clock::now());
        }
        if (statusCode == BINDSTATUS_REDIRECTING) {
            int redirects = 0;
            {
                const std::lock_guard lock(mutex_);
                redirects = ++redirects_;
            }
            // A catalogue must not make us read local files or other protocols.
            if (redirects > limits_.maxRedirects || !IsWebAddress(Narrow(statusText))) {
                Abort(kRedirectFailed);
                return E_ABORT;
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
        IBinding* binding = nullptr;
        {
            const std::lock_guard lock(mutex_);
            binding = binding_;
            binding_ = nullptr;
        }
        if (binding != nullptr) {
            binding->Release();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO*) override {
        if (bindFlags == nullptr) {
            return E_INVALIDARG;
        }
        // Every fetch asks the server: a cached catalogue would hide a new release.
        *bindFlags = BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        Touch();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    // --- IHttpNegotiate
    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                   LPWSTR* additionalHeaders) override {
        if (additionalHeaders != nullptr) {
            *additionalHeaders = nullptr;
        }
        Touch();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD responseCode, LPCWSTR responseHeaders, LPCWSTR,
                                         LPWSTR* additionalHeaders) override {
        if (additionalHeaders != nullptr) {
            *additionalHeaders = nullptr;
        }
        Touch();
        {
            const std::lock_guard lock(mutex_);
            httpStatus_ = responseCode;
        }
        // A body announced past the limit is refused before it arrives: with an announced size
        // the system may keep the body out of the part file and report no progress until the
        // end, so neither of the other bounds would see it in time.
        const std::optional<unsigned long long> announced = AnnouncedLength(responseHeaders);
        if (limits_.maxBytes != 0 && announced && *announced > limits_.maxBytes) {
            Abort(download_status::kTooLarge);
            return E_ABORT;
        }
        return S_OK;
    }

    // --- the watch
    // Waits until Finish() or a limit runs out; in the latter case aborts the binding.
    void Watch() {
        std::unique_lock lock(mutex_);
        while (!finished_) {
            // Not every system reports the bytes as they arrive: the part file's size is looked
            // at too, so a body past the limit is stopped within a poll.
            const bool tooLarge = PartFileGrown();
            const Clock::time_point deadline =
                std::min(start_ + limits_.total, lastNews_ + limits_.silence);
            const bool cancelled = cancel_ != nullptr && cancel_->Cancelled();
            if (cancelled || tooLarge || Clock::now() >= deadline) {
                lock.unlock();
                Abort(cancelled  ? download_status::kCancelled
                      : tooLarge ? download_status::kTooLarge
                                 : kTimedOut);
                lock.lock();
                // The binding ends on its own thread; wait for that without aborting again.
                changed_.wait(lock, [this] { return finished_; });
                return;
            }
            changed_.wait_until(
                lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(kCancelPollMs)));
        }
    }
    void Finish() {
        {
            const std::lock_guard lock(mutex_);
            finished_ = true;
        }
        changed_.notify_all();
    }

    // The reason of our own abort (0: none) and the last HTTP answer (0: none).
    std::int32_t AbortReason() {
        const std::lock_guard lock(mutex_);
        return abortReason_;
    }
    DWORD HttpStatus() {
        const std::lock_guard lock(mutex_);
        return httpStatus_;
    }

private:
    ~CBindWatch() = default;

    // Called with the lock held. A part file that grew is news from the server as well; true
    // when it has grown past the limit.
    bool PartFileGrown() {
        WIN32_FILE_ATTRIBUTE_DATA written{};
        if (!GetFileAttributesExA(partPath_.c_str(), GetFileExInfoStandard, &written)) {
            return false;
        }
        const ULONGLONG size =
            (static_cast<ULONGLONG>(written.nFileSizeHigh) << 32) | written.nFileSizeLow;
        if (size > partSize_) {
            partSize_ = size;
            lastNews_ = Clock::now();
        }
        return limits_.maxBytes != 0 && size > limits_.maxBytes;
    }

    void Touch() {
        {
            const std::lock_guard lock(mutex_);
            lastNews_ = Clock::now();
        }
        changed_.notify_all();
    }

    // Aborts the binding once; the first reason counts. The binding is held by a reference of
    // our own and called without the lock, since an abort may report back through OnStopBinding.
    void Abort(std::int32_t reason) {
        IBinding* binding = nullptr;
        {
            const std::lock_guard lock(mutex_);
            if (abortReason_ != 0) {
                return;
            }
            abortReason_ = reason;
            binding = binding_;
            if (binding != nullptr) {
                binding->AddRef();
            }
        }
        if (binding != nullptr) {
            binding->Abort();
            binding->Release();
        }
    }

    const SDownloadLimits limits_;
    const CCancelToken* const cancel_;
    CProgressReports reports_;
    const std::string partPath_;
    ULONGLONG partSize_ = 0;
    const Clock::time_point start_;
    std::atomic<ULONG> references_{1};
    std::mutex mutex_;
    std::condition_variable changed_;
    Clock::time_point lastNews_;
    IBinding* binding_ = nullptr;
    std::int32_t abortReason_ = 0;
    int redirects_ = 0;
    DWORD httpStatus_ = 0;
    bool finished_ = false;
};

// Releases a COM reference when the scope ends.
class CWatchReference {
public:
    explicit CWatchReference(CBindWatch* watch) : watch_(watch) {}
    ~CWatchReference() { watch_->Release(); }
    CWatchReference(const CWatchReference&) = delete;
    CWatchReference& operator=(const CWatchReference&) = delete;
    CBindWatch* operator->() const { return watch_; }
    CBindWatch* Get() const { return watch_; }

private:
    CBindWatch* watch_;
};

// COM for the calling thread when it has none yet; a thread that already has it keeps its own.
class CComScope {
public:
    CComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~CComScope() {
        if (initialised_) {
            CoUninitialize();
        }
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    bool initialised_;
};

// The part file's calls: created empty and closed, as the download call opens it by name.
class CWin32PartFiles final : public IPartFileSystem {
public:
    std::uint32_t CreateNew(const std::string& path) override {
        const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return GetLastError();
        }
        CloseHandle(file);
        return 0;
    }
    bool NameTaken(std::uint32_t error) const override { return error == ERROR_FILE_EXISTS; }
    std::uint32_t Replace(const std::string& path, const std::string& target) override {
        if (!MoveFileExA(path.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return GetLastError();
        }
        return 0;
    }
    void Remove(const std::string& path) override { DeleteFileA(path.c_str()); }
    SDownloadStatus FileFailure(std::uint32_t error, const std::string&) const override {
        return Win32Failure(error);
    }
};

std::string TrimLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

std::optional<std::string> FormatSystemMessage(DWORD code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer),
        0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return std::nullopt;
    }
    std::string text = TrimLineEnd(std::string(buffer, length));
    LocalFree(buffer);
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

std::optional<std::string> SystemMessageText(std::int32_t status) {
    const auto code = static_cast<DWORD>(status);
    if (std::optional<std::string> text = FormatSystemMessage(code)) {
        return text;
    }
    if (HRESULT_FACILITY(code) == FACILITY_WIN32) {
        return FormatSystemMessage(HRESULT_CODE(code));
    }
    return std::nullopt;
}

SDownloadStatus CUrlMonDownloader::DownloadToFile(const std::string& url, const std::string& path,
                                                  const SDownloadOptions& options) {
    if (!IsWebAddress(url)) {
        return Failure(kInvalidUrl);
    }
    if (path.empty() || path.back() == '\\' || path.back() == '/') {
        return Win32Failure(ERROR_PATH_NOT_FOUND);
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Win32Failure(ERROR_ACCESS_DENIED);
    }

    CWin32PartFiles files;
    CPartFile part(files);
    if (std::optional<SDownloadStatus> failure = part.Create(path)) {
        return *failure;
    }

    HRESULT result = S_OK;
    CWatchReference watch(new CBindWatch(limits_, options, part.Path()));
    {
        const CComScope com;
        std::thread watcher([&watch] { watch->Watch(); });
        result = URLDownloadToFileA(nullptr, url.c_str(), part.Path().c_str(), 0, watch.Get());
        watch->Finish();
        watcher.join();
    }

    if (const std::int32_t reason = watch->AbortReason(); reason != 0) {
        return OwnFailure(reason, limits_);
    }
    if (options.cancel != nullptr && options.cancel->Cancelled()) {
        return OwnFailure(download_status::kCancelled, limits_);
    }
    if (FAILED(result)) {
        return Failure(static_cast<std::int32_t>(result));
    }
    const DWORD httpStatus = watch->HttpStatus();
    if (const SHttpAnswerRule* rule = FindHttpAnswerRule(httpStatus)) {
        return Failure(rule->status);
    }
    // The count of the progress reports is the first bound; the file's size is the last word.
    WIN32_FILE_ATTRIBUTE_DATA written{};
    if (limits_.maxBytes != 0 &&
        GetFileAttributesExA(part.Path().c_str(), GetFileExInfoStandard, &written) &&
        (written.nFileSizeHigh != 0 || written.nFileSizeLow > limits_.maxBytes)) {
        return OwnFailure(download_status::kTooLarge, limits_);
    }
    return part.Finish(path, options);
}

} // namespace crenovix
