#include "support/DesReference.h"

#include <cstddef>

namespace crenovix::testsupport {
namespace {

using Bits32 = std::array<std::uint8_t, 32>;
using Bits48 = std::array<std::uint8_t, 48>;
using Bits64 = std::array<std::uint8_t, 64>;

// Tables as published: entry i names the (1-based) input bit that becomes output bit i + 1.
constexpr std::uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

constexpr std::uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

constexpr int kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr std::uint8_t kIp[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7,
};

constexpr std::uint8_t kIpInverse[64] = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25,
};

constexpr std::uint8_t kE[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1,
};

constexpr std::uint8_t kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// S-boxes: [box][row][column].
constexpr std::uint8_t kS[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// The three places where the update-file variant parts from the published conventions.
struct Conventions {
    bool msbFirstInBytes;
    bool sboxMsbFirst;
    bool exchangeHalvesAtEnd;
};
constexpr Conventions kVariant{false, false, false};
constexpr Conventions kStandard{true, true, true};

Bits64 BytesToBits(const std::uint8_t bytes[8], bool msbFirst) {
    Bits64 bits{};
    for (int j = 0; j < 8; ++j) {
        for (int t = 0; t < 8; ++t) {
            const int shift = msbFirst ? 7 - t : t;
            bits[8 * j + t] = static_cast<std::uint8_t>((bytes[j] >> shift) & 1);
        }
    }
    return bits;
}

void BitsToBytes(const Bits64& bits, std::uint8_t bytes[8], bool msbFirst) {
    for (int j = 0; j < 8; ++j) {
        std::uint8_t byte = 0;
        for (int t = 0; t < 8; ++t) {
            const int shift = msbFirst ? 7 - t : t;
            byte = static_cast<std::uint8_t>(byte | (bits[8 * j + t] << shift));
        }
        bytes[j] = byte;
    }
}

template <std::size_t N, std::size_t M>
std::array<std::uint8_t, N> Permute(const std::array<std::uint8_t, M>& in,
                                    const std::uint8_t (&table)[N]) {
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        out[i] = in[table[i] - 1];
    }
    return out;
}

void RotateLeft28(std::uint8_t* half, int count) {
    for (int c = 0; c < count; ++c) {
        const std::uint8_t first = half[0];
        for (int i = 0; i < 27; ++i) {
            half[i] = half[i + 1];
        }
        half[27] = first;
    }
}

RefSubkeys MakeSubkeys(const std::uint8_t key[8], const Conventions& conv) {
    const std::array<std::uint8_t, 56> cd = Permute(BytesToBits(key, conv.msbFirstInBytes), kPc1);
    std::array<std::uint8_t, 56> rotated = cd;
    RefSubkeys subkeys{};
    for (int round = 0; round < 16; ++round) {
        RotateLeft28(rotated.data(), kShifts[round]);
        RotateLeft28(rotated.data() + 28, kShifts[round]);
        subkeys[round] = Permute(rotated, kPc2);
    }
    return subkeys;
}

Bits32 CipherFunction(const Bits32& r, const Bits48& k, const Conventions& conv) {
    Bits48 x = Permute(r, kE);
    for (int i = 0; i < 48; ++i) {
        x[i] ^= k[i];
    }
    Bits32 s{};
    for (int box = 0; box < 8; ++box) {
        const std::uint8_t* b = &x[6 * box];
        const int row = 2 * b[0] + b[5];
        const int column = 8 * b[1] + 4 * b[2] + 2 * b[3] + b[4];
        const int v = kS[box][row][column];
        for (int n = 0; n < 4; ++n) {
            const int shift = conv.sboxMsbFirst ? 3 - n : n;
            s[4 * box + n] = static_cast<std::uint8_t>((v >> shift) & 1);
        }
    }
    return Permute(s, kP);
}

void Block(const RefSubkeys& subkeys, const std::uint8_t in[8], std::uint8_t out[8], int direction,
           const Conventions& conv) {
    const Bits64 permuted = Permute(BytesToBits(in, conv.msbFirstInBytes), kIp);
    Bits32 l{};
    Bits32 r{};
    for (int i = 0; i < 32; ++i) {
        l[i] = permuted[i];
        r[i] = permuted[32 + i];
    }
    if (direction == 0) {
        for (int round = 0; round < 16; ++round) {
            const Bits32 f = CipherFunction(r, subkeys[round], conv);
            const Bits32 oldL = l;
            l = r;
            for (int i = 0; i < 32; ++i) {
                r[i] = oldL[i] ^ f[i];
            }
        }
    } else {
        for (int round = 15; round >= 0; --round) {
            const Bits32 f = CipherFunction(l, subkeys[round], conv);
            const Bits32 oldL = l;
            for (int i = 0; i < 32; ++i) {
                l[i] = r[i] ^ f[i];
            }
            r = oldL;
        }
    }
    const Bits32& first = conv.exchangeHalvesAtEnd ? r : l;
    const Bits32& second = conv.exchangeHalvesAtEnd ? l : r;
    Bits64 preOutput{};
    for (int i = 0; i < 32; ++i) {
        preOutput[i] = first[i];
        preOutput[32 + i] = second[i];
    }
    BitsToBytes(Permute(preOutput, kIpInverse), out, conv.msbFirstInBytes);
}

} // namespace

RefSubkeys RefDesSubkeys(const std::uint8_t key[8]) {
    return MakeSubkeys(key, kVariant);
}

void RefDesBlock(const RefSubkeys& subkeys, const std::uint8_t in[8], std::uint8_t out[8],
                 int direction) {
    Block(subkeys, in, out, direction, kVariant);
}

void RefTripleDesDecryptBlock(const std::uint8_t key16[16], const std::uint8_t in[8],
                              std::uint8_t out[8]) {
    const RefSubkeys k1 = RefDesSubkeys(key16);
    const RefSubkeys k2 = RefDesSubkeys(key16 + 8);
    RefDesBlock(k1, in, out, 1);
    RefDesBlock(k2, out, out, 0);
    RefDesBlock(k1, out, out, 1);
}

void RefTripleDesEncryptBlock(const std::uint8_t key16[16], const std::uint8_t in[8],
                              std::uint8_t out[8]) {
    const RefSubkeys k1 = RefDesSubkeys(key16);
    const RefSubkeys k2 = RefDesSubkeys(key16 + 8);
    RefDesBlock(k1, in, out, 0);
    RefDesBlock(k2, out, out, 1);
    RefDesBlock(k1, out, out, 0);
}

void RefStandardDesEncryptBlock(const std::uint8_t key[8], const std::uint8_t in[8],
                                std::uint8_t out[8]) {
    Block(MakeSubkeys(key, kStandard), in, out, 0, kStandard);
}

} // namespace crenovix::testsupport
