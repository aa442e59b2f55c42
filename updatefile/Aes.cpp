// Table-driven AES-128 decryption for the header of AES update files.
//
// State and round keys are 32-bit words, one per column, the column's first byte in the most
// significant byte. Each 4-byte group of the buffer and of the stored key is read as a
// little-endian word, which yields the group-reversed byte order the files were made with.
// Decryption uses the equivalent inverse cipher so every full round is four lookups per column
// in one inverse round table plus a round-key XOR.
#include "updatefile/Aes.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace crenovix {
namespace {

using Word = std::uint32_t;
using ByteTable = std::array<std::uint8_t, 256>;
using WordTable = std::array<Word, 256>;

constexpr int kRounds = 10;
constexpr int kBlockBytes = 16;
constexpr int kRoundKeyWords = 4 * (kRounds + 1);

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr std::uint8_t GfMul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    while (b != 0) {
        if ((b & 1) != 0) {
            product ^= a;
        }
        a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) != 0 ? 0x1b : 0x00));
        b >>= 1;
    }
    return product;
}

// Multiplicative inverse, with 0 mapped to 0 as the S-box requires. a^254 = a^-1 in GF(2^8).
constexpr std::uint8_t GfInverse(std::uint8_t a) {
    std::uint8_t result = 1;
    std::uint8_t power = a;
    for (int exponent = 254; exponent != 0; exponent >>= 1) {
        if ((exponent & 1) != 0) {
            result = GfMul(result, power);
        }
        power = GfMul(power, power);
    }
    return a == 0 ? 0 : result;
}

constexpr std::uint8_t RotateByteLeft(std::uint8_t value, int count) {
    return static_cast<std::uint8_t>((value << count) | (value >> (8 - count)));
}

constexpr ByteTable MakeSBox() {
    ByteTable box{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t inv = GfInverse(static_cast<std::uint8_t>(x));
        box[x] = static_cast<std::uint8_t>(inv ^ RotateByteLeft(inv, 1) ^ RotateByteLeft(inv, 2) ^
                                           RotateByteLeft(inv, 3) ^ RotateByteLeft(inv, 4) ^ 0x63);
    }
    return box;
}

constexpr ByteTable kSBox = MakeSBox();

constexpr ByteTable MakeInverseSBox() {
    ByteTable box{};
    for (int x = 0; x < 256; ++x) {
        box[kSBox[x]] = static_cast<std::uint8_t>(x);
    }
    return box;
}

constexpr ByteTable kInverseSBox = MakeInverseSBox();

// InvSubBytes folded with the InvMixColumns column for a byte in the first row:
// (0e, 09, 0d, 0b) times InvS[x], first coefficient in the most significant byte. The other
// rows use the same entry rotated right by 8, 16 and 24 bits.
constexpr WordTable MakeInverseRoundTable() {
    WordTable table{};
    for (int x = 0; x < 256; ++x) {
        const std::uint8_t s = kInverseSBox[x];
        table[x] = (Word{GfMul(s, 0x0e)} << 24) | (Word{GfMul(s, 0x09)} << 16) |
                   (Word{GfMul(s, 0x0d)} << 8) | Word{GfMul(s, 0x0b)};
    }
    return table;
}

constexpr WordTable kTd0 = MakeInverseRoundTable();

constexpr std::array<std::uint8_t, kRounds> kRoundConstants = {0x01, 0x02, 0x04, 0x08, 0x10,
                                                               0x20, 0x40, 0x80, 0x1b, 0x36};

using RoundKeys = std::array<Word, kRoundKeyWords>;

constexpr Word Byte0(Word w) {
    return w >> 24;
}
constexpr Word Byte1(Word w) {
    return (w >> 16) & 0xff;
}
constexpr Word Byte2(Word w) {
    return (w >> 8) & 0xff;
}
constexpr Word Byte3(Word w) {
    return w & 0xff;
}

Word LoadWord(const std::uint8_t* p) {
    return Word{p[0]} | (Word{p[1]} << 8) | (Word{p[2]} << 16) | (Word{p[3]} << 24);
}

void StoreWord(Word w, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(w);
    p[1] = static_cast<std::uint8_t>(w >> 8);
    p[2] = static_cast<std::uint8_t>(w >> 16);
    p[3] = static_cast<std::uint8_t>(w >> 24);
}

Word Td(Word index, int row) {
    return std::rotr(kTd0[index], 8 * row);
}

Word SubWord(Word w) {
    return (Word{kSBox[Byte0(w)]} << 24) | (Word{kSBox[Byte1(w)]} << 16) |
           (Word{kSBox[Byte2(w)]} << 8) | Word{kSBox[Byte3(w)]};
}

// InvMixColumns of one column. Td(S[x]) undoes the inverse S-box inside the table, leaving the
// mix-columns coefficients alone.
Word InvMixColumn(Word w) {
    return Td(kSBox[Byte0(w)], 0) ^ Td(kSBox[Byte1(w)], 1) ^ Td(kSBox[Byte2(w)], 2) ^
           Td(kSBox[Byte3(w)], 3);
}

// Decryption round keys for the equivalent inverse cipher: the encryption schedule in reverse
// round order, with InvMixColumns applied to every round key except the first and the last.
RoundKeys ExpandDecryptionKey(const std::uint8_t storedKey[16]) {
    RoundKeys enc{};
    for (int i = 0; i < 4; ++i) {
        enc[i] = LoadWord(storedKey + 4 * i);
    }
    for (int i = 4; i < kRoundKeyWords; ++i) {
        Word temp = enc[i - 1];
        if (i % 4 == 0) {
            temp = SubWord(std::rotl(temp, 8)) ^ (Word{kRoundConstants[i / 4 - 1]} << 24);
        }
        enc[i] = enc[i - 4] ^ temp;
    }

    RoundKeys dec{};
    for (int round = 0; round <= kRounds; ++round) {
        for (int column = 0; column < 4; ++column) {
            const Word w = enc[4 * (kRounds - round) + column];
            const bool inner = round != 0 && round != kRounds;
            dec[4 * round + column] = inner ? InvMixColumn(w) : w;
        }
    }
    return dec;
}

void DecryptBlock(const RoundKeys& rk, std::uint8_t block[16]) {
    std::array<Word, 4> s{};
    for (int c = 0; c < 4; ++c) {
        s[c] = LoadWord(block + 4 * c) ^ rk[c];
    }

    // InvShiftRows moves row r of column c to column c + r, so output column c takes row r
    // from input column c - r.
    std::array<Word, 4> t{};
    for (int round = 1; round < kRounds; ++round) {
        for (int c = 0; c < 4; ++c) {
            t[c] = Td(Byte0(s[c]), 0) ^ Td(Byte1(s[(c + 3) % 4]), 1) ^
                   Td(Byte2(s[(c + 2) % 4]), 2) ^ Td(Byte3(s[(c + 1) % 4]), 3) ^ rk[4 * round + c];
        }
        s = t;
    }

    for (int c = 0; c < 4; ++c) {
        const Word out = (Word{kInverseSBox[Byte0(s[c])]} << 24) |
                         (Word{kInverseSBox[Byte1(s[(c + 3) % 4])]} << 16) |
                         (Word{kInverseSBox[Byte2(s[(c + 2) % 4])]} << 8) |
                         Word{kInverseSBox[Byte3(s[(c + 1) % 4])]};
        StoreWord(out ^ rk[4 * kRounds + c], block + 4 * c);
    }
}

} // namespace

void AesDecryptHeader(std::uint8_t* buffer) {
    // The key is a program constant, so its schedule never changes after the first call.
    static const RoundKeys headerKeys = ExpandDecryptionKey(kAesHeaderKey.data());
    for (std::size_t offset = 0; offset < kAesHeaderBytes; offset += kBlockBytes) {
        DecryptBlock(headerKeys, buffer + offset);
    }
}

void AesDecryptBlock(const std::uint8_t storedKey[16], std::uint8_t block[16]) {
    DecryptBlock(ExpandDecryptionKey(storedKey), block);
}

} // namespace crenovix
