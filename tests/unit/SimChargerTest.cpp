// The simulated chargers, driven with host frames built here from the wire format (not from the
// simulator's own helpers), on a virtual clock.
#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "device/HidDiscovery.h"
#include "device/SerialEnumeration.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

using namespace crenovix;
using namespace crenovix::sim;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Answer = std::optional<std::uint8_t>;

constexpr std::uint8_t kAck = '&';
constexpr std::uint8_t kNak = '5';
constexpr std::uint8_t kCode = 0x0A;
constexpr std::array<std::uint8_t, 16> kHostMask = {0x6B, 0x2E, 0x94, 0x03, 0xD7, 0x41, 0x5A, 0xC8,
                                                    0x1F, 0x70, 0xE2, 0x39, 0xA6, 0x0D, 0x5C, 0xB4};

std::string Hex(unsigned value) {
    std::array<char, 3> text{};
    std::snprintf(text.data(), text.size(), "%02X", value & 0xFFu);
    return text.data();
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes HidBootRequest(std::uint8_t code) {
    const std::string body = "FF45" + Hex(code);
    return Text(":" + body + body + Hex(0u - 2u * (0xFFu + 0x45u + code)) + "\r\n");
}

Bytes SerialBootRequest(std::uint8_t code) {
    return Text(":FF45" + Hex(code) + Hex(0u - (0xFFu + 0x45u + code)) + "\r\n");
}

// MSB-first CRC in its textbook form: the word goes into the register, then 32 shifts.
std::uint32_t HostCrc(const std::vector<std::uint32_t>& words) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const std::uint32_t word : words) {
        crc ^= word;
        for (int i = 0; i < 32; ++i) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

void PutLe(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t ReplyWord(const SimHidReport& report, std::size_t word) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{report[1 + 4 * word + i]} << (8 * i);
    }
    return value;
}

struct SStart {
    std::uint32_t length = 0;
    std::uint32_t model = 1;
    std::uint32_t nonce = 0x1234;
    std::uint32_t blockSize = 64;
    std::uint32_t constantA = 1000;
    std::uint32_t constantB = 101217;
    std::string magic = std::string("$START$", 8);
};

Bytes StartFrame(const SStart& start) {
    Bytes frame(36, 0);
    std::copy(start.magic.begin(), start.magic.end(), frame.begin());
    PutLe(frame, 8, start.length);
    PutLe(frame, 12, start.blockSize);
    PutLe(frame, 16, start.model);
    PutLe(frame, 20, start.constantA);
    PutLe(frame, 24, 1000); // version V1.00
    PutLe(frame, 28, start.constantB);
    PutLe(frame, 32, start.nonce);
    return frame;
}

Bytes Payload(std::size_t n) {
    Bytes bytes(n);
    std::uint32_t x = 0x2545F491;
    for (std::uint8_t& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

SimHidReport AsReport(const Bytes& data) {
    SimHidReport report{};
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 64), report.begin() + 1);
    return report;
}

// The host's side of the HID dialogue, one frame per call.
class CHidHost {
public:
    CHidHost(CVirtualClock& clock, CSimHidCharger& charger) : clock_(clock), charger_(charger) {}

    std::optional<SimHidReport> Send(const Bytes& data) {
        return charger_.HandleReport(AsReport(data));
    }
    Answer SendCode(const Bytes& data) {
        const auto reply = Send(data);
        return reply ? Answer((*reply)[1]) : std::nullopt;
    }
    void EnterBootLoader() {
        ASSERT_EQ(SendCode(HidBootRequest(kCode)), kAck);
        clock_.Advance(charger_.Config().dwReenumerateMs);
        ASSERT_TRUE(charger_.InBootLoader());
    }
    Answer Start(std::size_t length, bool bMasked, std::uint32_t model = kCode) {
        start_ = SStart{static_cast<std::uint32_t>(length), bMasked ? 1u : model, ++nonce_};
        lastStartReply_ = Send(StartFrame(start_));
        if (!lastStartReply_) {
            return std::nullopt;
        }
        key_ = ReplyWord(*lastStartReply_, 2);
        masked_ = bMasked;
        return (*lastStartReply_)[1];
    }
    Answer Key() {
        const std::uint32_t word = key_ ^ start_.nonce;
        transferKey_ = word + start_.length;
        Bytes data(4);
        PutLe(data, 0, word);
        return SendCode(data);
    }
    Answer Block(const Bytes& payload, std::size_t k) {
        Bytes block(64, 0);
        for (std::size_t i = 0; i < 64 && 64 * k + i < payload.size(); ++i) {
            block[i] = payload[64 * k + i];
        }
        if (masked_) {
            for (std::size_t i = 0; i < 64; ++i) {
                block[i] ^=
                    static_cast<std::uint8_t>(transferKey_ >> (8 * (i % 4))) ^ kHostMask[i % 16];
            }
        }
        return SendCode(block);
    }
    void Transfer(const Bytes& payload, bool bMasked) {
        ASSERT_EQ(Start(payload.size(), bMasked), kAck);
        ASSERT_EQ(Key(), kAck);
        for (std::size_t k = 0; k < (payload.size() + 63) / 64; ++k) {
            ASSERT_EQ(Block(payload, k), kAck) << "block " << k;
        }
    }
    // The host's check: the CRC over the nonce and reply words 1 to 4 is zero.
    bool StartReplyChecks() const {
        std::vector<std::uint32_t> words = {start_.nonce};
        for (std::size_t w = 1; w < 5; ++w) {
            words.push_back(ReplyWord(*lastStartReply_, w));
        }
        return HostCrc(words) == 0;
    }
    std::uint32_t KeyValue() const { return key_; }

private:
    CVirtualClock& clock_;
    CSimHidCharger& charger_;
    SStart start_;
    std::uint32_t nonce_ = 0x4000;
    std::uint32_t key_ = 0;
    std::uint32_t transferKey_ = 0;
    bool masked_ = false;
    std::optional<SimHidReport> lastStartReply_;
};

// The host's side of the serial dialogue; every byte goes at `baud`, paced on the clock.
class CSerialHost {
public:
    CSerialHost(CVirtualClock& clock, CSimSerialCharger& charger)
        : clock_(clock), charger_(charger) {}

    Answer Send(const Bytes& bytes, std::uint32_t baud, std::uint32_t pauseMs = 0) {
        Answer last;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i > 0) {
                clock_.Advance(pauseMs);
            }
            if (const Answer reply = charger_.HandleByte(bytes[i], baud)) {
                EXPECT_FALSE(last.has_value()) << "more than one answer to one frame";
                last = reply;
            }
        }
        return last;
    }
    Answer BootRequest(std::uint8_t code = kCode) {
        return Send(SerialBootRequest(code), 9600, 50);
    }
    Answer Knock(std::uint32_t baud) { return Send(Text("&&&u\x07"), baud, 25); }
    Answer Length(std::uint32_t length, std::uint32_t baud) {
        Bytes frame = {static_cast<std::uint8_t>(length >> 24),
                       static_cast<std::uint8_t>(length >> 16),
                       static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
        return SendXor(frame, baud);
    }
    // Frame k of the payload: 16 bytes, or what is left for the last one.
    Answer Frame(const Bytes& payload, std::size_t k, std::uint32_t baud) {
        Bytes frame;
        for (std::size_t i = 0; i < 16 && 16 * k + i < payload.size(); ++i) {
            frame.push_back(payload[16 * k + i] ^ kHostMask[i]);
        }
        return SendXor(frame, baud);
    }
    Answer SendXor(Bytes frame, std::uint32_t baud, std::uint8_t spoil = 0) {
        std::uint8_t x = spoil;
        for (const std::uint8_t b : frame) {
            x ^= b;
        }
        frame.push_back(x);
        return Send(frame, baud);
    }
    // Boot request to the end of the payload, as a healthy charger takes it.
    void Update(const Bytes& payload, std::uint32_t loaderBaud) {
        ASSERT_EQ(BootRequest(), kAck);
        clock_.Advance(150);
        Transfer(payload, loaderBaud);
    }
    // Knock to the end of the payload.
    void Transfer(const Bytes& payload, std::uint32_t loaderBaud) {
        ASSERT_EQ(Knock(loaderBaud), kAck);
        clock_.Advance(50);
        ASSERT_EQ(Length(static_cast<std::uint32_t>(payload.size()), loaderBaud), kAck);
        for (std::size_t k = 0; k < (payload.size() + 15) / 16; ++k) {
            ASSERT_EQ(Frame(payload, k, loaderBaud), kAck) << "frame " << k;
        }
    }

private:
    CVirtualClock& clock_;
    CSimSerialCharger& charger_;
};

SSimHidConfig HidConfig(std::vector<SFault> faults = {}) {
    SSimHidConfig config;
    config.identity.byModelCode = kCode;
    config.faults = std::move(faults);
    return config;
}

SSimSerialConfig SerialConfig(bool bUsb, std::vector<SFault> faults = {}) {
    SSimSerialConfig config;
    config.identity.byModelCode = kCode;
    config.bUsb = bUsb;
    config.faults = std::move(faults);
    return config;
}

int FaultEvents(const SSimResults& results, ESimFaultKind kind) {
    return static_cast<int>(std::count_if(results.events.begin(), results.events.end(),
                                          [kind](const SSimEvent& e) { return e.fault == kind; }));
}

// ---- Wire format -------------------------------------------------------------------------------

TEST(SimWire, CrcWordsMatchesTheReferenceAndChecksToZero) {
    EXPECT_EQ(CrcWords(std::vector<std::uint32_t>{0}), 0xC704DD7Bu);
    std::vector<std::uint32_t> words = {0x00000026, 0x00010002, 0xDEADBEEF, 0x00080000};
    for (std::uint32_t seed = 1; seed < 50; ++seed) {
        words[0] = seed * 2654435761u;
        words[2] ^= seed << 7;
        const std::uint32_t crc = CrcWords(words);
        EXPECT_EQ(crc, HostCrc(words));
        std::vector<std::uint32_t> closed = words;
        closed.push_back(crc);
        EXPECT_EQ(CrcWords(closed), 0u);
    }
}

TEST(SimWire, BootRequestParsersTakeOnlyWellFormedText) {
    const Bytes hid = Text(":FF450AFF450A64\r\n");
    EXPECT_EQ(HidBootRequest(0x0A), hid);
    ASSERT_TRUE(ParseHidBootRequest(hid));
    EXPECT_EQ(ParseHidBootRequest(hid)->b2, 0x0A);
    const Bytes serial = Text(":FF450AB2\r\n");
    EXPECT_EQ(SerialBootRequest(0x0A), serial);
    ASSERT_TRUE(ParseSerialBootRequest(serial));
    EXPECT_EQ(ParseSerialBootRequest(serial)->b2, 0x0A);

    for (const char* bad : {":FF450AFF450A65\r\n", ":ff450aff450a64\r\n", ":FF450AFF450B64\r\n",
                            ":FF450AFE450A64\r\n", ":FF450AFF440A64\r\n", ":FF450AFF450A64\n\r",
                            "FF450AFF450A64\r\n", ":FF450AFF450A64\r"}) {
        EXPECT_FALSE(ParseHidBootRequest(Text(bad))) << bad;
    }
    for (const char* bad : {":FF450AB3\r\n", ":ff450ab2\r\n", ":FF450AB2\r", ":FF450AB2\r\n\n"}) {
        EXPECT_FALSE(ParseSerialBootRequest(Text(bad))) << bad;
    }
}

// ---- HID charger -------------------------------------------------------------------------------

TEST(SimHidCharger, AcceptedBootRequestReenumeratesInTheBootLoaderOnTime) {
    CVirtualClock clock;
    SSimHidConfig config = HidConfig();
    config.dwReenumerateMs = 2300;
    CSimHidCharger charger(clock, config);
    CHidHost host(clock, charger);
    EXPECT_EQ(host.SendCode(HidBootRequest(0x0B)), kNak);
    EXPECT_EQ(host.SendCode(Text(":FF450AFF450A65\r\n")), std::nullopt);
    EXPECT_EQ(host.SendCode(StartFrame({})), std::nullopt); // the application knows no start
    clock.Advance(500);
    const std::uint64_t before = charger.Instance();

    ASSERT_EQ(host.SendCode(HidBootRequest(kCode)), kAck);
    EXPECT_NE(charger.Instance(), before);
    clock.Advance(2299);
    EXPECT_FALSE(charger.IsPresent());
    EXPECT_EQ(host.SendCode(StartFrame({})), std::nullopt); // nobody there to answer
    clock.Advance(1);
    EXPECT_TRUE(charger.InBootLoader());
    ASSERT_EQ(charger.Results().Frames(ESimStep::Reconnection), 1);
    EXPECT_EQ(charger.Results().events.back().timeMs, 2800u);
}

class SimHidTransfer : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(SimHidTransfer, StoresExactlyThePlainPayload) {
    const auto [length, bMasked] = GetParam();
    CVirtualClock clock;
    CSimHidCharger charger(clock, HidConfig());
    CHidHost host(clock, charger);
    const Bytes payload = Payload(length);

    host.EnterBootLoader();
    host.Transfer(payload, bMasked);

    const SSimResults& results = charger.Results();
    EXPECT_TRUE(results.bComplete);
    EXPECT_EQ(results.payload, payload);
    EXPECT_EQ(results.bMasked, bMasked);
    EXPECT_TRUE(results.bPaddingZero);
    EXPECT_EQ(results.Frames(ESimStep::DataBlock), static_cast<int>((length + 63) / 64));
    // The new firmware starts: the charger leaves and comes back as application.
    EXPECT_FALSE(charger.IsPresent());
    clock.Advance(charger.Config().dwReenumerateMs);
    EXPECT_TRUE(charger.IsPresent());
    EXPECT_FALSE(charger.InBootLoader());
}

INSTANTIATE_TEST_SUITE_P(LengthsAndMasking, SimHidTransfer,
                         ::testing::Combine(::testing::Values(0, 1, 63, 64, 65, 200),
                                            ::testing::Bool()));

TEST(SimHidCharger, StartReplyChecksAndCarriesAFreshKeyPerSession) {
    CVirtualClock clock;
    CSimHidCharger charger(clock, HidConfig());
    CHidHost host(clock, charger);
    host.EnterBootLoader();

    std::vector<std::uint32_t> keys;
    for (int session = 0; session < 3; ++session) {
        ASSERT_EQ(host.Start(100, true), kAck);
        EXPECT_TRUE(host.StartReplyChecks());
        keys.push_back(host.KeyValue());
    }
    EXPECT_NE(keys[0], keys[1]);
    EXPECT_NE(keys[1], keys[2]);
}

TEST(SimHidCharger, RefusesStartFramesThatFailAnyCheck) {
    CVirtualClock clock;
    SSimHidConfig config = HidConfig();
    config.identity.byModelCode = 0x90;
    config.dwFlashCapacity = 4096;
    CSimHidCharger charger(clock, config);
    CHidHost host(clock, charger);
    ASSERT_EQ(host.SendCode(HidBootRequest(0x90)), kAck);
    clock.Advance(config.dwReenumerateMs);

    const SStart good{100, 0xFFFFFF90u};
    std::vector<SStart> bad(7, good);
    bad[0].magic = std::string("$START#", 8);
    bad[1].blockSize = 32;
    bad[2].constantA = 999;
    bad[3].constantB = 101218;
    bad[4].model = 0x90; // the code must come sign-extended
    bad[5].model = 0xFFFFFF91;
    bad[6].length = 4097;
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_EQ(host.SendCode(StartFrame(bad[i])), kNak) << "case " << i;
    }
    EXPECT_EQ(host.SendCode(Bytes{1, 2, 3, 4}), kNak); // not a start frame at all
    EXPECT_EQ(host.SendCode(StartFrame(good)), kAck);
    EXPECT_EQ(charger.Results().Replies(ESimStep::StartFrame, kNak), 8);
}

TEST(SimHidCharger, WrongKeyWordIsRefusedAndTheSessionStartsOver) {
    CVirtualClock clock;
    CSimHidCharger charger(clock, HidConfig());
    CHidHost host(clock, charger);
    host.EnterBootLoader();
    ASSERT_EQ(host.Start(64, true), kAck);
    EXPECT_EQ(host.SendCode(Bytes{0x11, 0x22, 0x33, 0x44}), kNak);
    EXPECT_EQ(host.Key(), kNak); // the right key is too late: a start frame must come first

    const Bytes payload = Payload(64);
    host.Transfer(payload, true);
    EXPECT_EQ(charger.Results().payload, payload);
}

TEST(SimHidCharger, BootLoaderAnswersABootRequestAsConfiguredAndDropsItsSession) {
    for (const bool bOther : {false, true}) {
        CVirtualClock clock;
        SSimHidConfig config = HidConfig();
        config.bStartInBootLoader = true;
        config.inLoaderReply = bOther ? ESimInLoaderReply::OtherByte : ESimInLoaderReply::Silent;
        config.byInLoaderOther = 0x77;
        CSimHidCharger charger(clock, config);
        CHidHost host(clock, charger);
        const Bytes payload = Payload(200);
        ASSERT_EQ(host.Start(payload.size(), false), kAck);
        ASSERT_EQ(host.Key(), kAck);
        ASSERT_EQ(host.Block(payload, 0), kAck);

        EXPECT_EQ(host.SendCode(HidBootRequest(kCode)), bOther ? Answer(0x77) : std::nullopt);
        EXPECT_TRUE(charger.InBootLoader());
        host.Transfer(payload, false);
        EXPECT_EQ(charger.Results().payload, payload);
        EXPECT_EQ(charger.Results().nTransfers, 2);
    }
}

TEST(SimHidCharger, NoticesNonZeroPaddingInTheLastBlock) {
    CVirtualClock clock;
    CSimHidCharger charger(clock, HidConfig());
    CHidHost host(clock, charger);
    host.EnterBootLoader();
    ASSERT_EQ(host.Start(10, false), kAck);
    ASSERT_EQ(host.Key(), kAck);
    Bytes block = Payload(10);
    block.resize(64, 0xEE);
    EXPECT_EQ(host.SendCode(block), kAck);
    EXPECT_TRUE(charger.Results().bComplete);
    EXPECT_FALSE(charger.Results().bPaddingZero);
    EXPECT_EQ(charger.Results().payload, Payload(10));
}

// ---- Serial charger ----------------------------------------------------------------------------

TEST(SimSerialCharger, ApplicationTakesTheBootRequestOneCharacterAtATime) {
    CVirtualClock clock;
    CSimSerialCharger charger(clock, SerialConfig(true));
    CSerialHost host(clock, charger);

    const Bytes request = SerialBootRequest(kCode);
    for (std::size_t i = 0; i + 1 < request.size(); ++i) {
        EXPECT_EQ(charger.HandleByte(request[i], 9600), std::nullopt);
    }
    clock.Advance(50);
    EXPECT_EQ(charger.HandleByte(request.back(), 9600), kAck);
    clock.Advance(99);
    EXPECT_FALSE(charger.InBootLoader()); // still starting
    clock.Advance(1);
    EXPECT_TRUE(charger.InBootLoader());

    CSimSerialCharger other(clock, SerialConfig(true));
    CSerialHost otherHost(clock, other);
    EXPECT_EQ(otherHost.BootRequest(0x0B), kNak);
    EXPECT_EQ(otherHost.Send(Text(":FF450AB3\r\n"), 9600), std::nullopt);
    EXPECT_EQ(otherHost.Send(request, 128000), std::nullopt); // wrong rate: noise
    EXPECT_EQ(other.Results().nNoiseBytes, 11);
    EXPECT_FALSE(other.InBootLoader());
}

class SimSerialTransfer : public ::testing::TestWithParam<std::tuple<std::size_t, bool>> {};

TEST_P(SimSerialTransfer, StoresThePlainPayloadAndRecordsTheRates) {
    const auto [length, bUsb] = GetParam();
    CVirtualClock clock;
    CSimSerialCharger charger(clock, SerialConfig(bUsb));
    CSerialHost host(clock, charger);
    const std::uint32_t loaderBaud = bUsb ? 128000 : 9600;
    const Bytes payload = Payload(length);

    host.Update(payload, loaderBaud);

    const SSimResults& results = charger.Results();
    EXPECT_TRUE(results.bComplete);
    EXPECT_EQ(results.payload, payload);
    EXPECT_EQ(results.Frames(ESimStep::DataFrame), static_cast<int>(length / 16));
    EXPECT_EQ(results.Frames(ESimStep::LastFrame), length % 16 ? 1 : 0);
    EXPECT_EQ(results.BaudsAt(ESimStep::BootRequest), std::vector<std::uint32_t>{9600});
    EXPECT_EQ(results.BaudsAt(ESimStep::Knock), std::vector<std::uint32_t>{loaderBaud});
    EXPECT_EQ(results.BaudsAt(ESimStep::LengthFrame), std::vector<std::uint32_t>{loaderBaud});
    EXPECT_FALSE(charger.InBootLoader()); // back in the (new) application firmware
}

INSTANTIATE_TEST_SUITE_P(LengthsAndPorts, SimSerialTransfer,
                         ::testing::Combine(::testing::Values(0, 15, 16, 32, 33, 100),
                                            ::testing::Bool()));

TEST(SimSerialCharger, WrongXorGetsAResendRequest) {
    CVirtualClock clock;
    SSimSerialConfig config = SerialConfig(true);
    config.bStartInBootLoader = true;
    CSimSerialCharger charger(clock, config);
    CSerialHost host(clock, charger);
    const Bytes payload = Payload(20);

    ASSERT_EQ(host.Knock(128000), kAck);
    EXPECT_EQ(host.SendXor({0, 0, 0, 20}, 128000, 0x01), kNak);
    EXPECT_EQ(host.Length(20, 128000), kAck);
    Bytes frame;
    for (std::size_t i = 0; i < 16; ++i) {
        frame.push_back(payload[i] ^ kHostMask[i]);
    }
    EXPECT_EQ(host.SendXor(frame, 128000, 0x80), kNak);
    EXPECT_EQ(host.Frame(payload, 0, 128000), kAck);
    EXPECT_EQ(host.Frame(payload, 1, 128000), kAck);
    EXPECT_EQ(charger.Results().payload, payload);
    EXPECT_EQ(charger.Results().Replies(ESimStep::DataFrame, kNak), 1);
}

TEST(SimSerialCharger, BootLoaderHearsOnlyItsOwnRate) {
    CVirtualClock clock;
    SSimSerialConfig config = SerialConfig(false);
    config.bStartInBootLoader = true;
    CSimSerialCharger plain(clock, config);
    CSerialHost host(clock, plain);
    EXPECT_EQ(host.Knock(128000), std::nullopt);
    EXPECT_EQ(plain.Results().nNoiseBytes, 5);
    clock.Advance(1000);
    EXPECT_EQ(host.Send(Text("&u\x07"), 9600, 20), kAck); // the short knock will do too
}

TEST(SimSerialCharger, StartsOverAfterTheHostsPause) {
    CVirtualClock clock;
    CSimSerialCharger charger(clock, SerialConfig(false));
    CSerialHost host(clock, charger);
    const Bytes payload = Payload(40);
    ASSERT_EQ(host.BootRequest(), kAck);
    clock.Advance(150);
    ASSERT_EQ(host.Knock(9600), kAck);
    ASSERT_EQ(host.Length(40, 9600), kAck);
    ASSERT_EQ(host.Frame(payload, 0, 9600), kAck);
    EXPECT_EQ(host.Send(Bytes(5, 0x00), 9600), std::nullopt); // a frame cut short

    clock.Advance(510);
    EXPECT_EQ(host.BootRequest(), std::nullopt); // already in its boot loader
    EXPECT_TRUE(charger.InBootLoader());
    clock.Advance(2000); // the host waits out its read
    host.Transfer(payload, 9600);
    EXPECT_EQ(charger.Results().payload, payload);
    EXPECT_EQ(charger.Results().nTransfers, 2);
    EXPECT_EQ(charger.Results().nCompleted, 1);
}

// ---- Faults ------------------------------------------------------------------------------------

Answer ExpectedAnswer(ESimFaultKind kind) {
    if (kind == ESimFaultKind::Silence) {
        return std::nullopt;
    }
    return kind == ESimFaultKind::Refuse ? kNak : std::uint8_t{0x58};
}

struct SAnswerCase {
    ESimTransport transport;
    ESimStep step;
    ESimFaultKind kind;
};

// Every step at which each transport can replace its answer, as a matrix would pick them.
std::vector<SAnswerCase> AnswerCases() {
    std::vector<SAnswerCase> cases;
    for (const ESimTransport transport : {ESimTransport::Hid, ESimTransport::Serial}) {
        for (int step = 0; step <= static_cast<int>(ESimStep::Knock); ++step) {
            for (const ESimFaultKind kind :
                 {ESimFaultKind::Silence, ESimFaultKind::OtherByte, ESimFaultKind::Refuse}) {
                if (SimFaultApplies(transport, static_cast<ESimStep>(step), kind)) {
                    cases.push_back({transport, static_cast<ESimStep>(step), kind});
                }
            }
        }
    }
    return cases;
}

class SimAnswerFault : public ::testing::TestWithParam<SAnswerCase> {};

// The host's script is played step by step; at the faulty step it tries twice more, as the
// dialogues do after a refusal.
TEST_P(SimAnswerFault, ReplacesTheAnswerCountTimesThenTheTransferCompletes) {
    using enum ESimStep;
    const SAnswerCase fault = GetParam();
    const bool bHid = fault.transport == ESimTransport::Hid;
    const bool bNumbered = fault.step == DataBlock || fault.step == DataFrame;
    const std::vector<SFault> faults = {
        {fault.step, bNumbered ? 1 : kSimAnyIndex, fault.kind, 2, 0x58}};
    CVirtualClock clock;
    CSimHidCharger hid(clock, HidConfig(faults));
    CSimSerialCharger serial(clock, SerialConfig(true, faults));
    CHidHost hidHost(clock, hid);
    CSerialHost serialHost(clock, serial);
    const Bytes payload = Payload(bHid ? 150 : 40); // three blocks; two frames and a short one
    std::vector<std::pair<ESimStep, int>> script;
    if (bHid) {
        script = {{BootRequest, -1}, {StartFrame, -1}, {KeyWord, -1},
                  {DataBlock, 0},    {DataBlock, 1},   {DataBlock, 2}};
    } else {
        script = {{BootRequest, -1}, {Knock, -1},    {LengthFrame, -1},
                  {DataFrame, 0},    {DataFrame, 1}, {LastFrame, 2}};
    }
    // A key word is taken only right after a start frame, so a retry sends both.
    const auto play = [&](ESimStep step, int k, bool bRetry) -> Answer {
        switch (step) {
        case BootRequest:
            return bHid ? hidHost.SendCode(HidBootRequest(kCode)) : serialHost.BootRequest();
        case StartFrame:
            return hidHost.Start(payload.size(), true);
        case KeyWord:
            if (bRetry) {
                EXPECT_EQ(hidHost.Start(payload.size(), true), kAck);
            }
            return hidHost.Key();
        case DataBlock:
            return hidHost.Block(payload, static_cast<std::size_t>(k));
        case Knock:
            return serialHost.Knock(128000);
        case LengthFrame:
            return serialHost.Length(static_cast<std::uint32_t>(payload.size()), 128000);
        default:
            return serialHost.Frame(payload, static_cast<std::size_t>(k), 128000);
        }
    };
    for (const auto& [step, k] : script) {
        const bool bFaulty = step == fault.step && (!bNumbered || k == 1);
        for (int attempt = 0; bFaulty && attempt < 2; ++attempt) {
            EXPECT_EQ(play(step, k, attempt > 0), ExpectedAnswer(fault.kind)) << ToString(step);
        }
        ASSERT_EQ(play(step, k, bFaulty), kAck) << ToString(step) << " " << k;
        if (step == BootRequest) {
            clock.Advance(bHid ? hid.Config().dwReenumerateMs : 150);
        }
    }
    const SSimResults& results = bHid ? hid.Results() : serial.Results();
    EXPECT_EQ(FaultEvents(results, fault.kind), 2);
    EXPECT_EQ(results.payload, payload);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SimAnswerFault, ::testing::ValuesIn(AnswerCases()), [](const auto& info) {
        const SAnswerCase& c = info.param;
        std::string name = std::string(c.transport == ESimTransport::Hid ? "hid " : "serial ") +
                           std::string(ToString(c.step)) + " " + std::string(ToString(c.kind));
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(SimHidFaults, WrongCrcSpoilsOneStartReply) {
    CVirtualClock clock;
    CSimHidCharger charger(
        clock, HidConfig({{ESimStep::StartFrame, kSimAnyIndex, ESimFaultKind::WrongCrc}}));
    CHidHost host(clock, charger);
    host.EnterBootLoader();
    ASSERT_EQ(host.Start(10, true), kAck);
    EXPECT_FALSE(host.StartReplyChecks());
    ASSERT_EQ(host.Start(10, true), kAck);
    EXPECT_TRUE(host.StartReplyChecks());
}

TEST(SimHidFaults, NeverReturnKeepsTheChargerAway) {
    CVirtualClock clock;
    CSimHidCharger charger(
        clock, HidConfig({{ESimStep::Reconnection, kSimAnyIndex, ESimFaultKind::NeverReturn}}));
    CHidHost host(clock, charger);
    ASSERT_EQ(host.SendCode(HidBootRequest(kCode)), kAck);
    clock.Advance(3600 * 1000);
    EXPECT_FALSE(charger.IsPresent());
}

TEST(SimSerialFaults, NeverReturnLeavesTheLineDead) {
    CVirtualClock clock;
    CSimSerialCharger charger(clock, SerialConfig(true, {{ESimStep::Reconnection, kSimAnyIndex,
                                                          ESimFaultKind::NeverReturn}}));
    CSerialHost host(clock, charger);
    ASSERT_EQ(host.BootRequest(), kAck);
    clock.Advance(1000);
    EXPECT_EQ(host.Knock(128000), std::nullopt);
    clock.Advance(1000);
    EXPECT_EQ(host.BootRequest(), std::nullopt);
    EXPECT_FALSE(charger.InBootLoader());
}

TEST(SimSerialFaults, KnockOnlyAt128000MovesAPlainPortsBootLoader) {
    CVirtualClock clock;
    CSimSerialCharger charger(clock, SerialConfig(false, {{ESimStep::Knock, kSimAnyIndex,
                                                           ESimFaultKind::KnockOnlyAt128000}}));
    CSerialHost host(clock, charger);
    ASSERT_EQ(host.BootRequest(), kAck);
    clock.Advance(150);
    EXPECT_EQ(host.Knock(9600), std::nullopt);
    clock.Advance(1000);
    EXPECT_EQ(host.Send(Text("&u\x07"), 128000, 20), kAck);
    EXPECT_EQ(host.Length(0, 128000), kAck);
    EXPECT_TRUE(charger.Results().bComplete);
    EXPECT_EQ(charger.Results().BaudsAt(ESimStep::Knock), std::vector<std::uint32_t>{128000});
}

// ---- Bench -------------------------------------------------------------------------------------

class SimBenchTest : public ::testing::Test {
protected:
    SimBenchTest() : bench_(clock_) {}

    CSimHidCharger& AddHid(int order, const std::string& serial, std::vector<SFault> faults = {}) {
        SSimHidConfig config = HidConfig(std::move(faults));
        config.identity.nHidPosition = order;
        config.identity.strSerial = serial;
        return bench_.AddHidCharger(config);
    }
    std::vector<std::string> HidSerials() {
        std::vector<std::string> serials;
        for (int n = 0;; ++n) {
            std::unique_ptr<IHidScanDevice> device;
            if (bench_.OpenHidForScan(n, device) == EHidScanOpen::NoInterface) {
                return serials;
            }
            serials.push_back(
                device ? HidStringToText(device->GetSerialNumberString().value_or(u"")) : "?");
        }
    }
    // One report through the channel; the first data byte of the answer.
    static Answer Exchange(IPortChannel& channel, const Bytes& data) {
        if (!channel.Write(AsReport(data))) {
            return std::nullopt;
        }
        SimHidReport reply{};
        return channel.Read(reply, 2000) == EReadStatus::Completed ? Answer(reply[1])
                                                                   : std::nullopt;
    }

    CVirtualClock clock_;
    CSimBench bench_;
};

TEST_F(SimBenchTest, HidPositionsCountEveryPresentInterface) {
    bench_.AddHidInterface({0x046D, 0xC31C, "USB Keyboard", "KB1", 0, true, true});
    AddHid(1, "A1",
           {{ESimStep::Reconnection, kSimAnyIndex, ESimFaultKind::ReturnElsewhere, 1, 0, 5}});
    AddHid(2, "B2");
    EXPECT_EQ(HidSerials(), (std::vector<std::string>{"KB1", "A1", "B2"}));

    SerInfoList list;
    ListHidChargers(bench_, list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].strFriendly, "Kavro USB(HID1)");
    EXPECT_EQ(list[0].strPath, "##A1");
    EXPECT_EQ(list[0].strBusDesc, "Kelvorin K4");

    auto channel = bench_.OpenHid(1);
    ASSERT_TRUE(channel);
    EXPECT_EQ(Exchange(*channel, HidBootRequest(kCode)), kAck);
    EXPECT_EQ(HidSerials(), (std::vector<std::string>{"KB1", "B2"})); // B2 moved up to HID1
    clock_.Advance(1500);
    EXPECT_EQ(HidSerials(), (std::vector<std::string>{"KB1", "B2", "A1"}));
}

// Demo chargers that come and go: each present only from its plug time to its unplug time, and
// the bench says when the set changed.
TEST_F(SimBenchTest, TimedChargersComeAndGo) {
    ASSERT_FALSE(AddDemoChargers(bench_, "hid@1000-3000,hid@2000:twin,serial@2500"));
    const auto ports = [this] { return bench_.ProbePort("simtty0") ? " simtty0" : ""; };
    EXPECT_EQ(HidSerials(), (std::vector<std::string>{""}));
    clock_.Advance(1000);
    EXPECT_TRUE(bench_.TakeDevicesChanged());
    EXPECT_EQ(HidSerials(), (std::vector<std::string>{"", "SIM1001"}));
    EXPECT_EQ(ports(), "");
    clock_.Advance(1500);
    EXPECT_EQ(HidSerials(), (std::vector<std::string>{"", "SIM1001", "SIM1001"}));
    EXPECT_EQ(ports(), " simtty0");
    clock_.Advance(500);
    EXPECT_EQ(HidSerials(), (std::vector<std::string>{"", "SIM1001"}));
    EXPECT_EQ(bench_.HidChargerAt(1), &bench_.HidCharger(1));
}

TEST_F(SimBenchTest, ChannelDiesWithTheInstanceItWasOpenedOn) {
    AddHid(0, "A1");
    EXPECT_TRUE(bench_.TakeDevicesChanged());
    EXPECT_FALSE(bench_.TakeDevicesChanged());
    auto channel = bench_.OpenHid(0);
    ASSERT_TRUE(channel);
    ASSERT_TRUE(channel->Write(AsReport(HidBootRequest(kCode))));
    EXPECT_TRUE(bench_.TakeDevicesChanged());

    SimHidReport reply{};
    EXPECT_EQ(channel->Read(reply, 2000), EReadStatus::Completed); // sent before it left
    EXPECT_EQ(reply[1], kAck);
    EXPECT_EQ(channel->Read(reply, 2000), EReadStatus::Failed);
    EXPECT_FALSE(channel->Write(AsReport(StartFrame({}))));
    EXPECT_FALSE(bench_.OpenHid(0));
    clock_.Advance(1500);
    EXPECT_TRUE(bench_.TakeDevicesChanged());
    EXPECT_FALSE(channel->Write(AsReport(StartFrame({}))));
    auto again = bench_.OpenHid(0);
    ASSERT_TRUE(again);
    EXPECT_EQ(Exchange(*again, StartFrame({})), kAck);
}

TEST_F(SimBenchTest, ReadsWaitTheirTimeOutAndLatencyOnTheClock) {
    AddHid(0, "A1");
    auto channel = bench_.OpenHid(0);
    ASSERT_TRUE(channel);
    SimHidReport reply{};
    EXPECT_EQ(channel->Read(reply, 2000), EReadStatus::TimedOut);
    EXPECT_EQ(clock_.Now(), 2000u);
    bench_.SetLinkLatency(1, 1);
    EXPECT_EQ(Exchange(*channel, HidBootRequest(0x0B)), kNak);
    EXPECT_EQ(clock_.Now(), 2002u); // one report each way

    SSimSerialConfig config = SerialConfig(true);
    config.bStartInBootLoader = true;
    bench_.AddSerialCharger(config);
    auto serial = bench_.OpenSerial("simtty0", 128000);
    ASSERT_TRUE(serial);
    ASSERT_TRUE(serial->Write(Text("&&&u\x07")));
    std::array<std::uint8_t, 2> two{};
    EXPECT_EQ(serial->Read(two, 1000), EReadStatus::TimedOut);
    EXPECT_EQ(clock_.Now(), 3007u); // five bytes out, then the whole time-out
    std::array<std::uint8_t, 1> one{};
    EXPECT_EQ(serial->Read(one, 1000), EReadStatus::TimedOut); // the cancelled read lost it
}

// Behind a USB serial bridge a write costs a USB frame and its line time (78.125 us a byte at
// 128000 baud); an answer waits until the bridge's timer has run out since its last packet, then
// a USB frame. Knock answered at 1.47 ms, on the host at 2.47; the length frame's answer is at
// the bridge at 3.94 ms.
TEST_F(SimBenchTest, ABridgeHoldsAnswersUntilItsLatencyTimerRunsOut) {
    SSimSerialConfig config = SerialConfig(true);
    config.bStartInBootLoader = true;
    bench_.AddSerialCharger(config);
    for (const auto& [timerMs, lengthAnsweredMs] : {std::pair{16u, 18u}, {1u, 4u}}) {
        bench_.SetSerialAdapter("simtty0", {timerMs, 62, 1000});
        EXPECT_EQ(bench_.LatencyTimerMs("simtty0"), timerMs);
        const std::uint64_t startMs = clock_.Now();
        auto serial = bench_.OpenSerial("simtty0", 128000);
        ASSERT_TRUE(serial);
        std::array<std::uint8_t, 1> answer{};
        ASSERT_TRUE(serial->Write(Text("&&&u\x07")));
        ASSERT_EQ(serial->Read(answer, 1000), EReadStatus::Completed);
        EXPECT_EQ(clock_.Now() - startMs, 2u);
        ASSERT_TRUE(serial->Write(Bytes{0, 0, 0, 16, 16}));
        ASSERT_EQ(serial->Read(answer, 1000), EReadStatus::Completed);
        EXPECT_EQ(answer[0], kAck);
        EXPECT_EQ(clock_.Now() - startMs, lengthAnsweredMs) << timerMs;
        clock_.Advance(kSerialResyncGapMs + 1); // the boot loader waits for a knock again
    }
    // A full buffer goes at once, timer or not.
    CSimAdapterLink link({16, 3, 1000});
    for (std::uint64_t atNs : {0u, 10u, 20u, 30u}) {
        link.FromCharger(atNs, 1);
    }
    EXPECT_EQ(link.ArrivalOf(1, 0), 1'000'000u); // nothing sent before: at once
    EXPECT_EQ(link.ArrivalOf(4, 0), 1'000'030u); // the second packet fills at 30 ns
    EXPECT_EQ(link.ArrivalOf(5, 0), std::nullopt);
}

TEST_F(SimBenchTest, HidPortFaultsBreakTheChannel) {
    CSimHidCharger& charger =
        AddHid(0, "A1",
               {{ESimStep::StartFrame, kSimAnyIndex, ESimFaultKind::WritesFail, 1},
                {ESimStep::KeyWord, kSimAnyIndex, ESimFaultKind::ReadsFail, 2},
                {ESimStep::DataBlock, 1, ESimFaultKind::Disappear}});
    ASSERT_EQ(Exchange(*bench_.OpenHid(0), HidBootRequest(kCode)), kAck);
    clock_.Advance(1500);
    auto channel = bench_.OpenHid(0);
    ASSERT_TRUE(channel);

    const SStart start{128, kCode, 0x0F0F};
    EXPECT_FALSE(channel->Write(AsReport(StartFrame(start))));
    EXPECT_EQ(charger.Results().Frames(ESimStep::StartFrame), 0); // it never arrived
    ASSERT_TRUE(channel->Write(AsReport(StartFrame(start))));
    SimHidReport reply{};
    ASSERT_EQ(channel->Read(reply, 5000), EReadStatus::Completed);
    Bytes key(4);
    PutLe(key, 0, ReplyWord(reply, 2) ^ start.nonce);

    ASSERT_TRUE(channel->Write(AsReport(key)));
    EXPECT_EQ(channel->Read(reply, 5000), EReadStatus::Failed);
    EXPECT_EQ(channel->Read(reply, 5000), EReadStatus::Failed);
    ASSERT_EQ(channel->Read(reply, 5000), EReadStatus::Completed); // the answer was there
    EXPECT_EQ(reply[1], kAck);

    const Bytes payload = Payload(128);
    EXPECT_EQ(Exchange(*channel, Bytes(payload.begin(), payload.begin() + 64)), kAck);
    EXPECT_TRUE(channel->Write(AsReport(Bytes(payload.begin() + 64, payload.end()))));
    EXPECT_EQ(channel->Read(reply, 2000), EReadStatus::Failed);
    clock_.Advance(3600 * 1000);
    EXPECT_FALSE(charger.IsPresent());
    EXPECT_FALSE(bench_.OpenHid(0));
    EXPECT_TRUE(HidSerials().empty());
}

TEST_F(SimBenchTest, SerialPortsFollowTheInterfaceRoute) {
    SSimSerialConfig usb = SerialConfig(true);
    usb.identity.strType = "Kavro Charger";
    usb.identity.strSerial = "SER42";
    usb.identity.strPortName = "simtty0";
    bench_.AddSerialCharger(usb);
    SSimSerialConfig plain = SerialConfig(false);
    plain.identity.strPortName = "simtty1";
    bench_.AddSerialCharger(plain);
    bench_.AddSerialPort("simtty2");

    std::uint32_t error = 0;
    EXPECT_EQ(bench_.GetPortListing(error), ESerialPortListing::PresentPorts);
    EXPECT_TRUE(bench_.ReportsBusDescriptions());
    EXPECT_FALSE(bench_.OpenDeviceTree());

    SerInfoList list;
    ListDevices(bench_, bench_, list, false);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].bCharger, 1);
    EXPECT_EQ(SerialFromPath(list[0].strPath), "SER42");
    EXPECT_EQ(PortNameFromFriendly(list[0].strFriendly), "simtty0");
    EXPECT_EQ(list[0].strBusDesc, "Kavro Charger");
    EXPECT_EQ(list[1].bCharger, 0);
    EXPECT_EQ(list[1].strFriendly, "Communications Port (simtty1)");
    EXPECT_EQ(list[2].bCharger, 0);

    EXPECT_EQ(bench_.SerialPathFor("simtty0"), "simtty0");
    EXPECT_EQ(bench_.SerialPathFor("COM3"), std::nullopt);
    auto first = bench_.OpenSerial("simtty0", 9600);
    ASSERT_TRUE(first);
    EXPECT_FALSE(bench_.OpenSerial("simtty0", 9600)); // one opener at a time
    EXPECT_FALSE(bench_.ProbePort(list[0].strPath));
    first.reset();
    EXPECT_TRUE(bench_.ProbePort(list[0].strPath));
    EXPECT_TRUE(bench_.OpenSerial("simtty0", 128000));
}

TEST_F(SimBenchTest, SerialChannelCarriesTheRateItWasOpenedAt) {
    bench_.AddSerialCharger(SerialConfig(true));
    CDevicePort port(bench_);
    ASSERT_TRUE(port.Open("simtty0", 9600));
    const Bytes request = SerialBootRequest(kCode);
    for (const std::uint8_t c : request) {
        ASSERT_TRUE(port.Write(&c, 1));
        clock_.Advance(50);
    }
    std::uint8_t answer = 0;
    ASSERT_TRUE(port.Read(&answer, 1, 2000));
    EXPECT_EQ(answer, kAck);
    port.Close();
    clock_.Advance(150);
    ASSERT_TRUE(port.Open("simtty0", 128000));
    const Bytes knock = Text("&&&u\x07");
    ASSERT_TRUE(port.Write(knock.data(), knock.size()));
    ASSERT_TRUE(port.Read(&answer, 1, 1000));
    EXPECT_EQ(answer, kAck);

    const std::vector<SSimOpen>& opens = bench_.Opens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].baud, 9600u);
    EXPECT_EQ(opens[1].baud, 128000u);
    EXPECT_EQ(opens[1].timeMs, 700u);
}

TEST_F(SimBenchTest, SerialPortFaultsBreakTheChannel) {
    CSimSerialCharger& charger = bench_.AddSerialCharger(
        SerialConfig(true, {{ESimStep::Knock, kSimAnyIndex, ESimFaultKind::ReadsFail, 1},
                            {ESimStep::LengthFrame, kSimAnyIndex, ESimFaultKind::WritesFail, 1},
                            {ESimStep::DataFrame, 0, ESimFaultKind::Disappear}}));
    {
        auto channel = bench_.OpenSerial("simtty0", 9600);
        ASSERT_TRUE(channel);
        for (const std::uint8_t c : SerialBootRequest(kCode)) {
            ASSERT_TRUE(channel->Write(Bytes{c}));
        }
    }
    clock_.Advance(150);
    auto channel = bench_.OpenSerial("simtty0", 128000);
    ASSERT_TRUE(channel);
    std::array<std::uint8_t, 1> answer{};
    ASSERT_TRUE(channel->Write(Text("&&&u\x07")));
    EXPECT_EQ(channel->Read(answer, 1000), EReadStatus::Failed);
    EXPECT_EQ(channel->Read(answer, 1000), EReadStatus::Completed); // the answer was there
    EXPECT_EQ(answer[0], kAck);

    EXPECT_FALSE(channel->Write(Bytes{0, 0, 0, 16}));
    EXPECT_EQ(charger.Results().Frames(ESimStep::LengthFrame), 0); // it never arrived
    ASSERT_TRUE(channel->Write(Bytes{0, 0, 0, 16, 16}));
    ASSERT_EQ(channel->Read(answer, 1000), EReadStatus::Completed);
    EXPECT_EQ(answer[0], kAck);

    EXPECT_FALSE(channel->Write(Bytes(17, 0)));
    EXPECT_TRUE(charger.IsGone());
    EXPECT_EQ(channel->Read(answer, 1000), EReadStatus::Failed);
    channel.reset();
    EXPECT_FALSE(bench_.OpenSerial("simtty0", 128000));
    std::uint32_t error = 0;
    EXPECT_EQ(bench_.OpenPortList(error)->EnumPort(0, error), ISerialPortList::EEnum::NoMoreItems);
}

} // namespace
