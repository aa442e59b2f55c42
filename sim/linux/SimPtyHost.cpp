// Uses the kernel's termios2 definitions, which take any rate as a number (128000 has no
// B-constant); <termios.h> clashes with them and must not be included in this file.
#include "sim/linux/SimPtyHost.h"

#include <algorithm>
#include <array>
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace crenovix::sim {

namespace {

constexpr std::size_t kReadChunk = 256;
// An answer the program does not read stays queued in the pty; a full queue is waited on this
// long before the answer is dropped, so the thread never blocks.
constexpr int kAnswerWaitMs = 100;

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Raw 8N1 at 9600 until the program sets the line itself: no echo of the charger's answers back
// to it, no line editing of the program's bytes.
int SetRawLine(int fd) {
    struct termios2 settings {};
    if (::ioctl(fd, TCGETS2, &settings) != 0) {
        return errno;
    }
    settings.c_iflag = 0;
    settings.c_oflag = 0;
    settings.c_lflag = 0;
    settings.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = 9600;
    settings.c_ospeed = 9600;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return ::ioctl(fd, TCSETS2, &settings) == 0 ? 0 : errno;
}

} // namespace

std::unique_ptr<CSimPtyHost> CSimPtyHost::Start(IClock& clock, SSimSerialConfig config,
                                                int& error) {
    std::unique_ptr<CSimPtyHost> host(new CSimPtyHost(clock, std::move(config)));
    error = host->Open();
    if (error != 0) {
        return nullptr;
    }
    host->thread_ = std::thread(&CSimPtyHost::Run, host.get());
    return host;
}

CSimPtyHost::CSimPtyHost(IClock& clock, SSimSerialConfig config)
    : clock_(clock), charger_(clock, std::move(config)) {}

CSimPtyHost::~CSimPtyHost() {
    bStop_ = true;
    if (wakeWrite_ >= 0) {
        const char wake = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &wake, 1);
    }
    if (thread_.joinable()) {
        thread_.join(); // bounded: the thread wakes at the latest after one poll period
    }
    CloseFd(master_);
    CloseFd(slave_);
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
}

int CSimPtyHost::Open() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        return errno;
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        return errno;
    }
    std::array<char, 128> name{};
    if (const int result = ::ptsname_r(master_, name.data(), name.size()); result != 0) {
        return result;
    }
    slavePath_ = name.data();
    slave_ = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave_ < 0) {
        return errno;
    }
    if (const int result = SetRawLine(slave_); result != 0) {
        return result;
    }
    if (::fcntl(master_, F_SETFL, O_NONBLOCK) != 0) {
        return errno;
    }
    std::array<int, 2> wake{};
    if (::pipe2(wake.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        return errno;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    return 0;
}

SSimResults CSimPtyHost::Results() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return charger_.Results();
}

// The rate the program transmits at; 0 when the settings cannot be read.
std::uint32_t CSimPtyHost::LineBaud() const {
    struct termios2 settings {};
    if (::ioctl(master_, TCGETS2, &settings) != 0) {
        return 0;
    }
    return settings.c_ospeed;
}

void CSimPtyHost::Answer(std::uint8_t byte) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ssize_t result = ::write(master_, &byte, 1);
        if (result == 1) {
            return;
        }
        if (result < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
        pollfd entry{master_, POLLOUT, 0};
        ::poll(&entry, 1, kAnswerWaitMs);
    }
}

void CSimPtyHost::HangUp() {
    bHungUp_ = true; // before the close, so whoever sees the hang-up sees the flag too
    CloseFd(master_);
    CloseFd(slave_);
}

int CSimPtyHost::SendDue() {
    const std::uint32_t now = clock_.TickCount();
    std::size_t sent = 0;
    while (sent < later_.size() && static_cast<std::int32_t>(now - later_[sent].first) >= 0) {
        Answer(later_[sent].second);
        ++sent;
    }
    later_.erase(later_.begin(), later_.begin() + static_cast<std::ptrdiff_t>(sent));
    if (later_.empty()) {
        return kPtyPollMs;
    }
    return std::clamp(static_cast<int>(later_.front().first - now), 1, kPtyPollMs);
}

void CSimPtyHost::Run() {
    std::array<std::uint8_t, kReadChunk> buffer{};
    while (!bStop_) {
        std::array<pollfd, 2> fds = {{{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}}};
        const int ready = ::poll(fds.data(), fds.size(), SendDue());
        SendDue();
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            if (fds[0].revents != 0) {
                // An error on the master without data: wait instead of spinning on it.
                ::poll(&fds[1], 1, kPtyPollMs);
            }
            continue;
        }
        // Read the rate before the bytes: the program does not change it while bytes it wrote
        // at the old rate are still on their way.
        const std::uint32_t baud = LineBaud();
        const ssize_t count = ::read(master_, buffer.data(), buffer.size());
        if (count <= 0) {
            if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                ::poll(&fds[1], 1, kPtyPollMs); // the line is in trouble: do not spin on it
            }
            continue;
        }
        for (ssize_t i = 0; i < count; ++i) {
            std::optional<std::uint8_t> answer;
            std::vector<SSimDelivery> deliveries;
            bool bGone = false;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                answer = charger_.HandleByte(buffer[static_cast<std::size_t>(i)], baud);
                deliveries = charger_.TakeDeliveries();
                bGone = charger_.IsGone();
            }
            if (answer) {
                Answer(*answer);
            }
            // Extra output goes out with the answer; what comes late waits in order for its time.
            const std::uint32_t now = clock_.TickCount();
            for (const SSimDelivery& delivery : deliveries) {
                for (const std::uint8_t byte : delivery.bytes) {
                    if (delivery.dwDelayMs == 0) {
                        Answer(byte);
                        continue;
                    }
                    const std::uint32_t due = now + delivery.dwDelayMs;
                    const auto at =
                        std::find_if(later_.begin(), later_.end(), [due](const auto& l) {
                            return static_cast<std::int32_t>(l.first - due) > 0;
                        });
                    later_.insert(at, {due, byte});
                }
            }
            if (bGone) {
                HangUp();
                return;
            }
        }
    }
}

} // namespace crenovix::sim
