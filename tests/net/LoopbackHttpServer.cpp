#include "net/LoopbackHttpServer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace crenovix::nettest {

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t BindLoopback(int socket) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// Waits up to `ms` for `fd` to become readable.
bool Readable(int fd, int ms) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, ms) > 0;
}

bool SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false; // the client went away
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    default:
        return "Status";
    }
}

} // namespace

CLoopbackHttpServer::CLoopbackHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    port_ = BindLoopback(listener_);
    ::listen(listener_, 16);
    thread_ = std::thread([this] { Run(); });
}

CLoopbackHttpServer::~CLoopbackHttpServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

void CLoopbackHttpServer::Serve(const std::string& path, std::string body, int status) {
    SRoute route;
    route.status = status;
    route.body = std::move(body);
    Route(path, std::move(route));
}

void CLoopbackHttpServer::Route(const std::string& path, SRoute route) {
    const std::lock_guard lock(mutex_);
    routes_[path] = std::move(route);
}

std::string CLoopbackHttpServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

int CLoopbackHttpServer::Requests(const std::string& path) const {
    const std::lock_guard lock(mutex_);
    const auto found = requests_.find(path);
    return found == requests_.end() ? 0 : found->second;
}

void CLoopbackHttpServer::Run() {
    while (!stop_) {
        if (!Readable(listener_, 50)) {
            continue;
        }
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            Handle(connection);
            ::close(connection);
        }
    }
}

void CLoopbackHttpServer::Handle(int connection) {
    // The request head, within 2 s and 16 KiB.
    std::string request;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(2);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384 &&
           Clock::now() < end && !stop_) {
        if (!Readable(connection, 50)) {
            continue;
        }
        char buffer[1024];
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t pathStart = request.find(' ');
    const std::size_t pathEnd = request.find(' ', pathStart + 1);
    if (pathStart == std::string::npos || pathEnd == std::string::npos) {
        return;
    }
    const std::string path = request.substr(pathStart + 1, pathEnd - pathStart - 1);

    SRoute route;
    {
        const std::lock_guard lock(mutex_);
        ++requests_[path];
        const auto found = routes_.find(path);
        if (found != routes_.end()) {
            route = found->second;
        } else {
            route.status = 404;
            route.body = "not here";
        }
    }

    if (route.mode == SRoute::EMode::Silent) {
        WaitForClientToLeave(connection);
        return;
    }
    const bool generated = route.mode == SRoute::EMode::Generate;
    std::string head =
        "HTTP/1.0 " + std::to_string(route.status) + " " + Reason(route.status) + "\r\n";
    if (!generated || route.announce) {
        head += "Content-Length: " + std::to_string(generated ? route.length : route.body.size()) +
                "\r\n";
    }
    head += "Content-Type: application/octet-stream\r\n";
    if (!route.location.empty()) {
        head += "Location: " + route.location + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    if (generated) {
        // Made as it is sent, 64 KiB at a time, until the length or the client gives up.
        const std::string block(64 * 1024, 'G');
        bool open = SendAll(connection, head);
        for (std::size_t sent = 0; open && sent < route.length && !stop_; sent += block.size()) {
            open =
                SendAll(connection, block.substr(0, std::min(block.size(), route.length - sent)));
        }
        return;
    }
    if (route.mode == SRoute::EMode::Trickle) {
        bool open = SendAll(connection, head);
        for (std::size_t sent = 0; open && sent < route.body.size() && !stop_;
             sent += route.piece) {
            open = SendAll(connection, route.body.substr(sent, route.piece));
            // The pause ends early when the client has gone (its end readable: closed).
            if (open && Readable(connection, route.pauseMs)) {
                char buffer[256];
                open = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT) > 0;
            }
        }
        return;
    }
    if (route.mode == SRoute::EMode::BreakOff || route.mode == SRoute::EMode::Stall) {
        SendAll(connection, head + route.body.substr(0, route.breakAfter));
        if (route.mode == SRoute::EMode::Stall) {
            WaitForClientToLeave(connection);
        }
        return;
    }
    SendAll(connection, head + route.body);
}

void CLoopbackHttpServer::WaitForClientToLeave(int connection) {
    // Say nothing more until the client gives up (its end closes) or the test ends.
    while (!stop_) {
        if (Readable(connection, 50)) {
            char buffer[256];
            if (::recv(connection, buffer, sizeof buffer, 0) <= 0) {
                return;
            }
        }
    }
}

CClosedPort::CClosedPort() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    port_ = BindLoopback(socket_);
}

CClosedPort::~CClosedPort() {
    ::close(socket_);
}

std::string CClosedPort::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

} // namespace crenovix::nettest
