#include "protocol/Frames.h"
#include "protocol/UpdateRun.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <string>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

std::string AsText(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(FramesTest, BootRequests) {
    EXPECT_EQ(AsText(EnterFrameHid(0xFF, 0x45, 0x0A)), ":FF450AFF450A64\r\n");
    EXPECT_EQ(AsText(EnterFrameSerial(0xFF, 0x45, 0x0A)), ":FF450AB2\r\n");
    // The check byte wraps modulo 256 and uses upper-case digits.
    EXPECT_EQ(AsText(EnterFrameHid(0xFF, 0x45, 0xFF)), ":FF45FFFF45FF7A\r\n");
    EXPECT_EQ(AsText(EnterFrameSerial(0x00, 0x00, 0x00)), ":00000000\r\n");
}

TEST(FramesTest, CrcWords) {
    const std::uint32_t zero = 0;
    EXPECT_EQ(CrcWords(std::span(&zero, 1)), 0xC704DD7Bu);
    std::uint32_t words[5] = {0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0xFFFFFFFF, 0};
    words[4] = CrcWords(std::span(words, 4));
    EXPECT_EQ(CrcWords(words), 0u);
    words[1] ^= 0x00010000;
    EXPECT_NE(CrcWords(words), 0u);
}

TEST(FramesTest, StartFrameLayout) {
    EXPECT_EQ(StartFrameModel(0, 0x90), 1u) << "masked transfers always send model 1";
    EXPECT_EQ(StartFrameModel(1, 0x90), 0xFFFFFF90u) << "the device code widens as a signed byte";
    EXPECT_EQ(StartFrameModel(7, 0x0A), 0x0Au);

    const auto frame = StartFrame(0x00012345, 0xFFFFFF90, 2103, 0x7FFF);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(frame.data())), "$START$");
    EXPECT_EQ(frame[7], 0);
    EXPECT_EQ(ReadLe32(&frame[8]), 0x00012345u);
    EXPECT_EQ(ReadLe32(&frame[12]), 64u);
    EXPECT_EQ(ReadLe32(&frame[16]), 0xFFFFFF90u);
    EXPECT_EQ(ReadLe32(&frame[20]), 1000u);
    EXPECT_EQ(ReadLe32(&frame[24]), 2103u);
    EXPECT_EQ(ReadLe32(&frame[28]), 0x00018B61u);
    EXPECT_EQ(ReadLe32(&frame[32]), 0x7FFFu);
}

TEST(FramesTest, RunTexts) {
    EXPECT_EQ(CompletionText(12050), "Upgrade completion! (12.05 Sec)");
    EXPECT_EQ(CompletionText(999), "Upgrade completion! (0.99 Sec)");
    EXPECT_EQ(CompletionText(60000), "Upgrade completion! (60.00 Sec)");
    EXPECT_EQ(CommunicationErrorText(1003), "1003: Error communication.\n");
}

TEST(FramesTest, NoncesStayWithinFifteenBits) {
    CNonceGenerator nonces(12345);
    std::uint16_t largest = 0;
    bool changed = false;
    std::uint16_t first = nonces.NextNonce();
    for (int i = 0; i < 100000; ++i) {
        const std::uint16_t value = nonces.NextNonce();
        largest = std::max(largest, value);
        changed |= value != first;
    }
    EXPECT_LE(largest, 32767);
    EXPECT_GT(largest, 32000) << "the whole range is used";
    EXPECT_TRUE(changed);
}

class XorFrameTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(port_.Open("COM1", 128000)); }

    bool Send(const std::vector<std::uint8_t>& data) {
        return SendXorFrame(port_, clock_, data.data(), data.size());
    }

    // The charger answers each check byte (a one-byte write; the frames sent here are longer)
    // with the next of `answers`.
    void AnswerChecks(std::vector<Bytes> answers) {
        opener_.line->onWrite = [answers = std::move(answers), next = std::size_t{0}](
                                    CFakeLine& line, std::span<const std::uint8_t> data) mutable {
            if (data.size() == 1 && next < answers.size()) {
                line.QueueBytes(answers[next++]);
            }
        };
    }

    CFakePortOpener opener_;
    CDevicePort port_{opener_};
    CVirtualClock clock_;
};

TEST_F(XorFrameTest, CheckByteAndAcceptance) {
    AnswerChecks({{'&'}});
    ASSERT_TRUE(Send({0x00, 0x01, 0x23, 0x45}));
    const auto& writes = opener_.line->Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], (Bytes{0x00, 0x01, 0x23, 0x45}));
    EXPECT_EQ(writes[1], (Bytes{0x67}));
    EXPECT_EQ(opener_.line->Reads().back().timeoutMs, 1000u);
    EXPECT_EQ(clock_.Now(), 1u);
}

TEST_F(XorFrameTest, ThreeResendsAreAllowedAndAFourthRefusalFails) {
    AnswerChecks({{'5'}, {'5'}, {'5'}, {'&'}});
    ASSERT_TRUE(Send({1, 2, 3}));
    // data, check, then three times data and check again
    EXPECT_EQ(opener_.line->Writes().size(), 8u);
    EXPECT_EQ(clock_.Now(), 3 * 5 + 1u);

    AnswerChecks({{'5'}, {'5'}, {'5'}, {'5'}});
    clock_ = CVirtualClock();
    EXPECT_FALSE(Send({1, 2, 3}));
    EXPECT_EQ(clock_.Now(), 3 * 5 + 10u);
}

TEST_F(XorFrameTest, SilenceOtherBytesAndFailedWritesFail) {
    EXPECT_FALSE(Send({9, 8})) << "no answer";
    AnswerChecks({{'x'}, {'&'}});
    EXPECT_FALSE(Send({9, 8})) << "another byte";
    const std::size_t next = opener_.line->Writes().size();
    opener_.line->FailWriteAt(next + 1);
    EXPECT_FALSE(Send({9, 8})) << "the check byte could not be written";
    EXPECT_TRUE(opener_.line->RepliesLeft()) << "a failed write does not wait for an answer";
}

// Input that nobody asked for fails the frame: a byte waiting when the check byte is due (it
// came before the frame was complete), and more input right behind an answer. Both are dropped,
// so neither is left for the next frame.
TEST_F(XorFrameTest, UnaskedInputFailsTheFrameAndIsDropped) {
    opener_.line->QueueBytes({'&'});
    EXPECT_FALSE(Send({9, 8})) << "a \"&\" waiting before the check byte";
    EXPECT_EQ(opener_.line->Discards(), std::vector<std::size_t>{1u}) << "after the data";
    EXPECT_EQ(opener_.line->Writes().size(), 1u) << "the check byte that would ask is not sent";
    EXPECT_EQ(clock_.Now(), 10u);

    AnswerChecks({{'&', '&'}, {'5', '&'}, {'&'}});
    EXPECT_FALSE(Send({9, 8})) << "\"&&\"";
    EXPECT_FALSE(Send({9, 8})) << "\"5\" with a stray \"&\" is not a request to resend";
    EXPECT_TRUE(Send({9, 8})) << "nothing of the earlier answers is left";
    EXPECT_FALSE(opener_.line->RepliesLeft());
}

} // namespace
