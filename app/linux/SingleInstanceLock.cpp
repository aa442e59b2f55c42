// The single-instance lock on Linux: a Unix socket bound in the abstract namespace. The kernel
// drops the name when the last descriptor closes, so a crashed copy leaves nothing behind that
// would keep the next start out (a lock file would). The socket also listens: a second start
// connects to it to ask the running copy to come to the front, and sends nothing else.
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
    CAbstractSocketLock(int fd, bool listening) : fd_(fd), listening_(listening) {}
    ~CAbstractSocketLock() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    CAbstractSocketLock(const CAbstractSocketLock&) = delete;
    CAbstractSocketLock& operator=(const CAbstractSocketLock&) = delete;

    int ShowRequests() const override { return listening_ ? fd_ : -1; }
    bool TakeShowRequest() override {
        if (!listening_) {
            return false;
        }
        // Non-blocking: nothing waiting gives EAGAIN. The connection itself is the request.
        const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer < 0) {
            return false;
        }
        ::close(peer);
        return true;
    }

private:
    int fd_;
    bool listening_;
};

// Per user, like a mutex in the user's session: another user's copy does not count.
socklen_t AddressOf(const std::string& name, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const std::string key = "crenovix-instance/" + std::to_string(::getuid()) + "/" + name;
    const std::size_t length = std::min(key.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, key.data(), length); // sun_path[0] == 0: abstract
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}
} // namespace

std::unique_ptr<CSingleInstanceLock> AcquireSingleInstanceLock(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        // Without sockets there is no telling; refusing to start would be worse than two copies.
        return std::make_unique<CAbstractSocketLock>(-1, false);
    }
    sockaddr_un address;
    const socklen_t size = AddressOf(name, address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) {
        const bool taken = errno == EADDRINUSE;
        ::close(fd);
        return taken ? nullptr : std::make_unique<CAbstractSocketLock>(-1, false);
    }
    // Without listening it is still the lock; only later starts cannot bring this copy forward.
    const bool listening = ::listen(fd, 4) == 0;
    return std::make_unique<CAbstractSocketLock>(fd, listening);
}

void ShowRunningInstance(const std::string& name) {
    // Non-blocking: a copy whose queue is full (it does not answer) does not hold this one up.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return;
    }
    sockaddr_un address;
    const socklen_t size = AddressOf(name, address);
    (void)::connect(fd, reinterpret_cast<const sockaddr*>(&address), size);
    ::close(fd);
}

} // namespace crenovix
