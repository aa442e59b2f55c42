// Update files: the container layout, the plain header and the two load operations.
//
// An update file is a 512-byte enciphered header followed by the payload; its length is exactly
// 512 + payload length and at most 524,288 bytes. Triple-DES files are enciphered as a whole;
// AES files carry an enciphered header and the payload as stored. Both load operations decipher
// into the program-wide `UpdateImage` (header at offset 0, payload from offset 512), which the
// update dialogues read after a successful `LoadUpdateImage`. Sizes are in bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace crenovix {

inline constexpr std::size_t kUpdateImageSize = 0x80000; // 524,288
inline constexpr std::size_t kHeaderSize = 512;

// Layout of the plain header (offsets from the start of the file).
namespace header_offset {
inline constexpr std::size_t kMagic = 0;
inline constexpr std::size_t kVersion = 16;
inline constexpr std::size_t kType = 24;
inline constexpr std::size_t kMemo = 56;
inline constexpr std::size_t kPayloadMode = 490;
inline constexpr std::size_t kDeviceCode = 495;
inline constexpr std::size_t kPayloadLength = 496;
} // namespace header_offset

inline constexpr std::size_t kMagicSize = 15;
inline constexpr std::size_t kVersionSize = 8;
inline constexpr std::size_t kTypeSize = 32;
inline constexpr std::size_t kMemoSize = 434;
// "Kavro Kelvorin" and its NUL: all 15 bytes take part in the check.
inline constexpr std::array<char, kMagicSize> kMagic = {'K', 'a', 'v', 'r', 'o', ' ', 'K', 'e',
                                                        'l', 'v', 'o', 'r', 'i', 'n', '\0'};

using ImageBuffer = std::span<std::uint8_t, kUpdateImageSize>;

// The deciphered file of the last load; lives as long as the program.
extern std::array<std::uint8_t, kUpdateImageSize> UpdateImage;

// The fields of a plain header that the program reads. The texts stop at their NUL, and never
// run past their own field, so a header without terminators cannot pull in its neighbours.
struct SUpdateHeader {
    std::string szVersion;
    std::string szType;
    std::string szMemo;
    std::uint8_t byPayloadMode = 0;
    std::uint8_t byDeviceCode = 0;
    std::uint32_t dwPayloadLength = 0;
};

enum class ELoadOutcome { Loaded, CannotOpen, TooBig, FormatError, Empty };
enum class EUpdateVariant { None, TripleDes, Aes };

struct SLoadResult {
    ELoadOutcome outcome = ELoadOutcome::CannotOpen;
    EUpdateVariant variant = EUpdateVariant::None; // set when loaded
    std::size_t length = 0;                        // file length L when loaded
    // LoadUpdateImage: the SHA-256 of the bytes read, lower-case hex, once they were read.
    std::string sha256 = {};
};

// Reads the header fields from the first 512 bytes of a deciphered image.
SUpdateHeader ReadUpdateHeader(std::span<const std::uint8_t> header);

// The payload a deciphered image carries after its header, as a charger is to store it (at most
// what the image holds, whatever its header says).
std::span<const std::uint8_t> PayloadOf(std::span<const std::uint8_t> image);

// The variant check: L >= 512, the 15 magic bytes, and payload length == L - 512.
bool CheckUpdateHeader(std::span<const std::uint8_t> header, std::size_t fileLength);

// The number the HID dialogue derives from the version text "Vx.yz": x*1000 + y*100 + z, each
// character taken as a signed byte minus '0' and not validated.
std::int32_t HeaderVersionNumber(std::span<const std::uint8_t> header);

// Reads and deciphers only the header; on Loaded its 512 bytes lie at the start of `image`.
// Writes no byte of `image` beyond the first 512.
SLoadResult LoadUpdateHeader(const std::string& path, ImageBuffer image = UpdateImage);

// Reads and deciphers the whole file into `image`. `aesAllowed` admits the AES variant (the serial
// dialogue cannot send it). Writes the first L bytes, and in the Triple-DES attempt also the rest
// of a final partial 8-byte block; bytes beyond are left as an earlier load left them.
SLoadResult LoadUpdateImage(const std::string& path, bool aesAllowed,
                            ImageBuffer image = UpdateImage);

// LoadUpdateImage for runs that go on at once with one file (the station, `update --all`):
// every load still reads the file, but one whose bytes equal the last load's (with the same
// `aesAllowed`) gets that load's deciphered image and SHA-256 instead of deciphering again,
// which is most of a load's time. Results are the same as LoadUpdateImage into a buffer of
// zeros. Safe to call from several threads.
class CUpdateImageCache {
public:
    SLoadResult Load(const std::string& path, bool aesAllowed, ImageBuffer image);

private:
    struct SEntry {
        std::vector<std::uint8_t> bytes;
        std::unique_ptr<std::array<std::uint8_t, kUpdateImageSize>> image;
        SLoadResult result;
    };
    std::mutex mutex_;
    std::array<SEntry, 2> entries_; // without and with AES admitted
};

// What the program shows for an outcome other than Loaded ("" for Loaded).
std::string_view LoadOutcomeText(ELoadOutcome outcome);

} // namespace crenovix
