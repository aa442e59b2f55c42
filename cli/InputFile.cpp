#include "cli/InputFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace crenovix::cli {

SInputFile ReadInputFile(const std::string& path, std::size_t limit) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        return {};
    }
    std::ifstream stream(path, std::ios::binary);
    if (!stream.is_open()) {
        return {};
    }
    // Read in pieces up to one byte past the limit: that byte tells a file that is too long
    // from one that just fits, even when it grows while it is read.
    constexpr std::size_t kPiece = 64 * 1024;
    SInputFile file;
    while (stream && file.bytes.size() <= limit) {
        const std::size_t had = file.bytes.size();
        file.bytes.resize(had + std::min(kPiece, limit + 1 - had));
        stream.read(reinterpret_cast<char*>(file.bytes.data() + had),
                    static_cast<std::streamsize>(file.bytes.size() - had));
        file.bytes.resize(had + static_cast<std::size_t>(stream.gcount()));
    }
    if (stream.bad()) {
        return {};
    }
    file.status = file.bytes.size() > limit ? EInputFile::TooBig : EInputFile::Read;
    return file;
}

} // namespace crenovix::cli
