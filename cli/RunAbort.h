// What the user's interrupts mean to update runs: the first one warns, once, that stopping can
// leave a charger without working firmware; the second aborts every run through the dialogue's
// own failure path (app/RunAbort.h: the runs' clocks and ports are CAbortableClock and
// CAbortablePorts over this signal); the command then says what state the charger may be in and
// exits with 130.
#pragma once

#include "app/RunAbort.h"

#include <atomic>
#include <functional>

namespace crenovix::cli {

class CRunAbort final : public IAbortSignal {
public:
    // `interrupts` counts the user's interrupts; `warn` prints the first interrupt's warning.
    CRunAbort(std::function<int()> interrupts, std::function<void()> warn)
        : interrupts_(std::move(interrupts)), warn_(std::move(warn)) {}

    // True from the second interrupt on. Safe from any thread.
    bool Aborted() override;

private:
    std::function<int()> interrupts_;
    std::function<void()> warn_;
    std::atomic<bool> warned_{false};
};

} // namespace crenovix::cli
