#include "device/win32/Win32PortOpener.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace crenovix {
namespace {

TEST(Win32PortOpener, SerialPathsFollowTheComRule) {
    CWin32PortOpener opener;
    EXPECT_EQ(opener.SerialPathFor("COM9"), "COM9");
    EXPECT_EQ(opener.SerialPathFor("com10"), "\\\\.\\COM10");
    EXPECT_EQ(opener.SerialPathFor("COM256"), "\\\\.\\COM256");
    EXPECT_EQ(opener.SerialPathFor("COM257"), std::nullopt);
    EXPECT_EQ(opener.SerialPathFor("LPT1"), std::nullopt);
    EXPECT_EQ(opener.SerialPathFor("ttyACM0"), std::nullopt);
}

TEST(Win32PortOpener, AbsentComPortFailsCleanly) {
    CWin32PortOpener opener;
    EXPECT_EQ(opener.OpenSerial("\\\\.\\COM199", 9600), nullptr);
    EXPECT_NE(opener.LastError(), 0u);

    CDevicePort port(opener);
    EXPECT_FALSE(port.Open("COM199", 9600));
    EXPECT_FALSE(port.IsOpen());
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

// The channel over one end of a pipe opened for overlapped I/O; the test holds the other end,
// which it reads and writes plainly.
class OverlappedChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int count = 0;
        const std::string name = "\\\\.\\pipe\\crenovix-test-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(++count);
        peer_ = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                 nullptr);
        ASSERT_NE(peer_, INVALID_HANDLE_VALUE);
        const HANDLE end = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(end, INVALID_HANDLE_VALUE);
        ASSERT_FALSE(ConnectNamedPipe(peer_, nullptr));
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
        channel_ = AdoptOverlappedHandle(end);
        ASSERT_NE(channel_, nullptr);
    }
    void TearDown() override {
        channel_.reset();
        ClosePeer();
    }

    void PeerWrite(const std::string& text) {
        DWORD written = 0;
        ASSERT_TRUE(
            WriteFile(peer_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
        ASSERT_EQ(written, text.size());
    }
    void ClosePeer() {
        if (peer_ != INVALID_HANDLE_VALUE) {
            CloseHandle(peer_);
            peer_ = INVALID_HANDLE_VALUE;
        }
    }

    HANDLE peer_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<IPortChannel> channel_;
};

TEST_F(OverlappedChannelTest, TimedOutReadIsCancelledAndTheNextReadGetsTheBytes) {
    std::array<std::uint8_t, 4> buffer{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel_->Read(buffer, 150), EReadStatus::TimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(140));
    EXPECT_LT(waited, std::chrono::seconds(5));

    PeerWrite("ABCD");
    ASSERT_EQ(channel_->Read(buffer, 2000), EReadStatus::Completed);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "ABCD");
}

TEST_F(OverlappedChannelTest, WriteDeliversEveryByte) {
    std::vector<std::uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(channel_->Write(data));

    std::vector<std::uint8_t> received(data.size());
    DWORD total = 0;
    while (total < received.size()) {
        DWORD got = 0;
        ASSERT_TRUE(ReadFile(peer_, received.data() + total,
                             static_cast<DWORD>(received.size() - total), &got, nullptr));
        total += got;
    }
    EXPECT_EQ(received, data);
}

// A peer that stops taking bytes must not hang the program: the write gives up after its bound,
// and the channel still works afterwards.
TEST_F(OverlappedChannelTest, AWriteNobodyTakesGivesUpAfterItsBound) {
    const std::vector<std::uint8_t> data(64 * 1024, 0x55); // far more than the pipe holds
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(channel_->Write(data));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(kWriteGraceMs - 100));
    EXPECT_LT(waited, std::chrono::milliseconds(kWriteGraceMs + 5000));

    PeerWrite("WXYZ");
    std::array<std::uint8_t, 4> buffer{};
    ASSERT_EQ(channel_->Read(buffer, 2000), EReadStatus::Completed);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "WXYZ");
}

// A handle without a line (here a pipe, as a HID interface) is drained without waiting.
TEST_F(OverlappedChannelTest, DiscardDropsWhatArrivedBeforeAndKeepsWhatFollows) {
    EXPECT_FALSE(channel_->DiscardInput()) << "nothing waiting";
    PeerWrite("&&&&");
    EXPECT_TRUE(channel_->DiscardInput());
    std::array<std::uint8_t, 2> buffer{};
    EXPECT_EQ(channel_->Read(buffer, 50), EReadStatus::TimedOut);
    PeerWrite("OK");
    ASSERT_EQ(channel_->Read(buffer, 2000), EReadStatus::Completed);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "OK");
}

TEST_F(OverlappedChannelTest, ReadFromAClosedPeerFails) {
    ClosePeer();
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_EQ(channel_->Read(buffer, 1000), EReadStatus::Failed);
}

} // namespace
} // namespace crenovix
