// A small HTTP/1.0 server on 127.0.0.1 for the download tests, run on a thread of its own.
//
// Each path answers as scripted: a status and body (with Content-Length), a redirect, silence
// (the request is read and never answered until the client gives up), a body that breaks off
// after some bytes although Content-Length promised more, one that stalls there with the
// connection kept open, or a body of `length` bytes made while it is sent (never held whole),
// with or without its size announced, or trickled: `piece` bytes at a time, `pauseMs` apart, its
// size announced. Unknown paths answer 404. It binds
// an ephemeral port on the loopback address only; every wait of its thread is bounded (poll with
// 50 ms steps), and the destructor stops and joins it.
//
// CClosedPort is a loopback port that refuses connections: bound, never listening.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace crenovix::nettest {

class CLoopbackHttpServer {
public:
    struct SRoute {
        enum class EMode { Serve, Silent, BreakOff, Stall, Generate, Trickle };
        EMode mode = EMode::Serve;
        int status = 200;
        std::string body;
        std::string location;       // for 3xx answers
        std::size_t breakAfter = 0; // BreakOff, Stall: bytes of the body sent before it stops
        std::size_t length = 0;     // Generate: the body's length
        bool announce = false;      // Generate: with Content-Length
        std::size_t piece = 1;      // Trickle
        int pauseMs = 10;           // Trickle
    };

    CLoopbackHttpServer();
    ~CLoopbackHttpServer();
    CLoopbackHttpServer(const CLoopbackHttpServer&) = delete;
    CLoopbackHttpServer& operator=(const CLoopbackHttpServer&) = delete;

    void Serve(const std::string& path, std::string body, int status = 200);
    void Route(const std::string& path, SRoute route);

    std::string BaseUrl() const; // "http://127.0.0.1:<port>"
    std::uint16_t Port() const { return port_; }
    int Requests(const std::string& path) const;

private:
    void Run();
    void Handle(int connection);
    void WaitForClientToLeave(int connection);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<std::string, SRoute> routes_;
    std::map<std::string, int> requests_;
    std::thread thread_;
};

class CClosedPort {
public:
    CClosedPort();
    ~CClosedPort();
    CClosedPort(const CClosedPort&) = delete;
    CClosedPort& operator=(const CClosedPort&) = delete;
    std::string BaseUrl() const;

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

} // namespace crenovix::nettest
