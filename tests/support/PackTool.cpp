// crenovix-pack: writes an update file with the test packer. Used to make the samples in
// examples/ and files for trying the program by hand; not part of the product.
#include "support/UpdateFilePacker.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace crenovix::testsupport;

namespace {
int Usage() {
    std::cerr << "usage: crenovix-pack [--aes] [--version V] [--type T] [--memo M]\n"
                 "                     [--device-code N] [--payload-mode N] [--payload-size N]\n"
                 "                     [--seed N] OUT\n";
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    SHeaderFields fields;
    EPackVariant variant = EPackVariant::TripleDes;
    std::size_t payloadSize = 1024;
    std::uint32_t seed = 1;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::exit(Usage());
            }
            return argv[++i];
        };
        if (arg == "--aes") {
            variant = EPackVariant::Aes;
        } else if (arg == "--version") {
            fields.version = value();
        } else if (arg == "--type") {
            fields.type = value();
        } else if (arg == "--memo") {
            fields.memo = value();
        } else if (arg == "--device-code") {
            fields.deviceCode = static_cast<std::uint8_t>(std::stoul(value(), nullptr, 0));
        } else if (arg == "--payload-mode") {
            fields.payloadMode = static_cast<std::uint8_t>(std::stoul(value(), nullptr, 0));
        } else if (arg == "--payload-size") {
            payloadSize = std::stoul(value(), nullptr, 0);
        } else if (arg == "--seed") {
            seed = static_cast<std::uint32_t>(std::stoul(value(), nullptr, 0));
        } else if (!arg.empty() && arg[0] != '-' && out.empty()) {
            out = arg;
        } else {
            return Usage();
        }
    }
    if (out.empty()) {
        return Usage();
    }
    WriteBytes(out, Pack(variant, fields, PatternPayload(payloadSize, seed)).bytes);
    return 0;
}
