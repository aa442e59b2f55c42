// The frames both boot-loader dialogues put on the wire, and their check values.
//
// HID: the 17-character boot request, the 36-byte start frame with its challenge, the CRC that
// the start reply must satisfy. Serial: the 11-character boot request, sent one character per
// write, and frames closed by an XOR check byte with the charger's resend rule. Times in ms.
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace crenovix {

inline constexpr std::uint8_t kReplyAccepted = '&'; // 0x26
inline constexpr std::uint8_t kReplyRefused = '5';  // 0x35

// XORed into payload bytes on the wire by both dialogues.
inline constexpr std::array<std::uint8_t, 16> TransferMask = {
    0x6B, 0x2E, 0x94, 0x03, 0xD7, 0x41, 0x5A, 0xC8, 0x1F, 0x70, 0xE2, 0x39, 0xA6, 0x0D, 0x5C, 0xB4};

// The boot request's first two bytes; the third is the file's device code.
inline constexpr std::uint8_t kBootRequestByte0 = 0xFF;
inline constexpr std::uint8_t kBootRequestByte1 = 0x45; // 'E'

inline constexpr std::size_t kHidBlockSize = 64;
inline constexpr std::size_t kSerialFrameSize = 16;
inline constexpr std::size_t kStartFrameSize = 36;

// ":" b0 b1 b2 b0 b1 b2 S CR LF in upper-case hexadecimal, S = -2 (b0 + b1 + b2) mod 256.
std::array<std::uint8_t, 17> EnterFrameHid(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2);
// ":" b0 b1 b2 S CR LF in upper-case hexadecimal, S = -(b0 + b1 + b2) mod 256.
std::array<std::uint8_t, 11> EnterFrameSerial(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2);

// CRC-32/MPEG-2 over 32-bit words, each fed from bit 31 down to bit 0.
std::uint32_t CrcWords(std::span<const std::uint32_t> words);

// The start frame's model field: 1 for masked transfers (payload mode 0), else the device code
// widened as a signed byte.
std::uint32_t StartFrameModel(std::uint8_t payloadMode, std::uint8_t deviceCode);

// "$START$\0", payload length, block size 64, model, 1000, version number, 101217, nonce; all
// little-endian 32-bit words.
std::array<std::uint8_t, kStartFrameSize> StartFrame(std::uint32_t payloadLength,
                                                     std::uint32_t model,
                                                     std::int32_t versionNumber,
                                                     std::uint32_t nonce);

// Sends the HID boot request in one report. The write's result is not used: a failed write
// shows up as a missing reply.
void SendEnterFrameHid(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, CDevicePort& port);

// Sends the serial boot request one character per write, 50 ms before every character but the
// first. Input that arrived before the last character is dropped: only what follows the whole
// request can answer it. Write results are not used.
void SendEnterFrameSerial(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, CDevicePort& port,
                          IClock& clock);

// What ReadAnswerByte gives for an answer that came with more input: neither "&" nor "5", so
// every step takes it as a wrong answer.
inline constexpr std::uint8_t kWrongAnswer = 0x00;

// The charger's one-byte answer, read within `timeoutMs`; nothing when none came. Whatever input
// follows the answer at once is dropped, and the answer then counts as kWrongAnswer: a charger
// that answers twice, or noise on the line, must not leave a byte behind that could answer the
// next frame, nor have its answer trusted.
std::optional<std::uint8_t> ReadAnswerByte(CDevicePort& port, std::uint32_t timeoutMs);

// Sends n bytes and their XOR byte and waits up to 1000 ms for the charger's answer: "&" is
// success (after 1 ms); "5" asks for the frame again, at most three times (5 ms pause, data
// again, check byte again); anything else, silence or a failed write is failure (after 10 ms).
// The check byte is the byte that asks for the answer: input waiting just before it is written
// was not asked for (a stray "&", or a late answer to an earlier frame) and fails the frame like
// another byte, since the dialogue cannot tell which answer belongs to which frame. The answer
// is read with ReadAnswerByte.
bool SendXorFrame(CDevicePort& port, IClock& clock, const std::uint8_t* data, std::size_t n);

// How long a dialogue listens after its last answer before it reports success. Nothing closes
// the transfer, so a byte behind the last answer (the late refusal of a frame whose "&" was a
// stray) is the only sign that the charger did not take what the host thinks it took. USB
// serial adapters hold received bytes until their latency timer runs out, 16 ms by default; the
// guard is three such periods, which also covers a charger that answers a few ms late.
inline constexpr std::uint32_t kAnswerGuardMs = 50;

// Waits kAnswerGuardMs and drops what arrived meanwhile: true when anything came, which fails
// the last frame's answer.
bool InputFollowsLastAnswer(CDevicePort& port, IClock& clock);

std::uint32_t ReadLe32(const std::uint8_t* bytes);
void WriteLe32(std::uint8_t* bytes, std::uint32_t value);

} // namespace crenovix
