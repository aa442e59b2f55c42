// Makes update files for tests and samples: the enciphering direction of both variants.
//
// Test support only; the product never enciphers. A Triple-DES file whose length is not a
// multiple of 8 cannot carry its last bytes faithfully (the loader completes the last block with
// zeros before deciphering), so `Pack` also reports the payload a loader will see.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::testsupport {

enum class EPackVariant { TripleDes, Aes };

struct SHeaderFields {
    std::string version = "V1.00";
    std::string type = "Kelvorin Test";
    std::string memo = "Test firmware";
    std::uint8_t payloadMode = 1;
    std::uint8_t deviceCode = 0x0A;
    // Written instead of the real payload length when set, to make inconsistent files.
    std::optional<std::uint32_t> payloadLengthOverride;
};

struct SPackedFile {
    std::vector<std::uint8_t> bytes;         // the file as stored
    std::vector<std::uint8_t> loadedPayload; // the payload a loader deciphers from `bytes`
};

// The 512-byte plain header for `payloadLength` bytes of payload.
std::array<std::uint8_t, 512> MakePlainHeader(const SHeaderFields& fields,
                                              std::uint32_t payloadLength);

// Enciphers a plain image (header + payload) as the given variant.
std::vector<std::uint8_t> EncipherImage(EPackVariant variant, std::vector<std::uint8_t> plain);

SPackedFile Pack(EPackVariant variant, const SHeaderFields& fields,
                 const std::vector<std::uint8_t>& payload);

// Deterministic filler so that samples and tests can be remade byte for byte.
std::vector<std::uint8_t> PatternPayload(std::size_t length, std::uint32_t seed);

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);

} // namespace crenovix::testsupport
