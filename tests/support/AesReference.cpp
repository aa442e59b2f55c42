#include "support/AesReference.h"

#include "support/SmallAes.h"
#include "updatefile/Aes.h"

#if CRENOVIX_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <stdexcept>

namespace crenovix::testsupport {

#if CRENOVIX_HAVE_OPENSSL
namespace {

void OpenSslAesEcb(const std::uint8_t key[16], const std::uint8_t in[16], std::uint8_t out[16],
                   bool encrypt) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                              EVP_CIPHER_CTX_free);
    if (!ctx) {
        throw std::runtime_error("EVP_CIPHER_CTX_new failed");
    }
    std::array<std::uint8_t, 32> result{};
    int written = 0;
    int finalWritten = 0;
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) !=
            1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_CipherUpdate(ctx.get(), result.data(), &written, in, 16) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), result.data() + written, &finalWritten) != 1 ||
        written + finalWritten != 16) {
        throw std::runtime_error("OpenSSL AES-128-ECB failed");
    }
    std::copy_n(result.begin(), 16, out);
}

} // namespace

void OpenSslAesEcbDecrypt(const std::uint8_t key[16], const std::uint8_t in[16],
                          std::uint8_t out[16]) {
    OpenSslAesEcb(key, in, out, false);
}

void OpenSslAesEcbEncrypt(const std::uint8_t key[16], const std::uint8_t in[16],
                          std::uint8_t out[16]) {
    OpenSslAesEcb(key, in, out, true);
}
#endif

void ReverseWordGroups(std::uint8_t block[16]) {
    for (std::size_t group = 0; group < 16; group += 4) {
        std::reverse(block + group, block + group + 4);
    }
}

void AesEncryptHeaderBlockStored(const std::uint8_t storedKey[16], std::uint8_t block[16]) {
    std::array<std::uint8_t, 16> key{};
    std::copy_n(storedKey, 16, key.begin());
    ReverseWordGroups(key.data());
    ReverseWordGroups(block);
#if CRENOVIX_HAVE_OPENSSL
    OpenSslAesEcbEncrypt(key.data(), block, block);
#else
    SmallAesEcbEncrypt(key.data(), block, block);
#endif
    ReverseWordGroups(block);
}

void AesEncryptHeader(std::uint8_t* buffer512) {
    for (std::size_t offset = 0; offset < kAesHeaderBytes; offset += 16) {
        AesEncryptHeaderBlockStored(kAesHeaderKey.data(), buffer512 + offset);
    }
}

} // namespace crenovix::testsupport
