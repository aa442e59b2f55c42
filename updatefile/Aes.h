// Deciphering of the enciphered 512-byte header of AES update files.
//
// AES-128 decryption in ECB mode, 32 blocks of 16 bytes, in place. The files were made by code
// that reads every 4-byte group as a little-endian word with the column's first byte in the
// most significant position, so each group's bytes are reversed before and after the standard
// inverse cipher, and the stored key is reversed the same way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace crenovix {

inline constexpr std::size_t kAesHeaderBytes = 512;

// The header key as it is stored (four words, bytes in memory order).
inline constexpr std::array<std::uint8_t, 16> kAesHeaderKey = {
    0x27, 0x04, 0x11, 0x63, 0x38, 0x02, 0x09, 0x84, 0x06, 0x42, 0x17, 0x50, 0x03, 0x26, 0x91, 0x45};

// Deciphers exactly the first 512 bytes of `buffer` in place with the header key. Bytes beyond
// 512 are not touched. Cannot fail; the caller supplies at least 512 bytes.
void AesDecryptHeader(std::uint8_t* buffer);

// Deciphers one 16-byte block in place with a 16-byte key given in the stored (group-reversed)
// byte order, the same transform AesDecryptHeader applies to each header block.
void AesDecryptBlock(const std::uint8_t storedKey[16], std::uint8_t block[16]);

} // namespace crenovix
