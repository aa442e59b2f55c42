#include "protocol/Frames.h"

#include <algorithm>
#include <iterator>

namespace crenovix {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

std::uint8_t* PutHex(std::uint8_t* out, std::uint8_t value) {
    *out++ = static_cast<std::uint8_t>(kHexDigits[value >> 4]);
    *out++ = static_cast<std::uint8_t>(kHexDigits[value & 0x0F]);
    return out;
}

constexpr std::uint32_t kStartConstant = 1000;
constexpr std::uint32_t kStartSignature = 101217; // 0x00018B61
} // namespace

std::array<std::uint8_t, 17> EnterFrameHid(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    std::array<std::uint8_t, 17> frame{};
    const auto check = static_cast<std::uint8_t>(-2 * (b0 + b1 + b2));
    std::uint8_t* out = frame.data();
    *out++ = ':';
    for (int copy = 0; copy < 2; ++copy) {
        out = PutHex(PutHex(PutHex(out, b0), b1), b2);
    }
    out = PutHex(out, check);
    *out++ = '\r';
    *out = '\n';
    return frame;
}

std::array<std::uint8_t, 11> EnterFrameSerial(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    std::array<std::uint8_t, 11> frame{};
    const auto check = static_cast<std::uint8_t>(-(b0 + b1 + b2));
    std::uint8_t* out = frame.data();
    *out++ = ':';
    out = PutHex(PutHex(PutHex(PutHex(out, b0), b1), b2), check);
    *out++ = '\r';
    *out = '\n';
    return frame;
}

std::uint32_t CrcWords(std::span<const std::uint32_t> words) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint32_t word : words) {
        for (int bit = 31; bit >= 0; --bit) {
            const bool dataBit = ((word >> bit) & 1u) != 0;
            const bool topBit = (crc & 0x80000000u) != 0;
            crc <<= 1;
            if (topBit != dataBit) {
                crc ^= 0x04C11DB7u;
            }
        }
    }
    return crc;
}

std::uint32_t StartFrameModel(std::uint8_t payloadMode, std::uint8_t deviceCode) {
    if (payloadMode == 0) {
        return 1;
    }
    return static_cast<std::uint32_t>(
        static_cast<std::int32_t>(static_cast<std::int8_t>(deviceCode)));
}

std::uint32_t ReadLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void WriteLe32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::array<std::uint8_t, kStartFrameSize> StartFrame(std::uint32_t payloadLength,
                                                     std::uint32_t model,
                                                     std::int32_t versionNumber,
                                                     std::uint32_t nonce) {
    std::array<std::uint8_t, kStartFrameSize> frame{};
    constexpr char kTag[8] = "$START$";
    std::copy(std::begin(kTag), std::end(kTag), frame.begin());
    WriteLe32(&frame[8], payloadLength);
    WriteLe32(&frame[12], static_cast<std::uint32_t>(kHidBlockSize));
    WriteLe32(&frame[16], model);
    WriteLe32(&frame[20], kStartConstant);
    WriteLe32(&frame[24], static_cast<std::uint32_t>(versionNumber));
    WriteLe32(&frame[28], kStartSignature);
    WriteLe32(&frame[32], nonce);
    return frame;
}

void SendEnterFrameHid(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, CDevicePort& port) {
    const auto frame = EnterFrameHid(b0, b1, b2);
    port.Write(frame.data(), frame.size());
}

void SendEnterFrameSerial(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, CDevicePort& port,
                          IClock& clock) {
    const auto frame = EnterFrameSerial(b0, b1, b2);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (i != 0) {
            clock.Sleep(50);
        }
        if (i + 1 == frame.size()) {
            // The application firmware's own output before the request answers nothing.
            port.DiscardInput();
        }
        port.Write(&frame[i], 1);
    }
}

std::optional<std::uint8_t> ReadAnswerByte(CDevicePort& port, std::uint32_t timeoutMs) {
    std::uint8_t answer = 0;
    if (!port.Read(&answer, 1, timeoutMs)) {
        return std::nullopt;
    }
    if (port.DiscardInput()) {
        return kWrongAnswer;
    }
    return answer;
}

bool SendXorFrame(CDevicePort& port, IClock& clock, const std::uint8_t* data, std::size_t n) {
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < n; ++i) {
        check ^= data[i];
    }
    auto fail = [&clock] {
        clock.Sleep(10);
        return false;
    };
    if (!port.Write(data, n)) {
        return fail();
    }
    for (int resends = 0;;) {
        if (port.DiscardInput() || !port.Write(&check, 1)) {
            return fail();
        }
        const std::optional<std::uint8_t> reply = ReadAnswerByte(port, 1000);
        if (!reply) {
            return fail();
        }
        if (*reply == kReplyAccepted) {
            clock.Sleep(1);
            return true;
        }
        if (*reply != kReplyRefused || resends == 3) {
            return fail();
        }
        ++resends;
        clock.Sleep(5);
        if (!port.Write(data, n)) {
            return fail();
        }
    }
}

bool InputFollowsLastAnswer(CDevicePort& port, IClock& clock) {
    clock.Sleep(kAnswerGuardMs);
    return port.DiscardInput();
}

} // namespace crenovix
