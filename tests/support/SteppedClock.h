// A virtual clock in step with a window's event loop: a wait of a run on its worker thread goes
// on only once the loop has turned again (Turn), so the window sees every stage of the run. Waits
// are bounded (one real second each; none after Release) and never wait on the window's thread.
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
        released_ = true;
        Turn();
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
