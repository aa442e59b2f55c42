// The termios serial channel on pseudo-terminals: the adapter opens the slave side while the
// test plays the charger on the master side. On Linux a TCGETS2 on the master reports the
// slave's termios2, which is how the line settings are checked.
#include "device/linux/TermiosChannel.h"
#include "device/linux/UdevSerialPlatform.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace crenovix {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class CPseudoTerminal {
public:
    CPseudoTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            const char* name = ::ptsname(master_);
            slavePath_ = name != nullptr ? name : "";
        }
    }
    ~CPseudoTerminal() { CloseMaster(); }
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    bool Ready() const { return master_ >= 0 && !slavePath_.empty(); }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    void Send(const Bytes& bytes) const {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Whatever the slave wrote, until `count` bytes came or two seconds passed.
    Bytes Receive(std::size_t count) const {
        Bytes received;
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0) {
                continue;
            }
            std::array<std::uint8_t, 512> chunk{};
            const ssize_t got = ::read(master_, chunk.data(), chunk.size());
            if (got <= 0) {
                break;
            }
            received.insert(received.end(), chunk.begin(), chunk.begin() + got);
        }
        return received;
    }

    termios2 SlaveSettings() const {
        termios2 settings{};
        EXPECT_EQ(::ioctl(master_, TCGETS2, &settings), 0) << "errno " << errno;
        return settings;
    }
    void SetSlaveSettings(const termios2& settings) const {
        ASSERT_EQ(::ioctl(master_, TCSETS2, &settings), 0) << "errno " << errno;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

class TermiosChannelTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty_.Ready()) << "no pseudo-terminal available"; }

    std::unique_ptr<CTermiosChannel> OpenSlave(std::uint32_t baud = 9600) {
        int error = 0;
        auto channel = CTermiosChannel::Open(pty_.SlavePath(), baud, error);
        EXPECT_NE(channel, nullptr) << "errno " << error;
        return channel;
    }

    CPseudoTerminal pty_;
};

// A line as a terminal program might leave it: cooked, echoing, 7E2 with both flow controls.
termios2 CookedSettings(termios2 settings) {
    settings.c_iflag |= ICRNL | IXON | IXOFF | INPCK | ISTRIP;
    settings.c_oflag |= OPOST | ONLCR;
    settings.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    settings.c_cflag &= ~(CSIZE | CLOCAL | CREAD);
    settings.c_cflag |= CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    return settings;
}

TEST_F(TermiosChannelTest, SetsRawEightNOneAtStandardAndNonStandardRates) {
    for (const std::uint32_t baud : {9600u, 128000u}) {
        SCOPED_TRACE(baud);
        pty_.SetSlaveSettings(CookedSettings(pty_.SlaveSettings()));
        const cc_t interruptCharacter = pty_.SlaveSettings().c_cc[VINTR];

        const auto channel = OpenSlave(baud);
        ASSERT_NE(channel, nullptr);
        const termios2 line = pty_.SlaveSettings();

        EXPECT_EQ(line.c_ospeed, baud);
        EXPECT_EQ(line.c_ispeed, baud);
        EXPECT_EQ(line.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
        EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(line.c_iflag & (ICRNL | IXON | IXOFF | INPCK | ISTRIP), 0u);
        EXPECT_EQ(line.c_oflag & OPOST, 0u);
        EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(line.c_cc[VMIN], 1);
        EXPECT_EQ(line.c_cc[VTIME], 0);
        // Settings the port has no opinion about stay as they were.
        EXPECT_NE(line.c_cflag & HUPCL, 0u);
        EXPECT_EQ(line.c_cc[VINTR], interruptCharacter);
    }
}

TEST_F(TermiosChannelTest, RefusesWhatIsNoUsableTerminal) {
    int error = 0;
    EXPECT_EQ(CTermiosChannel::Open("/dev/null", 9600, error), nullptr);
    EXPECT_EQ(error, ENOTTY);
    EXPECT_EQ(CTermiosChannel::Open("/nonexistent/ttyX", 9600, error), nullptr);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(CTermiosChannel::Open(pty_.SlavePath(), 0, error), nullptr);
    EXPECT_EQ(error, EINVAL);
}

TEST_F(TermiosChannelTest, OpeningDropsWhatWasQueuedBefore) {
    // Another program keeps the line open while stale bytes arrive, so they sit in its queue.
    const int earlier = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(earlier, 0) << "errno " << errno;
    pty_.Send({0xEE, 0xEE, 0xEE});
    std::this_thread::sleep_for(20ms);

    const auto channel = OpenSlave();
    ::close(earlier);
    ASSERT_NE(channel, nullptr);
    Bytes one(1);
    EXPECT_EQ(channel->Read(one, 50), EReadStatus::TimedOut);
    pty_.Send({0x42});
    ASSERT_EQ(channel->Read(one, 1000), EReadStatus::Completed);
    EXPECT_EQ(one[0], 0x42);
}

TEST_F(TermiosChannelTest, ControlBytesPassUnchangedInBothDirections) {
    const auto channel = OpenSlave();
    ASSERT_NE(channel, nullptr);
    // CR, LF, ^C, XON, XOFF, ^D, DEL and a high byte: each would be eaten or changed by a cooked
    // or flow-controlled line.
    const Bytes controls{0x0D, 0x0A, 0x03, 0x11, 0x13, 0x04, 0x7F, 0xFF};

    pty_.Send(controls);
    Bytes received(controls.size());
    ASSERT_EQ(channel->Read(received, 1000), EReadStatus::Completed);
    EXPECT_EQ(received, controls);

    ASSERT_TRUE(channel->Write(controls));
    EXPECT_EQ(pty_.Receive(controls.size()), controls);
}

TEST_F(TermiosChannelTest, WriteDeliversEveryByteToTheOtherSide) {
    const auto channel = OpenSlave(128000);
    ASSERT_NE(channel, nullptr);
    Bytes block(64 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    // Several times what a pty buffers: the write has to wait for room while the reader drains.
    Bytes received;
    std::thread reader([&] { received = pty_.Receive(block.size()); });
    EXPECT_TRUE(channel->Write(block));
    reader.join();
    EXPECT_EQ(received, block);
}

TEST_F(TermiosChannelTest, ReadWaitsForExactlyTheRequestedBytesArrivingInPieces) {
    const auto channel = OpenSlave();
    ASSERT_NE(channel, nullptr);
    pty_.Send({1, 2});
    std::thread sender([&] {
        std::this_thread::sleep_for(30ms);
        pty_.Send({3, 4, 5});
        std::this_thread::sleep_for(30ms);
        pty_.Send({6, 7, 8, 9});
    });
    Bytes first(6);
    const EReadStatus status = channel->Read(first, 2000);
    sender.join();
    ASSERT_EQ(status, EReadStatus::Completed);
    EXPECT_EQ(first, (Bytes{1, 2, 3, 4, 5, 6}));

    // The bytes beyond the request stay for the next read.
    Bytes rest(3);
    ASSERT_EQ(channel->Read(rest, 1000), EReadStatus::Completed);
    EXPECT_EQ(rest, (Bytes{7, 8, 9}));
}

TEST_F(TermiosChannelTest, TimedOutReadReturnsInTimeAndLeavesTheNextReadClean) {
    const auto channel = OpenSlave();
    ASSERT_NE(channel, nullptr);

    // Half a reply, then silence.
    pty_.Send({0xAA, 0xBB});
    Bytes reply(4);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel->Read(reply, 50), EReadStatus::TimedOut);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 50ms);
    EXPECT_LT(elapsed, 1s);

    // The half reply went with the failed read; the next read sees only the new bytes.
    pty_.Send({1, 2, 3, 4});
    Bytes next(4);
    ASSERT_EQ(channel->Read(next, 1000), EReadStatus::Completed);
    EXPECT_EQ(next, (Bytes{1, 2, 3, 4}));
}

TEST_F(TermiosChannelTest, ByteArrivingAfterATimeOutIsKeptForTheNextRead) {
    const auto channel = OpenSlave();
    ASSERT_NE(channel, nullptr);
    Bytes one(1);
    EXPECT_EQ(channel->Read(one, 20), EReadStatus::TimedOut);
    pty_.Send({0x5A});
    ASSERT_EQ(channel->Read(one, 1000), EReadStatus::Completed);
    EXPECT_EQ(one[0], 0x5A);
}

// Discarding drops what has arrived, says so, and keeps what comes afterwards.
TEST_F(TermiosChannelTest, DiscardDropsWhatArrivedBeforeAndKeepsWhatFollows) {
    const auto channel = OpenSlave();
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->DiscardInput()) << "nothing waiting";
    pty_.Send({'&', '&', '&'});
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(channel->DiscardInput());
    Bytes one(1);
    EXPECT_EQ(channel->Read(one, 50), EReadStatus::TimedOut);
    pty_.Send({0x42});
    ASSERT_EQ(channel->Read(one, 1000), EReadStatus::Completed);
    EXPECT_EQ(one[0], 0x42);
}

TEST_F(TermiosChannelTest, ReadFailsRatherThanTimesOutWhenTheLineHangsUp) {
    const auto channel = OpenSlave();
    ASSERT_NE(channel, nullptr);
    pty_.CloseMaster();
    Bytes reply(4);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel->Read(reply, 5000), EReadStatus::Failed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(TermiosChannelTest, SecondOpenIsRefusedWhileTheFirstHoldsThePort) {
    {
        const auto first = OpenSlave();
        ASSERT_NE(first, nullptr);
        int error = 0;
        EXPECT_EQ(CTermiosChannel::Open(pty_.SlavePath(), 9600, error), nullptr);
        EXPECT_EQ(error, EBUSY);

        // Programs that do not cooperate meet the kernel's exclusive flag, which only a
        // privileged process may pass; such a process can at least see the flag.
        const int raw = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (raw < 0) {
            EXPECT_EQ(errno, EBUSY);
        } else {
            int exclusive = 0;
            EXPECT_EQ(::ioctl(raw, TIOCGEXCL, &exclusive), 0);
            EXPECT_EQ(exclusive, 1);
            ::close(raw);
        }
    }
    // Closing gives the port back, to other programs too: the exclusive flag is lifted.
    const int raw = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(raw, 0) << "errno " << errno;
    int exclusive = 1;
    EXPECT_EQ(::ioctl(raw, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(raw);
    EXPECT_NE(OpenSlave(), nullptr);
}

TEST_F(TermiosChannelTest, ProbeOpensThePartBeforeTheFirstHashAndSeesAHeldPort) {
    CUdevSerialPlatform platform;
    const std::string usbStylePath = pty_.SlavePath() + "#0483&5750#SN#1";
    EXPECT_TRUE(platform.ProbePort(usbStylePath));
    EXPECT_TRUE(platform.ProbePort(pty_.SlavePath()));
    {
        const auto held = OpenSlave();
        ASSERT_NE(held, nullptr);
        EXPECT_FALSE(platform.ProbePort(usbStylePath));
    }
    // The probe itself leaves nothing behind that would block an open.
    EXPECT_TRUE(platform.ProbePort(usbStylePath));
    EXPECT_NE(OpenSlave(), nullptr);

    EXPECT_FALSE(platform.ProbePort("/dev/null"));
    EXPECT_FALSE(platform.ProbePort("/nonexistent/ttyX#0483&5750#SN"));
}

} // namespace
} // namespace crenovix
