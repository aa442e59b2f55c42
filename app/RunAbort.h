// Ending runs on demand through the dialogues' own failure path: once the signal says so, a
// run's ports refuse to open, its reads and writes fail at once, a discard reports input (which
// fails the step, so an abort never passes the check after the last answer) and its waits on the
// clock end early, so each dialogue closes its port (releasing its exclusive lock) and ends as it
// ends on a dead cable. The command line's second interrupt and the station's Abort use it.
#pragma once

#include "base/Clock.h"
#include "protocol/PortDecorator.h"

#include <atomic>
#include <memory>

namespace crenovix {

// Whether the runs are to end now. Safe from any thread.
class IAbortSignal {
public:
    virtual ~IAbortSignal() = default;
    virtual bool Aborted() = 0;
};

// A signal set once by its owner.
class CAbortFlag final : public IAbortSignal {
public:
    void Set() { set_ = true; }
    bool Aborted() override { return set_; }

private:
    std::atomic<bool> set_{false};
};

// A run's clock: the inner clock's time, with waits that end early once the runs are aborted.
class CAbortableClock final : public IClock {
public:
    CAbortableClock(IClock& inner, IAbortSignal& abort) : inner_(inner), abort_(abort) {}
    std::uint32_t TickCount() override { return inner_.TickCount(); }
    void Sleep(std::uint32_t ms) override;

private:
    IClock& inner_;
    IAbortSignal& abort_;
};

// A run's ports: the inner opener's, refusing everything once the runs are aborted.
class CAbortablePorts final : public CPortDecorator {
public:
    CAbortablePorts(IPortOpener& inner, IAbortSignal& abort)
        : CPortDecorator(inner), abort_(abort) {}

protected:
    bool Refused() override { return abort_.Aborted(); }
    std::unique_ptr<IPortChannel> Wrap(std::unique_ptr<IPortChannel> channel) override;

private:
    IAbortSignal& abort_;
};

} // namespace crenovix
