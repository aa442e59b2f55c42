#include "updatefile/TripleDes.h"

#include <bit>
#include <utility>

namespace crenovix {
namespace {

// The key text every Triple-DES update file is enciphered with.
constexpr char kKeyText[] = "9k_P61w4_802913";

// Standard DES tables; entry i names the 1-based input bit that becomes output bit i + 1. Bits
// are held in integers with bit n at position n - 1, which is also how a block loaded
// little-endian lines up with the update files' least-significant-first numbering.
constexpr std::uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};
constexpr std::uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};
constexpr int kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
constexpr std::uint8_t kIp[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7,
};
constexpr std::uint8_t kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};
// S-boxes, each as 4 rows of 16 columns.
constexpr std::uint8_t kSBox[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11},
};

constexpr std::uint64_t PermuteBits(std::uint64_t in, const std::uint8_t* table, int count) {
    std::uint64_t out = 0;
    for (int i = 0; i < count; ++i) {
        out |= ((in >> (table[i] - 1)) & 1) << i;
    }
    return out;
}

// Inside the rounds each 32-bit half is kept rotated left by this much. Then the first bit of
// every E group lands on bit 2 of a byte, either of the half (odd groups) or of the half rotated
// right by 4 (even groups), and the group is picked out with one shift and one mask.
constexpr int kHalfRotation = 3;

constexpr std::uint64_t RotateHalves(std::uint64_t lr, int by) {
    const auto l = static_cast<std::uint32_t>(lr);
    const auto r = static_cast<std::uint32_t>(lr >> 32);
    return std::rotl(l, by) | (std::uint64_t{std::rotl(r, by)} << 32);
}

struct SCipherTables {
    // Initial permutation, byte by byte: ip[j][b] is IP of byte j holding b, halves rotated.
    std::uint64_t ip[8][256];
    // Final permutation likewise, taking the rotated halves (L low, R high) to the output block.
    std::uint64_t fp[8][256];
    // S-box k and then P for each 6-bit group value, result rotated like the halves.
    std::uint32_t sp[8][64];
};

constexpr SCipherTables MakeCipherTables() {
    SCipherTables t{};
    std::uint8_t ipInverse[64]{};
    for (int i = 0; i < 64; ++i) {
        ipInverse[kIp[i] - 1] = static_cast<std::uint8_t>(i + 1);
    }
    for (int j = 0; j < 8; ++j) {
        for (std::uint64_t b = 0; b < 256; ++b) {
            t.ip[j][b] = RotateHalves(PermuteBits(b << (8 * j), kIp, 64), kHalfRotation);
            t.fp[j][b] = PermuteBits(RotateHalves(b << (8 * j), 32 - kHalfRotation), ipInverse, 64);
        }
    }
    for (int k = 0; k < 8; ++k) {
        for (std::uint32_t g = 0; g < 64; ++g) {
            // Bit 0 of the group is its first bit: row from the first and last, column from
            // the middle four with the second bit most significant.
            const std::uint32_t row = ((g & 1) << 1) | (g >> 5);
            const std::uint32_t column =
                ((g >> 1) & 1) << 3 | ((g >> 2) & 1) << 2 | ((g >> 3) & 1) << 1 | ((g >> 4) & 1);
            // The S-box value enters the round least significant bit first.
            const std::uint64_t value = kSBox[k][row * 16 + column];
            const auto p = static_cast<std::uint32_t>(PermuteBits(value << (4 * k), kP, 32));
            t.sp[k][g] = std::rotl(p, kHalfRotation);
        }
    }
    return t;
}

constexpr SCipherTables kTables = MakeCipherTables();

// A subkey as two words laid out to be exclusive-ored straight onto the rotated half: odd groups
// for the half itself, even groups for the half rotated right by 4, each at bit 2 of a byte.
struct SPackedSubkey {
    std::uint32_t odd;
    std::uint32_t even;
};
using PackedSchedule = std::array<SPackedSubkey, 16>;

PackedSchedule Pack(const SDesKeySchedule& schedule) {
    PackedSchedule packed{};
    for (int round = 0; round < 16; ++round) {
        const auto& groups = schedule.subkeys[round];
        for (int m = 0; m < 4; ++m) {
            packed[round].odd |= std::uint32_t{groups[2 * m]} << (8 * m + 2);
            packed[round].even |= std::uint32_t{groups[2 * m + 1]} << (8 * m + 2);
        }
    }
    return packed;
}

inline std::uint32_t F(std::uint32_t half, const SPackedSubkey& k) {
    const std::uint32_t u = half ^ k.odd;
    const std::uint32_t w = std::rotr(half, 4) ^ k.even;
    const auto& sp = kTables.sp;
    return sp[0][(u >> 2) & 63] ^ sp[2][(u >> 10) & 63] ^ sp[4][(u >> 18) & 63] ^ sp[6][u >> 26] ^
           sp[1][(w >> 2) & 63] ^ sp[3][(w >> 10) & 63] ^ sp[5][(w >> 18) & 63] ^ sp[7][w >> 26];
}

// Sixteen rounds with the subkeys in the order given: alternately b ^= f(a), a ^= f(b). The
// forward transform passes (R, L) and the subkeys in order, the inverse (L, R) and them reversed;
// either way the halves end where the final permutation wants them, with no exchange.
inline void SixteenRounds(std::uint32_t& a, std::uint32_t& b, const SPackedSubkey* keys) {
    for (int i = 0; i < 16; i += 2) {
        b ^= F(a, keys[i]);
        a ^= F(b, keys[i + 1]);
    }
}

inline void InitialPermutation(const std::uint8_t in[8], std::uint32_t& l, std::uint32_t& r) {
    const auto& ip = kTables.ip;
    const std::uint64_t lr = ip[0][in[0]] | ip[1][in[1]] | ip[2][in[2]] | ip[3][in[3]] |
                             ip[4][in[4]] | ip[5][in[5]] | ip[6][in[6]] | ip[7][in[7]];
    l = static_cast<std::uint32_t>(lr);
    r = static_cast<std::uint32_t>(lr >> 32);
}

inline void FinalPermutation(std::uint32_t l, std::uint32_t r, std::uint8_t out[8]) {
    const auto& fp = kTables.fp;
    const std::uint64_t x = fp[0][l & 0xFF] | fp[1][(l >> 8) & 0xFF] | fp[2][(l >> 16) & 0xFF] |
                            fp[3][l >> 24] | fp[4][r & 0xFF] | fp[5][(r >> 8) & 0xFF] |
                            fp[6][(r >> 16) & 0xFF] | fp[7][r >> 24];
    for (int j = 0; j < 8; ++j) {
        out[j] = static_cast<std::uint8_t>(x >> (8 * j));
    }
}

// Subkeys for one Triple-DES decipherment, in the order they are used: key 1 reversed, key 2,
// key 1 reversed. The IP⁻¹/IP pairs between the three passes cancel and are left out.
struct SDecryptKeys {
    std::array<SPackedSubkey, 48> rounds;
};

SDecryptKeys MakeDecryptKeys(const std::array<std::uint8_t, 16>& key) {
    const PackedSchedule k1 = Pack(DesKeySchedule(key.data()));
    const PackedSchedule k2 = Pack(DesKeySchedule(key.data() + 8));
    SDecryptKeys keys{};
    for (int i = 0; i < 16; ++i) {
        keys.rounds[i] = k1[15 - i];
        keys.rounds[16 + i] = k2[i];
        keys.rounds[32 + i] = k1[15 - i];
    }
    return keys;
}

// The key is a constant, so its schedule is built once and reused.
const SDecryptKeys& UpdateFileDecryptKeys() {
    static const SDecryptKeys keys = MakeDecryptKeys(UpdateFileDesKey());
    return keys;
}

inline void TripleDesDecryptBlock(const SDecryptKeys& keys, const std::uint8_t in[8],
                                  std::uint8_t out[8]) {
    std::uint32_t l = 0;
    std::uint32_t r = 0;
    InitialPermutation(in, l, r);
    // Inverse, forward, inverse: the forward pass takes the halves the other way round.
    SixteenRounds(l, r, &keys.rounds[0]);
    SixteenRounds(r, l, &keys.rounds[16]);
    SixteenRounds(l, r, &keys.rounds[32]);
    FinalPermutation(l, r, out);
}

} // namespace

SDesKeySchedule DesKeySchedule(const std::uint8_t key[8]) {
    std::uint64_t keyBits = 0;
    for (int j = 0; j < 8; ++j) {
        keyBits |= std::uint64_t{key[j]} << (8 * j);
    }
    const std::uint64_t cd = PermuteBits(keyBits, kPc1, 56);
    constexpr std::uint32_t kMask28 = (1u << 28) - 1;
    auto c = static_cast<std::uint32_t>(cd & kMask28);
    auto d = static_cast<std::uint32_t>(cd >> 28);
    SDesKeySchedule schedule{};
    for (int round = 0; round < 16; ++round) {
        // A left rotation in bit numbering moves bit n + s to bit n: downwards in the integer.
        const int s = kKeyShifts[round];
        c = ((c >> s) | (c << (28 - s))) & kMask28;
        d = ((d >> s) | (d << (28 - s))) & kMask28;
        const std::uint64_t subkey = PermuteBits(c | (std::uint64_t{d} << 28), kPc2, 48);
        for (int group = 0; group < 8; ++group) {
            schedule.subkeys[round][group] =
                static_cast<std::uint8_t>((subkey >> (6 * group)) & 63);
        }
    }
    return schedule;
}

void DesBlock(const SDesKeySchedule& schedule, const std::uint8_t input[8], std::uint8_t output[8],
              int direction) {
    PackedSchedule keys = Pack(schedule);
    std::uint32_t l = 0;
    std::uint32_t r = 0;
    InitialPermutation(input, l, r);
    if (direction == 0) {
        SixteenRounds(r, l, keys.data());
    } else {
        for (int i = 0; i < 8; ++i) {
            std::swap(keys[i], keys[15 - i]);
        }
        SixteenRounds(l, r, keys.data());
    }
    FinalPermutation(l, r, output);
}

bool TripleDesDecrypt(const std::uint8_t* input, std::size_t length, std::uint8_t* output) {
    if (input == nullptr || output == nullptr || length == 0) {
        return false;
    }
    const SDecryptKeys& keys = UpdateFileDecryptKeys();
    const std::size_t whole = length / 8;
    for (std::size_t n = 0; n < whole; ++n) {
        TripleDesDecryptBlock(keys, input + 8 * n, output + 8 * n);
    }
    if (const std::size_t rest = length % 8; rest != 0) {
        std::uint8_t last[8]{};
        for (std::size_t i = 0; i < rest; ++i) {
            last[i] = input[8 * whole + i];
        }
        TripleDesDecryptBlock(keys, last, output + 8 * whole);
    }
    return true;
}

std::array<std::uint8_t, 16> UpdateFileDesKey() {
    std::array<std::uint8_t, 16> key{};
    for (std::size_t i = 0; i + 1 < sizeof kKeyText; ++i) {
        key[i] = static_cast<std::uint8_t>(kKeyText[i]);
    }
    return key;
}

} // namespace crenovix
