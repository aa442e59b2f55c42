// The single-instance lock on Linux: a Unix socket bound in the abstract namespace. The kernel
// drops the name when the last descriptor closes, so a crashed copy leaves nothing behind that
// would keep the next start out (a lock file would).
#include "app/StartUp.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace crenovix {

namespace {
class CAbstractSocketLock final : public CSingleInstanceLock {
public:
    explicit CAbstractSocketLock(int fd) : fd_(fd) {}
    ~CAbstractSocketLock() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    CAbstractSocketLock(const CAbstractSocketLock&) = delete;
    CAbstractSocketLock& operator=(const CAbstractSocketLock&) = delete;

private:
    int fd_;
};
} // namespace

std::unique_ptr<CSingleInstanceLock> AcquireSingleInstanceLock(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        // Without sockets there is no telling; refusing to start would be worse than two copies.
        return std::make_unique<CAbstractSocketLock>(-1);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Per user, like a mutex in the user's session: another user's copy does not count.
    const std::string key = "crenovix-instance/" + std::to_string(::getuid()) + "/" + name;
    const std::size_t length = std::min(key.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, key.data(), length); // sun_path[0] == 0: abstract
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const bool taken = errno == EADDRINUSE;
        ::close(fd);
        return taken ? nullptr : std::make_unique<CAbstractSocketLock>(-1);
    }
    return std::make_unique<CAbstractSocketLock>(fd);
}

} // namespace crenovix
