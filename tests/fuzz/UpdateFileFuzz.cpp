// Both update-file loads on arbitrary files: the input is written to one file per process and
// loaded as the main window loads it (header only) and as each dialogue loads it (whole image,
// AES allowed or not); the header of a loaded image is then read as the window and the HID
// dialogue read it.
//
// Besides not crashing, the loads must agree with each other and keep to their bounds: the
// header load writes nothing past 512 bytes, the image load nothing past the file's last 8-byte
// block; a loaded file has a header that checks and announces the file's own payload length;
// header and image loads accept the same files as the same variant with the same header bytes;
// without AES only Triple-DES files load.
#include "updatefile/UpdateFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>

using namespace crenovix;

namespace {

constexpr std::uint8_t kCanary = 0xA5;
constexpr std::size_t kCanaryBytes = 64;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "update-file fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void Require(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

// One path per process, rewritten for every input, removed when the process ends. The file is
// overwritten in place and then cut to length: truncating it to nothing first would make the
// file system write it out on every close.
class CInputFile {
public:
    CInputFile()
        : path_((std::filesystem::temp_directory_path() /
                 ("crenovix-fuzz-updatefile-" + std::to_string(::getpid()) + ".bin"))
                    .string()),
          fd_(::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)) {
        Require(fd_ >= 0, "cannot create the input file");
    }
    ~CInputFile() {
        ::close(fd_);
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    CInputFile(const CInputFile&) = delete;
    CInputFile& operator=(const CInputFile&) = delete;

    const std::string& Write(const std::uint8_t* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            Require(n > 0 || (n < 0 && errno == EINTR), "cannot write the input file");
            done += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        Require(::ftruncate(fd_, static_cast<off_t>(size)) == 0, "cannot cut the input file");
        return path_;
    }

private:
    std::string path_;
    int fd_;
};

using Image = std::array<std::uint8_t, kUpdateImageSize>;

// Canary bytes after `from` (as many as fit).
void SetCanary(Image& image, std::size_t from) {
    if (from < image.size()) {
        std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(from),
                    std::min(kCanaryBytes, image.size() - from), kCanary);
    }
}
bool CanaryIntact(const Image& image, std::size_t from) {
    if (from >= image.size()) {
        return true;
    }
    return std::all_of(image.begin() + static_cast<std::ptrdiff_t>(from),
                       image.begin() + static_cast<std::ptrdiff_t>(
                                           from + std::min(kCanaryBytes, image.size() - from)),
                       [](std::uint8_t byte) { return byte == kCanary; });
}

void CheckLoaded(const SLoadResult& result, const Image& image, std::size_t size) {
    Require(result.length == size, "a loaded file reports another length");
    Require(result.variant != EUpdateVariant::None, "a loaded file without a variant");
    Require(size >= kHeaderSize && size <= kUpdateImageSize, "a file of impossible size loaded");
    Require(CheckUpdateHeader(image, size), "a loaded header does not check");
    const SUpdateHeader header = ReadUpdateHeader(image);
    Require(header.dwPayloadLength == size - kHeaderSize, "the payload length is not the file's");
    Require(header.szVersion.size() <= kVersionSize && header.szType.size() <= kTypeSize &&
                header.szMemo.size() <= kMemoSize,
            "a header text ran past its field");
    static_cast<void>(HeaderVersionNumber(image));
}

void CheckOutcomeForSize(const SLoadResult& result, std::size_t size, bool wholeImage) {
    Require(result.outcome != ELoadOutcome::CannotOpen, "a regular file could not be opened");
    Require((result.outcome == ELoadOutcome::TooBig) == (size > kUpdateImageSize),
            "\"too big\" does not match the size");
    Require((result.outcome == ELoadOutcome::Empty) == (wholeImage && size == 0),
            "\"empty\" does not match the size");
    if (result.outcome != ELoadOutcome::Loaded) {
        Require(result.variant == EUpdateVariant::None && result.length == 0,
                "a failed load reports a variant or a length");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CInputFile input;
    static Image headerImage{};
    static Image wholeImage{};
    static Image tripleDesImage{};
    const std::string& path = input.Write(data, size);

    // The main window's load.
    SetCanary(headerImage, kHeaderSize);
    const SLoadResult header = LoadUpdateHeader(path, headerImage);
    Require(CanaryIntact(headerImage, kHeaderSize), "the header load wrote past 512 bytes");
    CheckOutcomeForSize(header, size, false);
    if (header.outcome == ELoadOutcome::Loaded) {
        CheckLoaded(header, headerImage, size);
    }

    // The HID dialogue's load (AES allowed) and the serial dialogue's (Triple-DES only).
    const std::size_t written = (size + 7) / 8 * 8;
    SetCanary(wholeImage, written);
    const SLoadResult whole = LoadUpdateImage(path, true, wholeImage);
    Require(CanaryIntact(wholeImage, written), "the image load wrote past the file's last block");
    CheckOutcomeForSize(whole, size, true);
    SetCanary(tripleDesImage, written);
    const SLoadResult tripleDes = LoadUpdateImage(path, false, tripleDesImage);
    Require(CanaryIntact(tripleDesImage, written),
            "the image load wrote past the file's last block");
    CheckOutcomeForSize(tripleDes, size, true);

    if (whole.outcome == ELoadOutcome::Loaded) {
        CheckLoaded(whole, wholeImage, size);
    }
    if (tripleDes.outcome == ELoadOutcome::Loaded) {
        CheckLoaded(tripleDes, tripleDesImage, size);
        Require(tripleDes.variant == EUpdateVariant::TripleDes, "an AES file loaded without AES");
    }

    // The window and the dialogues must agree on which files load, and as what.
    Require((header.outcome == ELoadOutcome::Loaded) == (whole.outcome == ELoadOutcome::Loaded),
            "the header load and the image load disagree");
    if (whole.outcome == ELoadOutcome::Loaded) {
        Require(header.variant == whole.variant, "the two loads found different variants");
        Require(
            std::equal(headerImage.begin(), headerImage.begin() + kHeaderSize, wholeImage.begin()),
            "the two loads deciphered different headers");
        const bool tripleDesLoads = whole.variant == EUpdateVariant::TripleDes;
        Require((tripleDes.outcome == ELoadOutcome::Loaded) == tripleDesLoads,
                "the load without AES disagrees about a Triple-DES file");
        if (tripleDesLoads) {
            Require(std::equal(wholeImage.begin(),
                               wholeImage.begin() + static_cast<std::ptrdiff_t>(size),
                               tripleDesImage.begin()),
                    "the two image loads deciphered different images");
        } else {
            Require(tripleDes.outcome == ELoadOutcome::FormatError,
                    "an AES file without AES is not a format error");
        }
    } else {
        Require(tripleDes.outcome == whole.outcome, "the image loads fail differently");
    }

    // The header reader on raw bytes of any length.
    const SUpdateHeader raw = ReadUpdateHeader(std::span<const std::uint8_t>(data, size));
    Require(raw.szVersion.size() <= kVersionSize && raw.szType.size() <= kTypeSize &&
                raw.szMemo.size() <= kMemoSize,
            "a raw header text ran past its field");
    return 0;
}
