// The simulated serial charger behind a pseudo-terminal, reached through the real termios
// adapter, in real time: the charger must hear each byte at the rate the program set.
#include "base/Clock.h"
#include "device/linux/TermiosChannel.h"
#include "sim/linux/SimPtyHost.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace crenovix::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAck = '&';
constexpr std::array<std::uint8_t, 16> kHostMask = {0x6B, 0x2E, 0x94, 0x03, 0xD7, 0x41, 0x5A, 0xC8,
                                                    0x1F, 0x70, 0xE2, 0x39, 0xA6, 0x0D, 0x5C, 0xB4};

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class SimPtyTest : public ::testing::Test {
protected:
    void Start(SSimSerialConfig config) {
        int error = 0;
        host_ = CSimPtyHost::Start(clock_, std::move(config), error);
        ASSERT_TRUE(host_) << "pseudo-terminal: errno " << error;
    }
    std::unique_ptr<CTermiosChannel> Open(std::uint32_t baud) {
        int error = 0;
        auto channel = CTermiosChannel::Open(host_->SlavePath(), baud, error);
        EXPECT_TRUE(channel) << "open at " << baud << ": errno " << error;
        return channel;
    }
    // Writes `bytes` and reads the one-byte answer; nothing when none came in time.
    static std::optional<std::uint8_t> Ask(CTermiosChannel& channel, const Bytes& bytes,
                                           std::uint32_t timeoutMs = 1000) {
        if (!channel.Write(bytes)) {
            return std::nullopt;
        }
        std::array<std::uint8_t, 1> answer{};
        if (channel.Read(answer, timeoutMs) != EReadStatus::Completed) {
            return std::nullopt;
        }
        return answer[0];
    }
    static Bytes WithXor(Bytes frame) {
        std::uint8_t x = 0;
        for (const std::uint8_t b : frame) {
            x ^= b;
        }
        frame.push_back(x);
        return frame;
    }

    CSteadyClock clock_;
    std::unique_ptr<CSimPtyHost> host_;
};

TEST_F(SimPtyTest, ChargerHearsEachStepAtTheRateTheProgramSet) {
    SSimSerialConfig config;
    config.identity.byModelCode = 0x0A;
    Start(config);
    {
        auto application = Open(9600);
        ASSERT_TRUE(application);
        const Bytes request = Text(":FF450AB2\r\n");
        for (std::size_t i = 0; i + 1 < request.size(); ++i) {
            ASSERT_TRUE(application->Write(Bytes{request[i]}));
        }
        EXPECT_EQ(Ask(*application, Bytes{request.back()}, 2000), kAck);
    }
    std::this_thread::sleep_for(150ms); // the boot loader takes over
    auto loader = Open(128000);
    ASSERT_TRUE(loader);
    EXPECT_EQ(Ask(*loader, Text("&&&u\x07")), kAck);
    const Bytes payload = Text("forty bytes of firmware for a charger..!");
    ASSERT_EQ(payload.size(), 40u);
    EXPECT_EQ(Ask(*loader, WithXor({0, 0, 0, 40})), kAck);
    for (std::size_t k = 0; k < 3; ++k) {
        Bytes frame;
        for (std::size_t i = 0; i < 16 && 16 * k + i < payload.size(); ++i) {
            frame.push_back(payload[16 * k + i] ^ kHostMask[i]);
        }
        EXPECT_EQ(Ask(*loader, WithXor(frame)), kAck) << "frame " << k;
    }

    const SSimResults results = host_->Results();
    EXPECT_TRUE(results.bComplete);
    EXPECT_EQ(results.payload, payload);
    EXPECT_EQ(results.BaudsAt(ESimStep::BootRequest), std::vector<std::uint32_t>{9600});
    EXPECT_EQ(results.BaudsAt(ESimStep::Knock), std::vector<std::uint32_t>{128000});
    EXPECT_EQ(results.BaudsAt(ESimStep::LastFrame), std::vector<std::uint32_t>{128000});
}

TEST_F(SimPtyTest, PlainPortBootLoaderIgnoresAKnockAtTheWrongRate) {
    SSimSerialConfig config;
    config.bUsb = false;
    config.bStartInBootLoader = true;
    Start(config);
    {
        auto fast = Open(128000);
        ASSERT_TRUE(fast);
        EXPECT_EQ(Ask(*fast, Text("&&&u\x07"), 300), std::nullopt);
    }
    auto slow = Open(9600);
    ASSERT_TRUE(slow);
    EXPECT_EQ(Ask(*slow, Text("&&&u\x07")), kAck);
    EXPECT_EQ(host_->Results().nNoiseBytes, 5);
}

TEST_F(SimPtyTest, DisappearingChargerHangsTheLineUp) {
    SSimSerialConfig config;
    config.bStartInBootLoader = true;
    config.faults = {{ESimStep::Knock, kSimAnyIndex, ESimFaultKind::Disappear}};
    Start(config);
    auto loader = Open(128000);
    ASSERT_TRUE(loader);
    // The line may already be gone while the write waits for it to drain; either way the knock
    // reached the charger.
    loader->Write(Text("&&&u\x07"));
    std::array<std::uint8_t, 1> answer{};
    EXPECT_EQ(loader->Read(answer, 2000), EReadStatus::Failed);
    EXPECT_FALSE(host_->IsLineUp());
}

TEST_F(SimPtyTest, StopsPromptlyWhileTheProgramHoldsTheLine) {
    Start(SSimSerialConfig{});
    auto held = Open(9600);
    ASSERT_TRUE(held);
    const auto before = std::chrono::steady_clock::now();
    host_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
}

} // namespace
} // namespace crenovix::sim
