#include "updatefile/UpdateFile.h"
#include "support/DesReference.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"
#include "updatefile/TripleDes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

constexpr std::uint8_t kSentinel = 0xA5;

class UpdateFileTest : public ::testing::Test {
protected:
    void SetUp() override { image_.fill(kSentinel); }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const std::string path = dir_.File(name);
        WriteBytes(path, bytes);
        return path;
    }

    std::string WritePacked(const std::string& name, EPackVariant variant, std::size_t payloadSize,
                            SHeaderFields fields = {}) {
        packed_ = Pack(variant, fields, PatternPayload(payloadSize, 7));
        return Write(name, packed_.bytes);
    }

    bool UntouchedFrom(std::size_t offset) const {
        return std::all_of(image_.begin() + static_cast<std::ptrdiff_t>(offset), image_.end(),
                           [](std::uint8_t b) { return b == kSentinel; });
    }

    std::vector<std::uint8_t> ImagePayload() const {
        return {image_.begin() + 512, image_.begin() + 512 + packed_.loadedPayload.size()};
    }

    CTempDir dir_;
    SPackedFile packed_;
    std::array<std::uint8_t, kUpdateImageSize> image_{};
};

TEST_F(UpdateFileTest, BothVariantsLoadWithTheirFields) {
    SHeaderFields fields;
    fields.version = "V2.13";
    fields.type = "Kelvorin K6";
    fields.memo = "Two\nlines";
    fields.payloadMode = 0;
    fields.deviceCode = 0x90;
    for (auto variant : {EPackVariant::TripleDes, EPackVariant::Aes}) {
        SCOPED_TRACE(variant == EPackVariant::Aes ? "AES" : "Triple-DES");
        const std::string path = WritePacked("file.bin", variant, 1000, fields);
        const auto expectedVariant =
            variant == EPackVariant::Aes ? EUpdateVariant::Aes : EUpdateVariant::TripleDes;

        const SLoadResult header = LoadUpdateHeader(path, image_);
        ASSERT_EQ(header.outcome, ELoadOutcome::Loaded);
        EXPECT_EQ(header.variant, expectedVariant);
        const SUpdateHeader read = ReadUpdateHeader(image_);
        EXPECT_EQ(read.szVersion, "V2.13");
        EXPECT_EQ(read.szType, "Kelvorin K6");
        EXPECT_EQ(read.szMemo, "Two\nlines");
        EXPECT_EQ(read.byPayloadMode, 0);
        EXPECT_EQ(read.byDeviceCode, 0x90);
        EXPECT_EQ(read.dwPayloadLength, 1000u);
        EXPECT_EQ(HeaderVersionNumber(image_), 2103);

        const SLoadResult whole = LoadUpdateImage(path, true, image_);
        ASSERT_EQ(whole.outcome, ELoadOutcome::Loaded);
        EXPECT_EQ(whole.variant, expectedVariant);
        EXPECT_EQ(whole.length, 1512u);
        EXPECT_EQ(ImagePayload(), packed_.loadedPayload);
    }
}

TEST_F(UpdateFileTest, AesPayloadStaysAsStoredAndOnlyTheHidDialogueTakesIt) {
    const std::string path = WritePacked("aes.bin", EPackVariant::Aes, 777);
    ASSERT_EQ(LoadUpdateImage(path, true, image_).outcome, ELoadOutcome::Loaded);
    EXPECT_TRUE(std::equal(packed_.bytes.begin() + 512, packed_.bytes.end(), image_.begin() + 512));
    EXPECT_EQ(LoadUpdateImage(path, false, image_).outcome, ELoadOutcome::FormatError);
}

// Shared deciphering must never hand a run another file's image: each load reads the file, and a
// rewritten file (same path, other payload) is deciphered anew.
TEST_F(UpdateFileTest, TheImageCacheLoadsAsALoadOfItsOwnAndSeesARewrittenFile) {
    CUpdateImageCache cache;
    for (int payloadSize : {1000, 999}) {
        for (auto variant : {EPackVariant::TripleDes, EPackVariant::Aes}) {
            const std::string path = WritePacked("same-path.bin", variant, payloadSize);
            for (bool aesAllowed : {true, false, true}) {
                SCOPED_TRACE(std::to_string(payloadSize) +
                             (variant == EPackVariant::Aes ? " AES" : " DES") +
                             (aesAllowed ? " aes allowed" : ""));
                std::array<std::uint8_t, kUpdateImageSize> alone{};
                const SLoadResult expected = LoadUpdateImage(path, aesAllowed, alone);
                image_.fill(kSentinel);
                const SLoadResult shared = cache.Load(path, aesAllowed, image_);
                EXPECT_EQ(shared.outcome, expected.outcome);
                EXPECT_EQ(shared.variant, expected.variant);
                EXPECT_EQ(shared.length, expected.length);
                EXPECT_EQ(shared.sha256, expected.sha256);
                EXPECT_TRUE(image_ == alone);
            }
        }
    }
    EXPECT_EQ(cache.Load(dir_.File("missing.bin"), true, image_).outcome, ELoadOutcome::CannotOpen);
}

TEST_F(UpdateFileTest, SizeLimitIsInclusive) {
    for (auto variant : {EPackVariant::TripleDes, EPackVariant::Aes}) {
        const std::string full = WritePacked("full.bin", variant, kUpdateImageSize - 512);
        EXPECT_EQ(LoadUpdateHeader(full, image_).outcome, ELoadOutcome::Loaded);
        EXPECT_EQ(LoadUpdateImage(full, true, image_).outcome, ELoadOutcome::Loaded);
        EXPECT_EQ(ImagePayload(), packed_.loadedPayload);
    }
    image_.fill(kSentinel);
    const std::string big = WritePacked("big.bin", EPackVariant::TripleDes, kUpdateImageSize - 511);
    EXPECT_EQ(LoadUpdateHeader(big, image_).outcome, ELoadOutcome::TooBig);
    EXPECT_EQ(LoadUpdateImage(big, true, image_).outcome, ELoadOutcome::TooBig);
    EXPECT_TRUE(UntouchedFrom(0)) << "a file that is too big is refused before anything is read";
}

TEST_F(UpdateFileTest, ShortAndEmptyFiles) {
    const std::string empty = Write("empty.bin", {});
    EXPECT_EQ(LoadUpdateHeader(empty, image_).outcome, ELoadOutcome::FormatError);
    image_.fill(kSentinel);
    EXPECT_EQ(LoadUpdateImage(empty, true, image_).outcome, ELoadOutcome::Empty);
    EXPECT_TRUE(UntouchedFrom(0));

    // The first 511 bytes of a valid file: deciphers to the right magic, but is still too short.
    const std::string valid = WritePacked("valid.bin", EPackVariant::TripleDes, 64);
    std::vector<std::uint8_t> cut(packed_.bytes.begin(), packed_.bytes.begin() + 511);
    const std::string shortFile = Write("short.bin", cut);
    EXPECT_EQ(LoadUpdateHeader(shortFile, image_).outcome, ELoadOutcome::FormatError);
    image_.fill(kSentinel);
    EXPECT_EQ(LoadUpdateImage(shortFile, true, image_).outcome, ELoadOutcome::FormatError);
    EXPECT_TRUE(UntouchedFrom(0)) << "a short file is refused without deciphering";
}

TEST_F(UpdateFileTest, LengthMustMatchTheHeader) {
    for (auto variant : {EPackVariant::TripleDes, EPackVariant::Aes}) {
        WritePacked("valid.bin", variant, 256);
        std::vector<std::uint8_t> longer = packed_.bytes;
        longer.push_back(0);
        const std::string appended = Write("appended.bin", longer);
        EXPECT_EQ(LoadUpdateHeader(appended, image_).outcome, ELoadOutcome::FormatError);
        EXPECT_EQ(LoadUpdateImage(appended, true, image_).outcome, ELoadOutcome::FormatError);

        std::vector<std::uint8_t> shorter(packed_.bytes.begin(), packed_.bytes.end() - 8);
        const std::string truncated = Write("truncated.bin", shorter);
        EXPECT_EQ(LoadUpdateHeader(truncated, image_).outcome, ELoadOutcome::FormatError);
        EXPECT_EQ(LoadUpdateImage(truncated, true, image_).outcome, ELoadOutcome::FormatError);
    }
}

TEST_F(UpdateFileTest, MagicIncludesItsNul) {
    for (auto variant : {EPackVariant::TripleDes, EPackVariant::Aes}) {
        const auto header = MakePlainHeader({}, 0);
        std::vector<std::uint8_t> plain(header.begin(), header.end());
        plain[14] = '!';
        const std::string path = Write("magic.bin", EncipherImage(variant, plain));
        EXPECT_EQ(LoadUpdateHeader(path, image_).outcome, ELoadOutcome::FormatError);
        EXPECT_EQ(LoadUpdateImage(path, true, image_).outcome, ELoadOutcome::FormatError);

        plain[14] = '\0';
        const std::string good = Write("good.bin", EncipherImage(variant, plain));
        EXPECT_EQ(LoadUpdateImage(good, true, image_).outcome, ELoadOutcome::Loaded);
    }
}

TEST_F(UpdateFileTest, UnopenablePaths) {
    EXPECT_EQ(LoadUpdateHeader("", image_).outcome, ELoadOutcome::CannotOpen);
    EXPECT_EQ(LoadUpdateHeader(dir_.File("missing.bin"), image_).outcome, ELoadOutcome::CannotOpen);
    EXPECT_EQ(LoadUpdateImage(dir_.File("missing.bin"), true, image_).outcome,
              ELoadOutcome::CannotOpen);
    EXPECT_EQ(LoadUpdateHeader(dir_.Path().string(), image_).outcome, ELoadOutcome::CannotOpen);
    EXPECT_EQ(LoadUpdateImage(dir_.Path().string(), true, image_).outcome,
              ELoadOutcome::CannotOpen);
    EXPECT_TRUE(UntouchedFrom(0));
}

TEST_F(UpdateFileTest, HeaderLoadWritesOnlyTheHeaderArea) {
    const std::string path = WritePacked("file.bin", EPackVariant::TripleDes, 4000);
    ASSERT_EQ(LoadUpdateHeader(path, image_).outcome, ELoadOutcome::Loaded);
    EXPECT_TRUE(UntouchedFrom(512));

    // A format error leaves the failed Triple-DES attempt, still only in the header area.
    image_.fill(kSentinel);
    const std::string garbage = Write("garbage.bin", PatternPayload(600, 3));
    ASSERT_EQ(LoadUpdateHeader(garbage, image_).outcome, ELoadOutcome::FormatError);
    EXPECT_TRUE(UntouchedFrom(512));
}

TEST_F(UpdateFileTest, PartialLastBlockIsDecipheredWithZeroCompletion) {
    // 512 + 13 bytes: the last stored block has 5 bytes.
    const std::string path = WritePacked("odd.bin", EPackVariant::TripleDes, 13);
    ASSERT_EQ(LoadUpdateImage(path, true, image_).outcome, ELoadOutcome::Loaded);
    EXPECT_EQ(ImagePayload(), packed_.loadedPayload);

    // The rest of that last block is written too; nothing beyond it.
    std::array<std::uint8_t, 8> block{};
    std::copy(packed_.bytes.begin() + 520, packed_.bytes.end(), block.begin());
    RefTripleDesDecryptBlock(UpdateFileDesKey().data(), block.data(), block.data());
    EXPECT_TRUE(std::equal(block.begin(), block.end(), image_.begin() + 520));
    EXPECT_TRUE(UntouchedFrom(528));
}

TEST_F(UpdateFileTest, AesLoadLeavesBytesBeyondTheFileFromTheTripleDesAttempt) {
    const std::string path = WritePacked("aes.bin", EPackVariant::Aes, 13);
    ASSERT_EQ(LoadUpdateImage(path, true, image_).outcome, ELoadOutcome::Loaded);
    EXPECT_TRUE(UntouchedFrom(528));
}

TEST_F(UpdateFileTest, HeaderAloneMatchesTheStartOfTheWholeImage) {
    const std::string path = WritePacked("file.bin", EPackVariant::TripleDes, 3000);
    ASSERT_EQ(LoadUpdateHeader(path, image_).outcome, ELoadOutcome::Loaded);
    const std::vector<std::uint8_t> fromHeader(image_.begin(), image_.begin() + 512);
    image_.fill(0);
    ASSERT_EQ(LoadUpdateImage(path, true, image_).outcome, ELoadOutcome::Loaded);
    EXPECT_TRUE(std::equal(fromHeader.begin(), fromHeader.end(), image_.begin()));
}

TEST_F(UpdateFileTest, TextsStopAtTheirFieldEvenWithoutNul) {
    SHeaderFields fields;
    fields.version = "V1.23456";         // fills all 8 bytes
    fields.type = std::string(32, 'T');  // fills all 32 bytes
    fields.memo = std::string(434, 'M'); // runs up to the payload mode
    fields.payloadMode = 'X';
    const std::string path = WritePacked("full-fields.bin", EPackVariant::TripleDes, 8, fields);
    ASSERT_EQ(LoadUpdateHeader(path, image_).outcome, ELoadOutcome::Loaded);
    const SUpdateHeader read = ReadUpdateHeader(image_);
    EXPECT_EQ(read.szVersion, "V1.23456");
    EXPECT_EQ(read.szType, std::string(32, 'T'));
    EXPECT_EQ(read.szMemo, std::string(434, 'M'));
    EXPECT_EQ(HeaderVersionNumber(image_), 1203);
}

TEST(UpdateFileTexts, OutcomeMessages) {
    EXPECT_EQ(LoadOutcomeText(ELoadOutcome::CannotOpen), "Error open file");
    EXPECT_EQ(LoadOutcomeText(ELoadOutcome::TooBig), "The file is big!");
    EXPECT_EQ(LoadOutcomeText(ELoadOutcome::FormatError), "File format error!");
    EXPECT_EQ(LoadOutcomeText(ELoadOutcome::Loaded), "");
}

} // namespace
