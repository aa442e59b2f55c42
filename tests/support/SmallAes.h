// A small, plain AES-128 encryption for the tests, written from FIPS-197 with its printed S-box
// table (the product derives its tables arithmetically, and only deciphers). It makes the AES
// update files where OpenSSL is not available, and is checked against the published vectors.
#pragma once

#include <cstdint>

namespace crenovix::testsupport {

// Standard AES-128 enciphering of one 16-byte block, bytes in FIPS-197 order. `out` may equal
// `in`.
void SmallAesEcbEncrypt(const std::uint8_t key[16], const std::uint8_t in[16],
                        std::uint8_t out[16]);

} // namespace crenovix::testsupport
