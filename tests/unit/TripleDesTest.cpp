#include "updatefile/TripleDes.h"

#include "support/DesReference.h"

#include <gtest/gtest.h>
#if CRENOVIX_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace crenovix {
namespace {

using Block = std::array<std::uint8_t, 8>;
using testsupport::RefDesBlock;
using testsupport::RefDesSubkeys;

class TripleDesTest : public ::testing::Test {
protected:
    std::mt19937 random_{20240611};

    Block RandomBlock() {
        Block b{};
        for (auto& byte : b) {
            byte = static_cast<std::uint8_t>(random_());
        }
        return b;
    }
    std::vector<std::uint8_t> RandomBytes(std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(random_());
        }
        return bytes;
    }
};

#if CRENOVIX_HAVE_OPENSSL
// Two-key EDE with both halves equal is single DES; the library uses the published conventions.
Block LibraryDesEncrypt(const Block& key, const Block& in) {
    std::uint8_t key16[16];
    std::memcpy(key16, key.data(), 8);
    std::memcpy(key16 + 8, key.data(), 8);
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                              &EVP_CIPHER_CTX_free);
    Block out{};
    int written = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_des_ede_ecb(), nullptr, key16, nullptr), 1);
    EXPECT_EQ(EVP_CIPHER_CTX_set_padding(ctx.get(), 0), 1);
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), out.data(), &written, in.data(), 8), 1);
    EXPECT_EQ(written, 8);
    return out;
}
#endif

// The reference's typed-in tables, run with the published conventions, must be plain DES.
TEST_F(TripleDesTest, ReferenceTablesGiveStandardDesUnderStandardConventions) {
    const Block key{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    const Block plain{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    Block out{};
    testsupport::RefStandardDesEncryptBlock(key.data(), plain.data(), out.data());
    EXPECT_EQ(out, (Block{0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05}));
#if CRENOVIX_HAVE_OPENSSL
    for (int n = 0; n < 300; ++n) {
        const Block k = RandomBlock();
        const Block in = RandomBlock();
        testsupport::RefStandardDesEncryptBlock(k.data(), in.data(), out.data());
        ASSERT_EQ(out, LibraryDesEncrypt(k, in)) << "case " << n;
    }
#endif
}

TEST_F(TripleDesTest, KeyScheduleMatchesReferenceBitForBit) {
    for (int n = 0; n < 200; ++n) {
        const Block key = RandomBlock();
        const SDesKeySchedule schedule = DesKeySchedule(key.data());
        const testsupport::RefSubkeys ref = RefDesSubkeys(key.data());
        for (int round = 0; round < 16; ++round) {
            for (int bit = 0; bit < 48; ++bit) {
                ASSERT_EQ((schedule.subkeys[round][bit / 6] >> (bit % 6)) & 1, ref[round][bit])
                    << "case " << n << " round " << round << " bit " << bit;
            }
        }
    }
}

TEST_F(TripleDesTest, MostSignificantKeyBitsHaveNoEffect) {
    for (int n = 0; n < 50; ++n) {
        const Block key = RandomBlock();
        Block flipped = key;
        flipped[n % 8] ^= 0x80;
        if (n % 2 == 1) {
            for (auto& byte : flipped) {
                byte ^= 0x80;
            }
        }
        EXPECT_EQ(DesKeySchedule(key.data()).subkeys, DesKeySchedule(flipped.data()).subkeys);
        EXPECT_EQ(RefDesSubkeys(key.data()), RefDesSubkeys(flipped.data()));
        const Block in = RandomBlock();
        Block a{};
        Block b{};
        DesBlock(DesKeySchedule(key.data()), in.data(), a.data(), n % 2);
        DesBlock(DesKeySchedule(flipped.data()), in.data(), b.data(), n % 2);
        EXPECT_EQ(a, b);
    }
}

TEST_F(TripleDesTest, BlockMatchesReferenceInBothDirections) {
    for (int n = 0; n < 1000; ++n) {
        const Block key = RandomBlock();
        const Block in = RandomBlock();
        const int direction = n % 2;
        Block ours{};
        Block ref{};
        DesBlock(DesKeySchedule(key.data()), in.data(), ours.data(), direction);
        RefDesBlock(RefDesSubkeys(key.data()), in.data(), ref.data(), direction);
        ASSERT_EQ(ours, ref) << "case " << n << " direction " << direction;
    }
}

TEST_F(TripleDesTest, InverseAndForwardUndoEachOther) {
    for (int n = 0; n < 200; ++n) {
        const Block key = RandomBlock();
        const Block in = RandomBlock();
        const SDesKeySchedule schedule = DesKeySchedule(key.data());
        const testsupport::RefSubkeys subkeys = RefDesSubkeys(key.data());
        for (int first = 0; first < 2; ++first) {
            Block x = in;
            DesBlock(schedule, x.data(), x.data(), first); // in place on purpose
            EXPECT_NE(x, in);
            DesBlock(schedule, x.data(), x.data(), 1 - first);
            EXPECT_EQ(x, in);
            Block y{};
            RefDesBlock(subkeys, in.data(), y.data(), first);
            RefDesBlock(subkeys, y.data(), y.data(), 1 - first);
            EXPECT_EQ(y, in);
        }
    }
}

TEST_F(TripleDesTest, UpdateFileKeyIsKeyTextThenZero) {
    const std::array<std::uint8_t, 16> key = UpdateFileDesKey();
    EXPECT_EQ(std::memcmp(key.data(), "9k_P61w4_802913", 15), 0);
    EXPECT_EQ(key[15], 0);
}

TEST_F(TripleDesTest, DecryptMatchesReferenceOnRandomBuffers) {
    const std::array<std::uint8_t, 16> key = UpdateFileDesKey();
    for (int n = 0; n < 100; ++n) {
        const std::size_t length = 1 + random_() % 200;
        const std::size_t rounded = (length + 7) / 8 * 8;
        const std::vector<std::uint8_t> input = RandomBytes(length);
        std::vector<std::uint8_t> padded(input);
        padded.resize(rounded, 0);
        std::vector<std::uint8_t> expected(rounded);
        for (std::size_t i = 0; i < rounded; i += 8) {
            testsupport::RefTripleDesDecryptBlock(key.data(), &padded[i], &expected[i]);
        }
        std::vector<std::uint8_t> output(rounded);
        ASSERT_TRUE(TripleDesDecrypt(input.data(), length, output.data()));
        ASSERT_EQ(output, expected) << "length " << length;
    }
}

TEST_F(TripleDesTest, DecryptUndoesReferenceEncryption) {
    const std::array<std::uint8_t, 16> key = UpdateFileDesKey();
    const std::vector<std::uint8_t> plain = RandomBytes(256);
    std::vector<std::uint8_t> cipher(plain.size());
    for (std::size_t i = 0; i < plain.size(); i += 8) {
        testsupport::RefTripleDesEncryptBlock(key.data(), &plain[i], &cipher[i]);
    }
    std::vector<std::uint8_t> output(plain.size());
    ASSERT_TRUE(TripleDesDecrypt(cipher.data(), cipher.size(), output.data()));
    EXPECT_EQ(output, plain);
}

// Frozen from the reference, so a change that moves both implementations the same way shows.
TEST_F(TripleDesTest, KnownAnswer) {
    const std::uint8_t input[8] = {'C', 'R', 'E', 'N', 'O', 'V', 'I', 'X'};
    std::uint8_t output[8]{};
    ASSERT_TRUE(TripleDesDecrypt(input, 8, output));
    EXPECT_EQ(std::vector<std::uint8_t>(output, output + 8),
              (std::vector<std::uint8_t>{0x06, 0xCA, 0x1F, 0x3D, 0x48, 0x27, 0xA6, 0x6D}));
}

TEST_F(TripleDesTest, RejectsEmptyOrMissingBuffersWithoutWriting) {
    const std::vector<std::uint8_t> input = RandomBytes(16);
    std::vector<std::uint8_t> output(16, 0xA5);
    EXPECT_FALSE(TripleDesDecrypt(input.data(), 0, output.data()));
    EXPECT_FALSE(TripleDesDecrypt(nullptr, 16, output.data()));
    EXPECT_FALSE(TripleDesDecrypt(input.data(), 16, nullptr));
    EXPECT_TRUE(std::all_of(output.begin(), output.end(), [](auto b) { return b == 0xA5; }));
}

TEST_F(TripleDesTest, LengthEightWritesOneBlock) {
    const std::vector<std::uint8_t> input = RandomBytes(16);
    std::vector<std::uint8_t> whole(16);
    ASSERT_TRUE(TripleDesDecrypt(input.data(), 16, whole.data()));
    std::vector<std::uint8_t> output(16, 0xA5);
    ASSERT_TRUE(TripleDesDecrypt(input.data(), 8, output.data()));
    EXPECT_TRUE(std::equal(output.begin(), output.begin() + 8, whole.begin()));
    EXPECT_TRUE(std::all_of(output.begin() + 8, output.end(), [](auto b) { return b == 0xA5; }));
}

TEST_F(TripleDesTest, PartialLastBlockIsCompletedWithZeros) {
    // Exactly 12 bytes on the heap, so a read past them is caught by the sanitizer build.
    const std::vector<std::uint8_t> input = RandomBytes(12);
    std::vector<std::uint8_t> padded(input);
    padded.resize(16, 0);
    std::vector<std::uint8_t> expected(16);
    ASSERT_TRUE(TripleDesDecrypt(padded.data(), 16, expected.data()));
    std::vector<std::uint8_t> output(24, 0xA5);
    ASSERT_TRUE(TripleDesDecrypt(input.data(), 12, output.data()));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), output.begin()));
    EXPECT_TRUE(std::all_of(output.begin() + 16, output.end(), [](auto b) { return b == 0xA5; }));
}

TEST_F(TripleDesTest, HeaderAloneDeciphersLikeStartOfWholeFile) {
    const std::vector<std::uint8_t> file = RandomBytes(4096 + 5);
    std::vector<std::uint8_t> whole(4096 + 8);
    ASSERT_TRUE(TripleDesDecrypt(file.data(), file.size(), whole.data()));
    std::vector<std::uint8_t> header(512);
    ASSERT_TRUE(TripleDesDecrypt(file.data(), 512, header.data()));
    EXPECT_TRUE(std::equal(header.begin(), header.end(), whole.begin()));
}

} // namespace
} // namespace crenovix
