#include "updatefile/Aes.h"

#include "support/AesReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace crenovix {
namespace {

using Block = std::array<std::uint8_t, 16>;
using testsupport::ReverseWordGroups;

Block FromHex(std::string_view hex) {
    Block bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] =
            static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    }
    return bytes;
}

Block Reversed(Block block) {
    ReverseWordGroups(block.data());
    return block;
}

std::vector<std::uint8_t> RandomBytes(std::mt19937& rng, std::size_t count) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(rng));
    }
    return bytes;
}

struct SFipsVector {
    const char* name;
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS-197 Appendix C.1 and Appendix B.
constexpr std::array<SFipsVector, 2> kFipsVectors = {{
    {"C.1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"B", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
}};

TEST(AesDecryptBlock, PublishedVectorsInStoredByteOrder) {
    for (const auto& vector : kFipsVectors) {
        SCOPED_TRACE(vector.name);
        const Block storedKey = Reversed(FromHex(vector.key));
        Block block = Reversed(FromHex(vector.cipher));
        AesDecryptBlock(storedKey.data(), block.data());
        EXPECT_EQ(block, Reversed(FromHex(vector.plain)));
    }
}

#if CRENOVIX_HAVE_OPENSSL
TEST(AesDecryptBlock, MatchesStandardAesOnRandomKeysAndBlocks) {
    std::mt19937 rng(0x5eed1234);
    for (int i = 0; i < 2000; ++i) {
        const auto keyBytes = RandomBytes(rng, 16);
        const auto blockBytes = RandomBytes(rng, 16);
        Block storedKey{};
        Block block{};
        std::copy(keyBytes.begin(), keyBytes.end(), storedKey.begin());
        std::copy(blockBytes.begin(), blockBytes.end(), block.begin());

        const Block key = Reversed(storedKey);
        const Block in = Reversed(block);
        Block expected{};
        testsupport::OpenSslAesEcbDecrypt(key.data(), in.data(), expected.data());
        ReverseWordGroups(expected.data());

        AesDecryptBlock(storedKey.data(), block.data());
        ASSERT_EQ(block, expected) << "case " << i;
    }
}

TEST(AesDecryptHeader, DeciphersEachBlockSeparatelyWithHeaderKey) {
    std::mt19937 rng(42);
    const auto original = RandomBytes(rng, kAesHeaderBytes);
    // Two equal blocks must decipher equally: no chaining between blocks.
    auto buffer = original;
    std::copy_n(buffer.begin(), 16, buffer.begin() + 16 * 7);

    Block key{};
    std::copy(kAesHeaderKey.begin(), kAesHeaderKey.end(), key.begin());
    key = Reversed(key);
    auto expected = buffer;
    for (std::size_t offset = 0; offset < kAesHeaderBytes; offset += 16) {
        std::uint8_t* block = expected.data() + offset;
        ReverseWordGroups(block);
        testsupport::OpenSslAesEcbDecrypt(key.data(), block, block);
        ReverseWordGroups(block);
    }
    AesDecryptHeader(buffer.data());
    EXPECT_EQ(buffer, expected);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 16, buffer.begin() + 16 * 7));
}
#endif

TEST(AesDecryptHeader, TouchesOnlyFirst512Bytes) {
    std::mt19937 rng(7);
    const auto original = RandomBytes(rng, kAesHeaderBytes + 100);
    auto longBuffer = original;
    std::vector<std::uint8_t> exactBuffer(original.begin(), original.begin() + kAesHeaderBytes);

    AesDecryptHeader(longBuffer.data());
    AesDecryptHeader(exactBuffer.data());

    EXPECT_TRUE(std::equal(exactBuffer.begin(), exactBuffer.end(), longBuffer.begin()));
    EXPECT_TRUE(std::equal(original.begin() + kAesHeaderBytes, original.end(),
                           longBuffer.begin() + kAesHeaderBytes));
    // The last header block is deciphered too, not just the ones before it.
    EXPECT_FALSE(std::equal(original.begin() + kAesHeaderBytes - 16,
                            original.begin() + kAesHeaderBytes,
                            longBuffer.begin() + kAesHeaderBytes - 16));
}

TEST(AesDecryptHeader, UndoesHeaderEncryptionOnRepeatedCalls) {
    std::mt19937 rng(2024);
    for (int i = 0; i < 3; ++i) {
        const auto plain = RandomBytes(rng, kAesHeaderBytes);
        auto buffer = plain;
        testsupport::AesEncryptHeader(buffer.data());
        ASSERT_NE(buffer, plain);
        AesDecryptHeader(buffer.data());
        EXPECT_EQ(buffer, plain) << "call " << i;
    }
}

} // namespace
} // namespace crenovix
