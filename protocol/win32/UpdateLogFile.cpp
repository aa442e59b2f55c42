#include "protocol/UpdateLogFile.h"

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace crenovix {

namespace {

// Another process holds the lock only for one write and its flush; past this something is wrong.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr auto kLockRetry = std::chrono::milliseconds(5);

SLogAppend Failed(const std::string& what) {
    return {false, what + " (error " + std::to_string(GetLastError()) + ")"};
}

class CHandle {
public:
    explicit CHandle(HANDLE handle) : handle_(handle) {}
    ~CHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_); // releases the lock
        }
    }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

// Why `path` cannot be the log, or nothing: a directory cannot; a device or a pipe is found out
// when the append opens it (GetFileType).
std::string NotALogFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return "the update log '" + path + "' is a directory";
    }
    return "";
}

// The folders above `file`, each made when missing; one that cannot be made fails the open that
// follows, with its reason. (The library's create_directories crashes on device paths such as
// \\.\NUL under this runtime.)
void MakeFolders(const std::string& file) {
    for (std::size_t at = file.find_first_of("\\/", 1); at != std::string::npos;
         at = file.find_first_of("\\/", at + 1)) {
        CreateDirectoryA(file.substr(0, at).c_str(), nullptr);
    }
}

// Whether `path` names the file open at `file`: the same volume and file index.
bool SameFile(HANDLE file, const std::string& path) {
    const CHandle other(CreateFileA(path.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return other.Get() != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &a) &&
           GetFileInformationByHandle(other.Get(), &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

bool LockBounded(HANDLE file) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
        OVERLAPPED whole{};
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                       MAXDWORD, &whole)) {
            return true;
        }
        if (GetLastError() != ERROR_LOCK_VIOLATION ||
            std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kLockRetry);
    }
}

} // namespace

std::optional<std::string> CUpdateLogFile::Checked(const std::string& path, std::string& error) {
    error = NotALogFile(path);
    if (!error.empty()) {
        return std::nullopt;
    }
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    std::string full(needed, '\0');
    const DWORD length = GetFullPathNameA(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    return full;
}

SLogAppend CUpdateLogFile::Append(SUpdateRecord record) {
    MakeFolders(path_);
    // Appending only: every write goes to the file's end, whatever another process wrote.
    const CHandle log(CreateFileA(path_.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (log.Get() == INVALID_HANDLE_VALUE) {
        return Failed("cannot open '" + path_ + "'");
    }
    if (GetFileType(log.Get()) != FILE_TYPE_DISK) {
        return {false, "the update log '" + path_ + "' is not a regular file"};
    }
    // A window's log can be any file the user picks: never the update file the record names,
    // under any name, which the record would make unusable. Only a file the run read is looked
    // at (opening a device name could disturb the device).
    if (!record.fileSha256.empty() && SameFile(log.Get(), record.file)) {
        return {false, "the update log '" + path_ + "' is the update file"};
    }
    if (!LockBounded(log.Get())) {
        return {false, "'" + path_ + "' stays locked by another program"};
    }
    // Under the lock the file's end is the end this record follows.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(log.Get(), &size)) {
        return Failed("cannot read '" + path_ + "'");
    }
    char last = '\n';
    if (size.QuadPart > 0) {
        OVERLAPPED at{};
        const auto offset = static_cast<ULONGLONG>(size.QuadPart - 1);
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        if (!ReadFile(log.Get(), &last, 1, &read, &at) || read != 1) {
            return Failed("cannot read '" + path_ + "'");
        }
    }
    const std::string text = UpdateLogAppendText(std::move(record), stamp_, last != '\n');
    DWORD written = 0;
    if (!WriteFile(log.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return Failed("cannot write '" + path_ + "'");
    }
    if (written != text.size()) {
        return {false, "'" + path_ + "' took only part of the record (is the disk full?)"};
    }
    if (!FlushFileBuffers(log.Get())) {
        return Failed("cannot flush '" + path_ + "'");
    }
    return {};
}

std::string LogHostName() {
    char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof host;
    return GetComputerNameA(host, &size) ? host : "";
}

std::string DefaultUpdateLogPath() {
    return WindowsDefaultLogPath(std::getenv("LOCALAPPDATA"));
}

} // namespace crenovix
