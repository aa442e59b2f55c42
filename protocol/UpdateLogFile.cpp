#include "protocol/UpdateLogFile.h"

#include <filesystem>

namespace crenovix {

std::unique_ptr<CUpdateLogFile> CUpdateLogFile::Open(const std::string& path, SLogStamp stamp,
                                                     std::string& error) {
    if (path.empty()) {
        error = "no data folder is known for the update log";
        return nullptr;
    }
    error = Refusal(path);
    if (!error.empty()) {
        return nullptr;
    }
    // A relative path means the folder the program was started in, wherever it moves later.
    std::error_code unknown;
    const std::filesystem::path absolute = std::filesystem::absolute(path, unknown);
    return std::unique_ptr<CUpdateLogFile>(
        new CUpdateLogFile(unknown ? path : absolute.string(), std::move(stamp)));
}

} // namespace crenovix
