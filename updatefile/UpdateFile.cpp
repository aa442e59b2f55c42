#include "updatefile/UpdateFile.h"

#include "updatefile/Aes.h"
#include "updatefile/Sha256.h"
#include "updatefile/TripleDes.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace crenovix {

std::array<std::uint8_t, kUpdateImageSize> UpdateImage{};

namespace {

std::string FieldText(std::span<const std::uint8_t> header, std::size_t offset, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(header.data() + offset);
    return std::string(begin, std::find(begin, begin + size, '\0'));
}

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

// An open update file and its length. Only regular files count: a directory cannot be an update
// file, and opening a pipe or device node from the path field could block the window.
struct SOpenFile {
    std::ifstream stream;
    std::uintmax_t length = 0;
};

std::optional<SOpenFile> OpenUpdateFile(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path fsPath(path);
    if (path.empty() || !std::filesystem::is_regular_file(fsPath, ec)) {
        return std::nullopt;
    }
    SOpenFile file;
    file.length = std::filesystem::file_size(fsPath, ec);
    if (ec) {
        return std::nullopt;
    }
    file.stream.open(fsPath, std::ios::binary);
    if (!file.stream.is_open()) {
        return std::nullopt;
    }
    return file;
}

// Reads exactly `count` bytes; a shorter read means the file changed or failed under us.
bool ReadExactly(std::ifstream& stream, std::uint8_t* out, std::size_t count) {
    if (count == 0) {
        return true;
    }
    stream.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<std::size_t>(stream.gcount()) == count;
}

} // namespace

SUpdateHeader ReadUpdateHeader(std::span<const std::uint8_t> header) {
    SUpdateHeader fields;
    if (header.size() < kHeaderSize) {
        return fields;
    }
    fields.szVersion = FieldText(header, header_offset::kVersion, kVersionSize);
    fields.szType = FieldText(header, header_offset::kType, kTypeSize);
    fields.szMemo = FieldText(header, header_offset::kMemo, kMemoSize);
    fields.byPayloadMode = header[header_offset::kPayloadMode];
    fields.byDeviceCode = header[header_offset::kDeviceCode];
    fields.dwPayloadLength = ReadLe32(header, header_offset::kPayloadLength);
    return fields;
}

std::span<const std::uint8_t> PayloadOf(std::span<const std::uint8_t> image) {
    if (image.size() < kHeaderSize) {
        return {};
    }
    const SUpdateHeader header = ReadUpdateHeader(image);
    return image.subspan(kHeaderSize,
                         std::min<std::size_t>(header.dwPayloadLength, image.size() - kHeaderSize));
}

bool CheckUpdateHeader(std::span<const std::uint8_t> header, std::size_t fileLength) {
    if (fileLength < kHeaderSize || header.size() < kHeaderSize) {
        return false;
    }
    if (std::memcmp(header.data() + header_offset::kMagic, kMagic.data(), kMagicSize) != 0) {
        return false;
    }
    return ReadLe32(header, header_offset::kPayloadLength) == fileLength - kHeaderSize;
}

std::int32_t HeaderVersionNumber(std::span<const std::uint8_t> header) {
    auto digit = [&](std::size_t offset) {
        return static_cast<std::int32_t>(static_cast<std::int8_t>(header[offset])) - 48;
    };
    const std::size_t v = header_offset::kVersion;
    return digit(v + 1) * 1000 + digit(v + 3) * 100 + digit(v + 4);
}

SLoadResult LoadUpdateHeader(const std::string& path, ImageBuffer image) {
    auto file = OpenUpdateFile(path);
    if (!file) {
        return {ELoadOutcome::CannotOpen};
    }
    if (file->length > kUpdateImageSize) {
        return {ELoadOutcome::TooBig};
    }
    const auto length = static_cast<std::size_t>(file->length);
    std::array<std::uint8_t, kHeaderSize> scratch{};
    if (!ReadExactly(file->stream, scratch.data(), std::min(length, kHeaderSize))) {
        return {ELoadOutcome::CannotOpen};
    }
    file->stream.close();

    std::fill_n(image.begin(), kHeaderSize, std::uint8_t{0});
    TripleDesDecrypt(scratch.data(), kHeaderSize, image.data());
    if (CheckUpdateHeader(image, length)) {
        return {ELoadOutcome::Loaded, EUpdateVariant::TripleDes, length};
    }
    AesDecryptHeader(scratch.data());
    if (CheckUpdateHeader(scratch, length)) {
        std::copy(scratch.begin(), scratch.end(), image.begin());
        return {ELoadOutcome::Loaded, EUpdateVariant::Aes, length};
    }
    return {ELoadOutcome::FormatError};
}

namespace {

// The whole file's bytes, within the image's size; nothing when it cannot be read, with the
// outcome in `failure`.
std::optional<std::vector<std::uint8_t>> ReadUpdateFile(const std::string& path,
                                                        ELoadOutcome& failure) {
    auto file = OpenUpdateFile(path);
    failure = ELoadOutcome::CannotOpen;
    if (!file) {
        return std::nullopt;
    }
    if (file->length > kUpdateImageSize) {
        failure = ELoadOutcome::TooBig;
        return std::nullopt;
    }
    const auto length = static_cast<std::size_t>(file->length);
    std::vector<std::uint8_t> bytes(length);
    if (!ReadExactly(file->stream, bytes.data(), length)) {
        return std::nullopt;
    }
    return bytes;
}

// Deciphers the bytes read into `image` (`scratch` is spent on it).
SLoadResult DecipherUpdateFile(std::vector<std::uint8_t>& scratch, bool aesAllowed,
                               ImageBuffer image) {
    const std::size_t length = scratch.size();
    // The run's record names exactly the bytes read here, whatever the path holds later.
    SLoadResult result{ELoadOutcome::FormatError, EUpdateVariant::None, 0, Sha256Hex(scratch)};
    const auto ending = [&result](ELoadOutcome outcome, EUpdateVariant variant = {},
                                  std::size_t loaded = 0) {
        result.outcome = outcome;
        result.variant = variant;
        result.length = loaded;
        return result;
    };

    if (length == 0) {
        return ending(ELoadOutcome::Empty);
    }
    if (length < kHeaderSize) {
        return ending(ELoadOutcome::FormatError);
    }
    std::fill_n(image.begin(), length, std::uint8_t{0});
    TripleDesDecrypt(scratch.data(), length, image.data());
    if (CheckUpdateHeader(image, length)) {
        return ending(ELoadOutcome::Loaded, EUpdateVariant::TripleDes, length);
    }
    if (aesAllowed) {
        AesDecryptHeader(scratch.data());
        if (CheckUpdateHeader(scratch, length)) {
            std::copy(scratch.begin(), scratch.end(), image.begin());
            return ending(ELoadOutcome::Loaded, EUpdateVariant::Aes, length);
        }
    }
    return ending(ELoadOutcome::FormatError);
}

} // namespace

SLoadResult LoadUpdateImage(const std::string& path, bool aesAllowed, ImageBuffer image) {
    ELoadOutcome failure{};
    auto bytes = ReadUpdateFile(path, failure);
    if (!bytes) {
        return {failure};
    }
    return DecipherUpdateFile(*bytes, aesAllowed, image);
}

SLoadResult CUpdateImageCache::Load(const std::string& path, bool aesAllowed, ImageBuffer image) {
    ELoadOutcome failure{};
    auto bytes = ReadUpdateFile(path, failure);
    if (!bytes) {
        return {failure};
    }
    const std::lock_guard lock(mutex_);
    SEntry& entry = entries_[aesAllowed ? 1 : 0];
    if (!entry.image || entry.bytes != *bytes) {
        if (!entry.image) {
            entry.image = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
        }
        entry.bytes = *bytes;
        entry.image->fill(0);
        entry.result = DecipherUpdateFile(*bytes, aesAllowed, *entry.image);
    }
    // The whole buffer, so that what lies beyond the file's length is the same as after a
    // load of its own into a fresh buffer.
    std::copy(entry.image->begin(), entry.image->end(), image.begin());
    return entry.result;
}

std::string_view LoadOutcomeText(ELoadOutcome outcome) {
    switch (outcome) {
    case ELoadOutcome::CannotOpen:
        return "Error open file";
    case ELoadOutcome::TooBig:
        return "The file is big!";
    case ELoadOutcome::FormatError:
        return "File format error!";
    case ELoadOutcome::Loaded:
    case ELoadOutcome::Empty:
        break;
    }
    return {};
}

} // namespace crenovix
