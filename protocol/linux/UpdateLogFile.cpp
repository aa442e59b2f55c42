#include "protocol/UpdateLogFile.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace crenovix {

namespace {

// Another process holds the lock only for one write and its flush; past this something is wrong.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr auto kLockRetry = std::chrono::milliseconds(5);

SLogAppend Failed(const std::string& what, int error) {
    return {false, what + ": " + std::strerror(error)};
}

class CDescriptor {
public:
    explicit CDescriptor(int fd) : fd_(fd) {}
    ~CDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_); // releases the lock
        }
    }
    CDescriptor(const CDescriptor&) = delete;
    CDescriptor& operator=(const CDescriptor&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

// Why `path` cannot be the log, or nothing: only a regular file (or none yet) can.
std::string NotALogFile(const std::string& path, const struct stat& status) {
    if (S_ISDIR(status.st_mode)) {
        return "the update log '" + path + "' is a directory";
    }
    if (!S_ISREG(status.st_mode)) {
        return "the update log '" + path + "' is not a regular file";
    }
    return "";
}

bool LockBounded(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kLockRetry);
    }
    return true;
}

} // namespace

std::optional<std::string> CUpdateLogFile::Checked(const std::string& path, std::string& error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        error = NotALogFile(path, status);
        if (!error.empty()) {
            return std::nullopt;
        }
    }
    std::error_code unknown;
    const std::filesystem::path absolute = std::filesystem::absolute(path, unknown);
    return unknown ? path : absolute.string();
}

SLogAppend CUpdateLogFile::Append(SUpdateRecord record) {
    const std::filesystem::path file(path_);
    std::error_code ignored; // a folder that cannot be made fails the open below, with its reason
    if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ignored);
    }
    // O_NONBLOCK: a FIFO put there meanwhile must not hold the run; it is refused below.
    const CDescriptor log(::open(
        path_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
    if (log.Fd() < 0) {
        return Failed("cannot open '" + path_ + "'", errno);
    }
    struct stat status {};
    if (::fstat(log.Fd(), &status) != 0) {
        return Failed("cannot read '" + path_ + "'", errno);
    }
    if (const std::string why = NotALogFile(path_, status); !why.empty()) {
        return {false, why};
    }
    // A window's log can be any file the user picks: never the update file the record names,
    // under any name, which the record would make unusable.
    if (struct stat update{}; ::stat(record.file.c_str(), &update) == 0 &&
                              update.st_dev == status.st_dev && update.st_ino == status.st_ino) {
        return {false, "the update log '" + path_ + "' is the update file"};
    }
    if (!LockBounded(log.Fd())) {
        return {false, "'" + path_ + "' stays locked by another program"};
    }
    // Under the lock the file's end is the end this record follows.
    if (::fstat(log.Fd(), &status) != 0) {
        return Failed("cannot read '" + path_ + "'", errno);
    }
    char last = '\n';
    if (status.st_size > 0 && ::pread(log.Fd(), &last, 1, status.st_size - 1) != 1) {
        return Failed("cannot read '" + path_ + "'", errno);
    }
    const std::string text = UpdateLogAppendText(std::move(record), stamp_, last != '\n');
    ssize_t written = 0;
    do {
        written = ::write(log.Fd(), text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        return Failed("cannot write '" + path_ + "'", errno);
    }
    if (static_cast<std::size_t>(written) != text.size()) {
        return {false, "'" + path_ + "' took only part of the record (is the disk full?)"};
    }
    if (::fsync(log.Fd()) != 0) {
        return Failed("cannot flush '" + path_ + "'", errno);
    }
    return {};
}

std::string LogHostName() {
    char host[256] = {};
    return ::gethostname(host, sizeof host - 1) == 0 ? host : "";
}

std::string DefaultUpdateLogPath() {
    return LinuxDefaultLogPath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
}

} // namespace crenovix
