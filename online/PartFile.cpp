#include "online/PartFile.h"

#include <random>

namespace crenovix {

CPartFile::~CPartFile() {
    if (!path_.empty()) {
        files_.Remove(path_);
    }
}

std::optional<SDownloadStatus> CPartFile::Create(const std::string& target) {
    std::random_device seed;
    std::mt19937 random(seed());
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uint32_t error = 0;
    for (int attempt = 0; attempt < kPartFileNameTries; ++attempt) {
        std::string candidate = target + ".part-";
        for (int i = 0; i < 6; ++i) {
            candidate += kLetters[random() % (sizeof kLetters - 1)];
        }
        error = files_.CreateNew(candidate);
        if (error == 0) {
            path_ = candidate;
            return std::nullopt;
        }
        if (!files_.NameTaken(error)) {
            break;
        }
    }
    return files_.FileFailure(error, target);
}

SDownloadStatus CPartFile::Finish(const std::string& target, const SDownloadOptions& options) {
    if (options.check) {
        if (std::optional<std::string> refusal = options.check(path_)) {
            return {download_status::kRefusedContent, std::move(refusal)};
        }
    }
    if (const std::uint32_t error = files_.Replace(path_, target); error != 0) {
        return files_.FileFailure(error, target);
    }
    path_.clear();
    return {0, std::nullopt};
}

} // namespace crenovix
