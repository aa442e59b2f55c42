#include "protocol/UpdateLogFile.h"

#include "crenovix/Version.h"

#include <chrono>

namespace crenovix {

std::unique_ptr<CUpdateLogFile> CUpdateLogFile::Open(const std::string& path, SLogStamp stamp,
                                                     std::string& error) {
    if (path.empty()) {
        error = "no data folder is known for the update log";
        return nullptr;
    }
    // A relative path means the folder the program was started in, wherever it moves later.
    std::optional<std::string> absolute = Checked(path, error);
    if (!absolute) {
        return nullptr;
    }
    return std::unique_ptr<CUpdateLogFile>(new CUpdateLogFile(*absolute, std::move(stamp)));
}

SLogStamp SystemLogStamp() {
    return {LogHostName(), CRENOVIX_VERSION_TEXT, [] {
                return std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                    .count();
            }};
}

} // namespace crenovix
