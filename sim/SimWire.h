// What the simulated chargers read off the wire and write back: reply codes, the transfer mask,
// the word CRC of the start reply and the parsers of the two boot-request texts.
//
// This is the charger's own copy of the wire format, kept apart from the host dialogues on
// purpose: a slip on either side then shows up as a refused frame instead of cancelling out.
// Sizes are in bytes, rates in baud. Parsers return nothing for text that is not a well-formed
// frame (wrong length, lower-case or non-hex digits, wrong check byte).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace crenovix::sim {

inline constexpr std::uint8_t kReplyAccepted = 0x26; // '&'
inline constexpr std::uint8_t kReplyRefused = 0x35;  // '5'
// What a charger sends when a fault asks for "another byte" and names none.
inline constexpr std::uint8_t kDefaultOtherByte = 0x3F; // '?'

// XORed into payload bytes on the wire by both boot loaders.
inline constexpr std::array<std::uint8_t, 16> kTransferMask = {
    0x6B, 0x2E, 0x94, 0x03, 0xD7, 0x41, 0x5A, 0xC8, 0x1F, 0x70, 0xE2, 0x39, 0xA6, 0x0D, 0x5C, 0xB4};

// The first two bytes of every boot request: 0xFF and the letter E.
inline constexpr std::uint8_t kBootRequestByte0 = 0xFF;
inline constexpr std::uint8_t kBootRequestByte1 = 0x45;
inline constexpr std::size_t kHidBootRequestSize = 17;    // ":" 12 digits, 2 check digits, CR LF
inline constexpr std::size_t kSerialBootRequestSize = 11; // ":" 6 digits, 2 check digits, CR LF

// HID boot loader.
inline constexpr std::size_t kHidBlockSize = 64;
inline constexpr std::size_t kStartFrameSize = 36;
inline constexpr std::array<std::uint8_t, 8> kStartMagic = {'$', 'S', 'T', 'A', 'R', 'T', '$', 0};
inline constexpr std::uint32_t kStartConstantA = 1000;
inline constexpr std::uint32_t kStartConstantB = 101217;
// A model field of 1 announces a masked transfer rather than a device code.
inline constexpr std::uint32_t kMaskedTransferModel = 1;

// Serial boot loader.
inline constexpr std::size_t kSerialFrameSize = 16;
inline constexpr std::size_t kLengthFrameSize = 4;
inline constexpr std::uint32_t kApplicationBaud = 9600;
inline constexpr std::uint32_t kFastBaud = 128000;

// The fields of a boot request.
struct SBootRequest {
    std::uint8_t b0 = 0;
    std::uint8_t b1 = 0;
    std::uint8_t b2 = 0; // the device code the file is meant for
};

// CRC-32/MPEG-2 (polynomial 0x04C11DB7, register starts at 0xFFFFFFFF, no reflection, no final
// XOR) over 32-bit words, each fed from bit 31 down. Appending a value's own CRC as one more
// word gives 0, which is how the host checks the start reply.
std::uint32_t CrcWords(std::span<const std::uint32_t> words);

// ":" b0 b1 b2 b0 b1 b2 S CR LF in upper-case hex, S = (-2 * (b0 + b1 + b2)) mod 256.
// `text` is the start of a report's data; bytes after the 17th are not looked at.
std::optional<SBootRequest> ParseHidBootRequest(std::span<const std::uint8_t> text);

// ":" b0 b1 b2 S CR LF in upper-case hex, S = (-(b0 + b1 + b2)) mod 256; exactly 11 bytes.
std::optional<SBootRequest> ParseSerialBootRequest(std::span<const std::uint8_t> text);

// Little-endian 32-bit words as both HID frames carry them; `bytes` holds at least 4 bytes.
std::uint32_t LoadLe32(std::span<const std::uint8_t> bytes);
void StoreLe32(std::span<std::uint8_t> bytes, std::uint32_t value);

} // namespace crenovix::sim
