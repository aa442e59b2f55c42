#include "app/RunAbort.h"

#include <algorithm>

namespace crenovix {

namespace {

// How soon a wait notices the abort.
constexpr std::uint32_t kSleepSliceMs = 50;

class CAbortableChannel final : public IPortChannel {
public:
    CAbortableChannel(std::unique_ptr<IPortChannel> inner, IAbortSignal& abort)
        : inner_(std::move(inner)), abort_(abort) {}

    bool Write(std::span<const std::uint8_t> data) override {
        return !abort_.Aborted() && inner_->Write(data);
    }
    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        if (abort_.Aborted()) {
            return EReadStatus::Failed;
        }
        return inner_->Read(data, timeoutMs);
    }
    // Aborted, the port is no longer looked at, so what waits there is unknown: it counts as
    // input, which fails the step. Otherwise the check after the last answer would pass
    // unlooked and an aborted run could end in success.
    bool DiscardInput() override { return abort_.Aborted() || inner_->DiscardInput(); }

private:
    std::unique_ptr<IPortChannel> inner_;
    IAbortSignal& abort_;
};

} // namespace

void CAbortableClock::Sleep(std::uint32_t ms) {
    const std::uint32_t start = inner_.TickCount();
    for (;;) {
        const std::uint32_t passed = inner_.TickCount() - start;
        if (passed >= ms || abort_.Aborted()) {
            return;
        }
        inner_.Sleep(std::min(ms - passed, kSleepSliceMs));
    }
}

std::unique_ptr<IPortChannel> CAbortablePorts::Wrap(std::unique_ptr<IPortChannel> channel) {
    return std::make_unique<CAbortableChannel>(std::move(channel), abort_);
}

} // namespace crenovix
