// SIGINT and SIGTERM are blocked in the program's threads, so no read or wait of a port (hidapi
// among them) is cut short by them, and a watcher thread takes them with sigtimedwait. A handler
// that only counts covers any thread that did not inherit the mask.
#include "cli/Interrupts.h"

#include <csignal>
#include <ctime>
#include <thread>

namespace crenovix::cli {

namespace {

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

extern "C" void CountInterruptSignal(int) {
    CInterruptCounter::Add();
}

} // namespace

struct CInterruptCounter::SPlatform {
    sigset_t oldMask{};
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    std::atomic<bool> stop{false};
    std::thread watcher;
};

CInterruptCounter::CInterruptCounter() : platform_(new SPlatform) {
    count_ = 0;
    const sigset_t set = InterruptSignals();
    struct sigaction counting {};
    counting.sa_handler = CountInterruptSignal;
    sigemptyset(&counting.sa_mask);
    ::sigaction(SIGINT, &counting, &platform_->oldInt);
    ::sigaction(SIGTERM, &counting, &platform_->oldTerm);
    ::pthread_sigmask(SIG_BLOCK, &set, &platform_->oldMask);
    platform_->watcher = std::thread([this, set] {
        const timespec slice{0, 100'000'000}; // how soon the destructor's stop is seen
        while (!platform_->stop.load()) {
            if (::sigtimedwait(&set, nullptr, &slice) > 0) {
                Add();
            }
        }
    });
}

CInterruptCounter::~CInterruptCounter() {
    platform_->stop = true;
    platform_->watcher.join();
    ::pthread_sigmask(SIG_SETMASK, &platform_->oldMask, nullptr);
    ::sigaction(SIGINT, &platform_->oldInt, nullptr);
    ::sigaction(SIGTERM, &platform_->oldTerm, nullptr);
    delete platform_;
}

} // namespace crenovix::cli
