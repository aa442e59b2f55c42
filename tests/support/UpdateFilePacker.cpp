#include "support/UpdateFilePacker.h"

#include "support/AesReference.h"
#include "support/DesReference.h"
#include "updatefile/TripleDes.h"
#include "updatefile/UpdateFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace crenovix::testsupport {

namespace {
void PutText(std::array<std::uint8_t, 512>& header, std::size_t offset, std::size_t size,
             const std::string& text) {
    // Fields may be filled completely (no NUL) to exercise the loader's bounds.
    std::memcpy(header.data() + offset, text.data(), std::min(text.size(), size));
}
} // namespace

std::array<std::uint8_t, 512> MakePlainHeader(const SHeaderFields& fields,
                                              std::uint32_t payloadLength) {
    std::array<std::uint8_t, 512> header{};
    std::memcpy(header.data(), kMagic.data(), kMagic.size());
    PutText(header, header_offset::kVersion, kVersionSize, fields.version);
    PutText(header, header_offset::kType, kTypeSize, fields.type);
    PutText(header, header_offset::kMemo, kMemoSize, fields.memo);
    header[header_offset::kPayloadMode] = fields.payloadMode;
    header[header_offset::kDeviceCode] = fields.deviceCode;
    const std::uint32_t length = fields.payloadLengthOverride.value_or(payloadLength);
    for (int i = 0; i < 4; ++i) {
        header[header_offset::kPayloadLength + i] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    return header;
}

std::vector<std::uint8_t> EncipherImage(EPackVariant variant, std::vector<std::uint8_t> plain) {
    if (variant == EPackVariant::Aes) {
        if (plain.size() < 512) {
            throw std::invalid_argument("an AES image needs a whole header");
        }
        AesEncryptHeader(plain.data());
        return plain;
    }
    // The product's block transform (checked against the bit-by-bit reference in its own
    // tests) in the enciphering order: forward K1, inverse K2, forward K1. The reference itself
    // is too slow for half-megabyte files under the sanitizers.
    const auto key = UpdateFileDesKey();
    const SDesKeySchedule k1 = DesKeySchedule(key.data());
    const SDesKeySchedule k2 = DesKeySchedule(key.data() + 8);
    const std::size_t length = plain.size();
    plain.resize((length + 7) / 8 * 8, 0);
    for (std::size_t offset = 0; offset < plain.size(); offset += 8) {
        std::uint8_t* block = plain.data() + offset;
        DesBlock(k1, block, block, 0);
        DesBlock(k2, block, block, 1);
        DesBlock(k1, block, block, 0);
    }
    plain.resize(length); // a partial last block keeps only its stored bytes
    return plain;
}

SPackedFile Pack(EPackVariant variant, const SHeaderFields& fields,
                 const std::vector<std::uint8_t>& payload) {
    const auto header = MakePlainHeader(fields, static_cast<std::uint32_t>(payload.size()));
    std::vector<std::uint8_t> plain(header.begin(), header.end());
    plain.insert(plain.end(), payload.begin(), payload.end());

    SPackedFile file;
    file.bytes = EncipherImage(variant, plain);
    file.loadedPayload = payload;
    const std::size_t tail = file.bytes.size() % 8;
    if (variant == EPackVariant::TripleDes && tail != 0) {
        // What the loader will see: the stored bytes of the last block, zero-completed,
        // deciphered.
        std::array<std::uint8_t, 8> block{};
        std::copy(file.bytes.end() - static_cast<std::ptrdiff_t>(tail), file.bytes.end(),
                  block.begin());
        RefTripleDesDecryptBlock(UpdateFileDesKey().data(), block.data(), block.data());
        std::copy(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(tail),
                  file.loadedPayload.end() - static_cast<std::ptrdiff_t>(tail));
    }
    return file;
}

std::vector<std::uint8_t> PatternPayload(std::size_t length, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(length);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace crenovix::testsupport
