// Bit-by-bit model of the update-file DES variant, for checking the table-driven product cipher
// and for enciphering test update files. One bit per byte, tables typed in their published form,
// no attention paid to speed. Never linked into the product.
#pragma once

#include <array>
#include <cstdint>

namespace crenovix::testsupport {

// 16 round subkeys of 48 bits, one bit per byte, each in the order the subkey's bits are
// exclusive-ored into the expanded half.
using RefSubkeys = std::array<std::array<std::uint8_t, 48>, 16>;

// Round subkeys of an 8-byte key (bit t of byte j is key bit 8j + t + 1).
RefSubkeys RefDesSubkeys(const std::uint8_t key[8]);

// One block through the variant transform: direction 0 forward, 1 inverse. `out` may equal `in`.
void RefDesBlock(const RefSubkeys& subkeys, const std::uint8_t in[8], std::uint8_t out[8],
                 int direction);

// Two-key Triple DES with a 16-byte key (bytes 0-7 key 1, 8-15 key 2). Decrypt: inverse K1,
// forward K2, inverse K1. Encrypt, its counterpart: forward K1, inverse K2, forward K1.
void RefTripleDesDecryptBlock(const std::uint8_t key16[16], const std::uint8_t in[8],
                              std::uint8_t out[8]);
void RefTripleDesEncryptBlock(const std::uint8_t key16[16], const std::uint8_t in[8],
                              std::uint8_t out[8]);

// The same tables with the published bit conventions (most significant bit first, S-box results
// most significant bit first, halves exchanged before the final permutation): plain DES
// encryption. Lets the tests check the typed-in tables against an independent DES.
void RefStandardDesEncryptBlock(const std::uint8_t key[8], const std::uint8_t in[8],
                                std::uint8_t out[8]);

} // namespace crenovix::testsupport
