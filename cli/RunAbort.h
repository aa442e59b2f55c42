// What the user's interrupts mean to update runs: the first one warns, once, that stopping can
// leave a charger without working firmware; the second aborts every run through the dialogue's
// own failure path. From then on the runs' ports refuse to open, reads and writes fail at once
// and waits on the clock end early, so each dialogue closes its port (releasing its exclusive
// lock) and ends as it ends on a dead cable; the command then says what state the charger may be
// in and exits with 130.
#pragma once

#include "base/Clock.h"
#include "protocol/PortDecorator.h"

#include <atomic>
#include <functional>
#include <memory>

namespace crenovix::cli {

class CRunAbort {
public:
    // `interrupts` counts the user's interrupts; `warn` prints the first interrupt's warning.
    CRunAbort(std::function<int()> interrupts, std::function<void()> warn)
        : interrupts_(std::move(interrupts)), warn_(std::move(warn)) {}

    // True from the second interrupt on. Safe from any thread.
    bool Aborted();

private:
    std::function<int()> interrupts_;
    std::function<void()> warn_;
    std::atomic<bool> warned_{false};
};

// A run's clock: the inner clock's time, with waits that end early once the runs are aborted.
class CAbortableClock final : public IClock {
public:
    CAbortableClock(IClock& inner, CRunAbort& abort) : inner_(inner), abort_(abort) {}
    std::uint32_t TickCount() override { return inner_.TickCount(); }
    void Sleep(std::uint32_t ms) override;

private:
    IClock& inner_;
    CRunAbort& abort_;
};

// A run's ports: the inner opener's, refusing everything once the runs are aborted.
class CAbortablePorts final : public CPortDecorator {
public:
    CAbortablePorts(IPortOpener& inner, CRunAbort& abort) : CPortDecorator(inner), abort_(abort) {}

protected:
    bool Refused() override { return abort_.Aborted(); }
    std::unique_ptr<IPortChannel> Wrap(std::unique_ptr<IPortChannel> channel) override;

private:
    CRunAbort& abort_;
};

} // namespace crenovix::cli
