#include "online/linux/PosixTempFiles.h"

#include "online/linux/CurlDownloader.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace crenovix {

SDownloadStatus CPosixTempFiles::Create(std::string& path) {
    const char* folder = std::getenv("TMPDIR");
    std::string name = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
    name += "/crenovix-catalogue-XXXXXX.ini";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    constexpr int kSuffixLength = 4; // ".ini"
    const int fd = ::mkostemps(buffer.data(), kSuffixLength, O_CLOEXEC);
    if (fd < 0) {
        return PosixFileFailure(errno, name);
    }
    ::close(fd);
    path.assign(buffer.data());
    return {0, std::nullopt};
}

void CPosixTempFiles::Remove(const std::string& path) {
    ::unlink(path.c_str());
}

} // namespace crenovix
