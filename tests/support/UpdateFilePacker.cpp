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
    const auto key = UpdateFileDesKey();
    const std::size_t length = plain.size();
    plain.resize((length + 7) / 8 * 8, 0);
    for (std::size_t offset = 0; offset < plain.size(); offset += 8) {
        RefTripleDesEncryptBlock(key.data(), plain.data() + offset, plain.data() + offset);
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
    if (variant == EPackVariant::TripleDes && file.bytes.size() % 8 != 0) {
        // What the loader will see: the stored bytes, zero-completed, deciphered.
        const auto key = UpdateFileDesKey();
        std::vector<std::uint8_t> padded = file.bytes;
        padded.resize((padded.size() + 7) / 8 * 8, 0);
        for (std::size_t offset = padded.size() - 8; offset < padded.size(); offset += 8) {
            RefTripleDesDecryptBlock(key.data(), padded.data() + offset, padded.data() + offset);
        }
        std::copy(padded.begin() + static_cast<std::ptrdiff_t>(plain.size() / 8 * 8),
                  padded.begin() + static_cast<std::ptrdiff_t>(plain.size()),
                  file.loadedPayload.end() -
                      static_cast<std::ptrdiff_t>(plain.size() - plain.size() / 8 * 8));
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
