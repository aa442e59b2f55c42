// Reference AES for tests: plain AES-128-ECB in both directions from OpenSSL where it is
// available, and the enciphering direction of the AES update-file header, which the product
// never needs (built on OpenSSL where available, on SmallAes elsewhere).
#pragma once

#include <cstdint>

namespace crenovix::testsupport {

#if CRENOVIX_HAVE_OPENSSL
// Standard AES-128 on one 16-byte block, bytes in FIPS-197 order. `out` may equal `in`.
void OpenSslAesEcbDecrypt(const std::uint8_t key[16], const std::uint8_t in[16],
                          std::uint8_t out[16]);
void OpenSslAesEcbEncrypt(const std::uint8_t key[16], const std::uint8_t in[16],
                          std::uint8_t out[16]);
#endif

// Reverses the bytes inside each 4-byte group of a 16-byte block: the mapping between the
// update-file byte order and FIPS-197 byte order (it is its own inverse).
void ReverseWordGroups(std::uint8_t block[16]);

// Enciphers one block in place with a key in stored byte order; AesDecryptBlock undoes it.
void AesEncryptHeaderBlockStored(const std::uint8_t storedKey[16], std::uint8_t block[16]);

// Enciphers the first 512 bytes of `buffer512` in place with the header key, as the update-file
// maker does; AesDecryptHeader undoes it.
void AesEncryptHeader(std::uint8_t* buffer512);

} // namespace crenovix::testsupport
