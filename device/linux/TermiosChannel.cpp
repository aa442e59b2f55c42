#include "device/linux/TermiosChannel.h"

#include "device/linux/TtyLine.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace crenovix {

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t NowNs() {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count());
}

// Milliseconds left until the deadline, rounded up so that poll() never wakes just before it.
int RemainingMs(std::uint64_t deadlineNs) {
    const std::uint64_t now = NowNs();
    if (now >= deadlineNs) {
        return 0;
    }
    const std::uint64_t ms = (deadlineNs - now + 999'999) / 1'000'000;
    return static_cast<int>(std::min<std::uint64_t>(ms, INT_MAX));
}

enum class EWait { Ready, TimedOut, Failed };

// Waits for `events` on `fd` until the deadline; EINTR only recomputes the remaining time.
EWait WaitFor(int fd, short events, std::uint64_t deadlineNs) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int result = ::poll(&entry, 1, RemainingMs(deadlineNs));
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            return EWait::Failed;
        }
        if (result == 0) {
            return EWait::TimedOut;
        }
        if ((entry.revents & events) != 0) {
            return EWait::Ready;
        }
        // Error, hang-up or a closed descriptor without the wanted event: the port is gone.
        return EWait::Failed;
    }
}

} // namespace

std::unique_ptr<CTermiosChannel> CTermiosChannel::Open(const std::string& path, std::uint32_t baud,
                                                       int& error) {
    error = 0;
    if (baud == 0) {
        error = EINVAL;
        return nullptr;
    }
    // O_NONBLOCK: neither the open (carrier detect) nor any later read or write may block; every
    // wait goes through poll() with a deadline.
    CUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        error = errno;
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        error = errno;
        return nullptr;
    }
    if (!S_ISCHR(info.st_mode) || ttyline::CheckIsTty(fd.Get()) != 0) {
        error = ENOTTY;
        return nullptr;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        return nullptr;
    }
    if (::ioctl(fd.Get(), TIOCEXCL) != 0) {
        error = errno;
        return nullptr;
    }
    // From here the destructor lifts TIOCEXCL again, on the failure paths too.
    std::unique_ptr<CTermiosChannel> channel(new CTermiosChannel(std::move(fd), baud));
    const int fdValue = channel->fd_.Get();
    if (const int result = ttyline::ConfigureRawLine(fdValue, baud); result != 0) {
        error = result;
        return nullptr;
    }
    if (const int result = ttyline::FlushBoth(fdValue); result != 0) {
        error = result;
        return nullptr;
    }
    // Every frame waits for a one-byte answer, which a USB serial bridge would otherwise hold
    // until its latency timer runs out (16 ms on many). Drivers without the setting refuse it;
    // the port works as before on them, only slower, so a refusal is not an error.
    ttyline::RequestLowLatency(fdValue, channel->lowLatencySet_);
    return channel;
}

CTermiosChannel::CTermiosChannel(CUniqueFd fd, std::uint32_t baud)
    : fd_(std::move(fd)), baud_(baud) {}

CTermiosChannel::~CTermiosChannel() {
    // Drivers keep the low-latency flag after the port closes (ftdi_sio keeps the bridge's timer
    // at 1 ms): the flag this channel set goes, so that other programs find the port as they left
    // it. One that was set before the open stays.
    if (lowLatencySet_) {
        ttyline::ClearLowLatency(fd_.Get());
    }
    // The exclusive flag belongs to the tty, not to this descriptor: if another program still has
    // the port open, the flag would outlive this close and lock everybody out.
    ::ioctl(fd_.Get(), TIOCNXCL);
}

EReadStatus CTermiosChannel::Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) {
    const std::uint64_t deadlineNs = NowNs() + std::uint64_t{timeoutMs} * 1'000'000;
    std::size_t received = 0;
    while (received < data.size()) {
        const ssize_t result = ::read(fd_.Get(), data.data() + received, data.size() - received);
        if (result > 0) {
            received += static_cast<std::size_t>(result);
            continue;
        }
        if (result == 0) {
            return EReadStatus::Failed; // hang-up: the line is gone (one byte satisfies VMIN)
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return EReadStatus::Failed;
        }
        switch (WaitFor(fd_.Get(), POLLIN, deadlineNs)) {
        case EWait::Ready:
            break;
        case EWait::TimedOut:
            return EReadStatus::TimedOut;
        case EWait::Failed:
            return EReadStatus::Failed;
        }
    }
    return EReadStatus::Completed;
}

namespace {
// Far beyond the driver's input buffer (4 KiB for the line discipline).
constexpr std::size_t kMaxDiscardedBytes = 64 * 1024;
} // namespace

// Reading what is there (the descriptor never blocks) counts and drops in one step: a byte that
// arrives meanwhile is either read and counted, or left for the next read. Asking FIONREAD and
// then flushing would lose a byte arriving between the two without a trace. A line that sends
// without pause is flushed after the bound, and that counts as input too.
bool CTermiosChannel::DiscardInput() {
    std::array<std::uint8_t, 256> buffer{};
    bool dropped = false;
    for (std::size_t total = 0; total < kMaxDiscardedBytes;) {
        const ssize_t result = ::read(fd_.Get(), buffer.data(), buffer.size());
        if (result > 0) {
            dropped = true;
            total += static_cast<std::size_t>(result);
            continue;
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        return dropped; // nothing left (EAGAIN), or a broken line the next read reports
    }
    ttyline::FlushInput(fd_.Get());
    return true;
}

bool CTermiosChannel::Write(std::span<const std::uint8_t> data) {
    const std::uint64_t deadlineNs = NowNs() + WriteBoundMs(data.size(), baud_) * 1'000'000;
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t result = ::write(fd_.Get(), data.data() + sent, data.size() - sent);
        if (result > 0) {
            sent += static_cast<std::size_t>(result);
            continue;
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            return false;
        }
        if (WaitFor(fd_.Get(), POLLOUT, deadlineNs) != EWait::Ready) {
            return false;
        }
    }
    if (!WaitOutputEmpty(deadlineNs)) {
        return false;
    }
    // Only the device's own transmit buffer can remain now, which drivers drain in bounded time.
    int result = ttyline::WaitUntilSent(fd_.Get());
    if (result == EINTR) {
        result = ttyline::WaitUntilSent(fd_.Get());
    }
    return result == 0;
}

// tcdrain() alone has no time limit; the driver's queue is watched with a deadline first.
bool CTermiosChannel::WaitOutputEmpty(std::uint64_t deadlineNs) {
    for (;;) {
        int queued = 0;
        if (::ioctl(fd_.Get(), TIOCOUTQ, &queued) != 0) {
            return false;
        }
        if (queued <= 0) {
            return true;
        }
        if (NowNs() >= deadlineNs) {
            return false;
        }
        // Looks again about when the queued bytes are on the line: a fixed 2 ms would add itself
        // to every serial frame, whose 17 bytes take 1.3 ms at 128000 baud.
        const std::uint64_t lineNs = std::uint64_t(queued) * 10'000'000'000ull / baud_;
        std::this_thread::sleep_for(
            std::chrono::nanoseconds(std::clamp<std::uint64_t>(lineNs, 100'000, 2'000'000)));
    }
}

} // namespace crenovix
