// A small HTTP/1.0 server on 127.0.0.1 written with winsock, for the download tests under wine.
//
// Each path answers as scripted: a status and body (with Content-Length), a redirect, silence
// (the request is read and never answered until the client gives up or the server stops), or a
// body of `generate` bytes made while it is sent, without Content-Length unless `announce`. Unknown
// paths answer 404. Each connection is served on a thread of its own, so a client that leaves a
// connection open without reading (an aborted download) never holds up the next request; every
// wait is bounded (select with 50 ms steps, a send gives up after 5 s without progress) and the
// destructor stops and joins every thread.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace crenovix::wintest {

class CWinsockHttpServer {
public:
    struct SRoute {
        bool silent = false;
        int status = 200;
        std::string body;
        std::string location; // for 3xx answers
        std::size_t generate = 0;
        bool announce = false;
    };

    CWinsockHttpServer() {
        WSADATA data{};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_, 8);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~CWinsockHttpServer() {
        stop_ = true;
        thread_.join();
        for (std::thread& connection : connections_) {
            connection.join();
        }
        closesocket(listener_);
        if (started_) {
            WSACleanup();
        }
    }
    CWinsockHttpServer(const CWinsockHttpServer&) = delete;
    CWinsockHttpServer& operator=(const CWinsockHttpServer&) = delete;

    void Route(const std::string& path, SRoute route) {
        const std::lock_guard lock(mutex_);
        routes_[path] = std::move(route);
    }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int Requests(const std::string& path) const {
        const std::lock_guard lock(mutex_);
        const auto found = requests_.find(path);
        return found == requests_.end() ? 0 : found->second;
    }

private:
    // True when `socket` became readable within 50 ms.
    static bool Readable(SOCKET socket) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval wait{0, 50000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    // Sends all of `data`, waiting for room in 50 ms steps; false when the client closed, the
    // server stops, or 5 s pass without room (a client that stopped reading).
    bool SendAll(SOCKET socket, const char* data, std::size_t size) const {
        int idle = 0;
        while (size != 0 && !stop_ && idle < 100) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket, &set);
            timeval wait{0, 50000};
            if (select(0, nullptr, &set, nullptr, &wait) != 1) {
                ++idle;
                continue;
            }
            const int n = send(socket, data, static_cast<int>(size), 0);
            if (n <= 0) {
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            idle = 0;
        }
        return size == 0;
    }

    void Run() {
        while (!stop_) {
            if (!Readable(listener_)) {
                continue;
            }
            const SOCKET connection = accept(listener_, nullptr, nullptr);
            if (connection != INVALID_SOCKET) {
                connections_.emplace_back([this, connection] {
                    Handle(connection);
                    closesocket(connection);
                });
            }
        }
    }

    void Handle(SOCKET connection) {
        std::string request;
        char chunk[1024];
        while (!stop_ && request.find("\r\n\r\n") == std::string::npos) {
            if (!Readable(connection)) {
                continue;
            }
            const int n = recv(connection, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return;
            }
            request.append(chunk, static_cast<std::size_t>(n));
        }
        const std::size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        SRoute route{false, 404, "not here", ""};
        {
            const std::lock_guard lock(mutex_);
            ++requests_[path];
            if (const auto found = routes_.find(path); found != routes_.end()) {
                route = found->second;
            }
        }
        if (route.silent) {
            // Until the client gives up (its end closes) or the server stops.
            while (!stop_) {
                if (Readable(connection) && recv(connection, chunk, sizeof chunk, 0) <= 0) {
                    return;
                }
            }
            return;
        }
        if (route.generate != 0) {
            std::string head = "HTTP/1.0 200 Scripted\r\nContent-Type: application/octet-stream\r\n"
                               "Cache-Control: no-store\r\nConnection: close\r\n";
            if (route.announce) {
                head += "Content-Length: " + std::to_string(route.generate) + "\r\n";
            }
            head += "\r\n";
            bool open = SendAll(connection, head.data(), head.size());
            const std::string block(64 * 1024, 'G');
            for (std::size_t sent = 0; open && sent < route.generate; sent += block.size()) {
                open = SendAll(connection, block.data(), block.size());
            }
            return;
        }
        std::string answer = "HTTP/1.0 " + std::to_string(route.status) + " Scripted\r\n" +
                             "Content-Type: application/octet-stream\r\n" +
                             "Content-Length: " + std::to_string(route.body.size()) + "\r\n" +
                             "Cache-Control: no-store\r\nConnection: close\r\n";
        if (!route.location.empty()) {
            answer += "Location: " + route.location + "\r\n";
        }
        answer += "\r\n" + route.body;
        SendAll(connection, answer.data(), answer.size());
        shutdown(connection, SD_SEND);
        // Let the client read everything before the socket closes.
        for (int i = 0; i < 20 && !stop_; ++i) {
            if (Readable(connection) && recv(connection, chunk, sizeof chunk, 0) <= 0) {
                return;
            }
        }
    }

    bool started_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, SRoute> routes_;
    std::map<std::string, int> requests_;
    std::thread thread_;
    std::vector<std::thread> connections_; // only the accepting thread adds to it
};

} // namespace crenovix::wintest
