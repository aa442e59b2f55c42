#include "sim/SimWire.h"

namespace crenovix::sim {

namespace {

constexpr std::uint32_t kCrcPolynomial = 0x04C11DB7;
constexpr std::uint32_t kCrcInitial = 0xFFFFFFFF;

// Upper-case hex only: the application firmware compares characters, it does not fold case.
std::optional<std::uint8_t> HexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<std::uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<std::uint8_t>(c - 'A' + 10);
    }
    return std::nullopt;
}

std::optional<std::uint8_t> HexByte(std::span<const std::uint8_t> text, std::size_t at) {
    const std::optional<std::uint8_t> high = HexDigit(text[at]);
    const std::optional<std::uint8_t> low = HexDigit(text[at + 1]);
    if (!high || !low) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>((*high << 4) | *low);
}

// The three hex bytes from `at`, and the check byte right after them.
std::optional<SBootRequest> ParseBody(std::span<const std::uint8_t> text, std::size_t at) {
    const std::optional<std::uint8_t> b0 = HexByte(text, at);
    const std::optional<std::uint8_t> b1 = HexByte(text, at + 2);
    const std::optional<std::uint8_t> b2 = HexByte(text, at + 4);
    if (!b0 || !b1 || !b2) {
        return std::nullopt;
    }
    return SBootRequest{*b0, *b1, *b2};
}

bool EndsFrame(std::span<const std::uint8_t> text, std::size_t at) {
    return text[at] == '\r' && text[at + 1] == '\n';
}

unsigned Sum(const SBootRequest& request) {
    return unsigned{request.b0} + unsigned{request.b1} + unsigned{request.b2};
}

} // namespace

std::uint32_t CrcWords(std::span<const std::uint32_t> words) {
    std::uint32_t crc = kCrcInitial;
    for (const std::uint32_t word : words) {
        for (int bit = 31; bit >= 0; --bit) {
            const bool top = (crc & 0x80000000u) != 0;
            const bool data = ((word >> bit) & 1u) != 0;
            crc <<= 1;
            if (top != data) {
                crc ^= kCrcPolynomial;
            }
        }
    }
    return crc;
}

std::optional<SBootRequest> ParseHidBootRequest(std::span<const std::uint8_t> text) {
    if (text.size() < kHidBootRequestSize || text[0] != ':' || !EndsFrame(text, 15)) {
        return std::nullopt;
    }
    const std::optional<SBootRequest> first = ParseBody(text, 1);
    const std::optional<SBootRequest> second = ParseBody(text, 7);
    const std::optional<std::uint8_t> check = HexByte(text, 13);
    if (!first || !second || !check || first->b0 != second->b0 || first->b1 != second->b1 ||
        first->b2 != second->b2) {
        return std::nullopt;
    }
    if (*check != static_cast<std::uint8_t>(0u - 2u * Sum(*first))) {
        return std::nullopt;
    }
    return first;
}

std::optional<SBootRequest> ParseSerialBootRequest(std::span<const std::uint8_t> text) {
    if (text.size() != kSerialBootRequestSize || text[0] != ':' || !EndsFrame(text, 9)) {
        return std::nullopt;
    }
    const std::optional<SBootRequest> request = ParseBody(text, 1);
    const std::optional<std::uint8_t> check = HexByte(text, 7);
    if (!request || !check || *check != static_cast<std::uint8_t>(0u - Sum(*request))) {
        return std::nullopt;
    }
    return request;
}

std::uint32_t LoadLe32(std::span<const std::uint8_t> bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) |
           (std::uint32_t{bytes[2]} << 16) | (std::uint32_t{bytes[3]} << 24);
}

void StoreLe32(std::span<std::uint8_t> bytes, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace crenovix::sim
