// Deciphering of Triple-DES update files.
//
// The block cipher is DES with the standard tables, but with the bit order that existing update
// files were made with: bit t of byte j is bit 8j + t + 1 (least significant first), S-box results
// enter the round value least significant bit first, and the halves are not exchanged after the
// last round. A standard DES library therefore gives other results. Blocks are 8 bytes, ECB, no
// chaining. The product code is table-driven; tests hold a bit-by-bit version to check it against.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace crenovix {

// The 16 round subkeys of one 8-byte key. Each subkey is kept as its eight 6-bit groups, in
// round order; bit 0 of a group is the group's first bit.
struct SDesKeySchedule {
    std::array<std::array<std::uint8_t, 8>, 16> subkeys{};
};

// Builds the round subkeys of an 8-byte key. The most significant bit of each key byte is unused.
SDesKeySchedule DesKeySchedule(const std::uint8_t key[8]);

// Passes one 8-byte block through the transform: direction 0 forward, direction 1 inverse (which
// undoes the forward transform with the same key). `output` may equal `input`.
void DesBlock(const SDesKeySchedule& schedule, const std::uint8_t input[8], std::uint8_t output[8],
              int direction);

// Deciphers ceil(length / 8) blocks of `input` into `output` with the update-file key (two-key
// Triple DES, EDE form, deciphering direction). A final partial block is completed with zero
// bytes, so `output` must hold length rounded up to a multiple of 8. Returns false and writes
// nothing when a buffer is missing or when that rounded length is zero.
bool TripleDesDecrypt(const std::uint8_t* input, std::size_t length, std::uint8_t* output);

// The 16-byte two-key buffer built from the program's key text (bytes 0-7 key 1, 8-15 key 2).
std::array<std::uint8_t, 16> UpdateFileDesKey();

} // namespace crenovix
