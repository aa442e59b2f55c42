#include "support/SmallAes.h"

#include "support/AesReference.h"
#include "updatefile/Aes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace crenovix {
namespace {

using Block = std::array<std::uint8_t, 16>;
using testsupport::SmallAesEcbEncrypt;

Block FromHex(std::string_view hex) {
    Block bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] =
            static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    }
    return bytes;
}

Block RandomBlock(std::mt19937& rng) {
    Block block{};
    for (auto& b : block) {
        b = static_cast<std::uint8_t>(rng());
    }
    return block;
}

// FIPS-197 Appendix C.1 and Appendix B, enciphering direction; the second works in place.
TEST(SmallAes, PublishedVectors) {
    Block out{};
    const Block key1 = FromHex("000102030405060708090a0b0c0d0e0f");
    SmallAesEcbEncrypt(key1.data(), FromHex("00112233445566778899aabbccddeeff").data(), out.data());
    EXPECT_EQ(out, FromHex("69c4e0d86a7b0430d8cdb78070b4c55a"));

    const Block key2 = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
    Block block = FromHex("3243f6a8885a308d313198a2e0370734");
    SmallAesEcbEncrypt(key2.data(), block.data(), block.data());
    EXPECT_EQ(block, FromHex("3925841d02dc09fbdc118597196a0b32"));
}

// The product's decryption, in the files' byte order, undoes it for any key: the check of
// AesDecryptBlock that does not depend on OpenSSL.
TEST(SmallAes, ProductDecryptionUndoesItOnRandomKeys) {
    std::mt19937 rng(0x0ae5);
    for (int i = 0; i < 500; ++i) {
        const Block key = RandomBlock(rng);
        const Block plain = RandomBlock(rng);
        Block block{};
        SmallAesEcbEncrypt(key.data(), plain.data(), block.data());
        ASSERT_NE(block, plain) << "case " << i;

        Block storedKey = key;
        testsupport::ReverseWordGroups(storedKey.data());
        testsupport::ReverseWordGroups(block.data());
        AesDecryptBlock(storedKey.data(), block.data());
        testsupport::ReverseWordGroups(block.data());
        ASSERT_EQ(block, plain) << "case " << i;
    }
}

#if CRENOVIX_HAVE_OPENSSL
TEST(SmallAes, MatchesOpenSslOnRandomKeysAndBlocks) {
    std::mt19937 rng(0x5a11);
    for (int i = 0; i < 2000; ++i) {
        const Block key = RandomBlock(rng);
        const Block plain = RandomBlock(rng);
        Block ours{};
        Block theirs{};
        SmallAesEcbEncrypt(key.data(), plain.data(), ours.data());
        testsupport::OpenSslAesEcbEncrypt(key.data(), plain.data(), theirs.data());
        ASSERT_EQ(ours, theirs) << "case " << i;
    }
}
#endif

} // namespace
} // namespace crenovix
