// The clock the update dialogues and the simulated charger run on.
//
// The dialogues never read the system clock themselves: the program gives them the real clock,
// tests a virtual one, so that a test of "the charger never comes back" (seconds of waits) runs
// instantly and can assert the exact waits. Times are in milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace crenovix {

class IClock {
public:
    virtual ~IClock() = default;
    // Milliseconds since an arbitrary start; wraps around like a 32-bit tick counter.
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
};

// A clock that moves only when told to: Sleep advances it at once. Tests and the simulated
// charger's fault injection use it; waits that time out advance it by the time-out. A run on a
// worker thread may advance it while the window's thread reads it, so the time is atomic.
class CVirtualClock final : public IClock {
public:
    CVirtualClock() = default;
    CVirtualClock(const CVirtualClock& other) : now_(other.Now()) {}
    CVirtualClock& operator=(const CVirtualClock& other) {
        now_ = other.Now();
        return *this;
    }

    std::uint32_t TickCount() override { return static_cast<std::uint32_t>(Now()); }
    void Sleep(std::uint32_t ms) override { Advance(ms); }
    void Advance(std::uint64_t ms) { now_ += ms; }
    std::uint64_t Now() const { return now_.load(); }

private:
    std::atomic<std::uint64_t> now_{0};
};

} // namespace crenovix

namespace crenovix {

// The real clock, for the program and the real-time demos.
class CSteadyClock final : public IClock {
public:
    CSteadyClock() = default;
    // Ticks counted from `start`: clocks that share a start agree.
    explicit CSteadyClock(std::chrono::steady_clock::time_point start) : start_(start) {}
    std::uint32_t TickCount() override {
        const auto since = std::chrono::steady_clock::now() - start_;
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    }
    void Sleep(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace crenovix
