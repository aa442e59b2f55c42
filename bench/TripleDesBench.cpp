// Deciphering a largest-size update file with the product cipher, next to a library two-key
// Triple DES on the same amount of data as a yardstick (different bit conventions, same work).
#include "updatefile/TripleDes.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kBytes = 524288;

std::vector<std::uint8_t> RandomBytes(std::size_t count) {
    std::mt19937 random(12345);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(random());
    }
    return bytes;
}

void BM_TripleDesDecrypt(benchmark::State& state) {
    const std::vector<std::uint8_t> input = RandomBytes(kBytes);
    std::vector<std::uint8_t> output(kBytes);
    for (auto _ : state) {
        // Not const: newer Benchmark deprecates the const-reference form of DoNotOptimize.
        bool ok = crenovix::TripleDesDecrypt(input.data(), input.size(), output.data());
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBytes));
}
BENCHMARK(BM_TripleDesDecrypt)->Unit(benchmark::kMicrosecond);

void BM_LibraryDesEdeEcbDecrypt(benchmark::State& state) {
    const std::vector<std::uint8_t> input = RandomBytes(kBytes);
    std::vector<std::uint8_t> output(kBytes);
    const std::array<std::uint8_t, 16> key = crenovix::UpdateFileDesKey();
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                              &EVP_CIPHER_CTX_free);
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), EVP_des_ede_ecb(), nullptr, key.data(), nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        state.SkipWithError("cipher setup failed");
        return;
    }
    for (auto _ : state) {
        // ECB over whole blocks with padding off leaves no state between calls.
        int written = 0;
        if (EVP_DecryptUpdate(ctx.get(), output.data(), &written, input.data(),
                              static_cast<int>(input.size())) != 1) {
            state.SkipWithError("decipher failed");
            break;
        }
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBytes));
}
BENCHMARK(BM_LibraryDesEdeEcbDecrypt)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
