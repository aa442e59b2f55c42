// A virtual clock stepped with a window's event loop, for update runs on their worker thread: a
// wait of the run goes on only after the window's loop has turned once more (Turn), so the window
// sees every stage of the run as a person would, however fast virtual time goes. Waits on the
// window's own thread never wait. Bounded: a loop that stops turning holds a wait for one real
// second at most, and after Release no wait waits for the loop at all (a test ending with a run
// still under way).
#pragma once

#include "base/Clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace crenovix::testsupport {

class CSteppedClock final : public IClock {
public:
    std::uint32_t TickCount() override { return clock_.TickCount(); }
    void Sleep(std::uint32_t ms) override {
        clock_.Advance(ms);
        if (std::this_thread::get_id() == windowThread_ || released_) {
            return;
        }
        std::unique_lock lock(mutex_);
        const std::uint64_t seen = turns_;
        turned_.wait_for(lock, std::chrono::seconds(1),
                         [&] { return turns_ != seen || released_; });
    }
    // The window's loop has turned: one waiting run goes on.
    void Turn() {
        {
            const std::lock_guard lock(mutex_);
            ++turns_;
        }
        turned_.notify_all();
    }
    void Release() {
        {
            const std::lock_guard lock(mutex_);
            released_ = true;
        }
        turned_.notify_all();
    }
    std::uint64_t Now() const { return clock_.Now(); }
    void Advance(std::uint64_t ms) { clock_.Advance(ms); }

private:
    CVirtualClock clock_;
    const std::thread::id windowThread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable turned_;
    std::uint64_t turns_ = 0;
    std::atomic<bool> released_{false};
};

} // namespace crenovix::testsupport
