// replay TRACE FILE: a trace from a customer's machine becomes a test on ours. The host dialogue
// runs on a virtual clock against a charger that answers every read with the next recorded read
// and checks every write against the next recorded write, in strict order.
#include "cli/Commands.h"
#include "cli/RunReport.h"
#include "cli/Trace.h"
#include "protocol/UpdateRun.h"
#include "text/PrintableText.h"

#include <algorithm>
#include <iostream>

namespace crenovix::cli {

namespace {

// Where the replay left the trace.
struct SReplayState {
    const STraceRun& run;
    std::size_t next = 0;  // the next event
    int writes = 0;        // writes checked so far
    bool differed = false; // a write differed: every later operation fails
    std::string report;
};

class CReplayChannel final : public IPortChannel {
public:
    CReplayChannel(SReplayState& state, IClock& clock) : state_(state), clock_(clock) {}

    bool Write(std::span<const std::uint8_t> data) override {
        if (state_.differed) {
            return false;
        }
        const auto& events = state_.run.events;
        const auto recorded =
            std::find_if(events.begin() + static_cast<std::ptrdiff_t>(state_.next), events.end(),
                         [](const STraceEvent& event) { return event.out; });
        const bool inOrder = recorded != events.end() &&
                             recorded == events.begin() + static_cast<std::ptrdiff_t>(state_.next);
        if (inOrder && std::ranges::equal(recorded->bytes, data)) {
            ++state_.next;
            ++state_.writes;
            return true;
        }
        state_.differed = true;
        state_.report = "Write " + std::to_string(state_.writes) + " differs from the trace";
        state_.report += recorded == events.end()
                             ? " (the trace has no more writes)"
                             : " (trace line " + std::to_string(recorded->line) + ")";
        if (!inOrder && recorded != events.end()) {
            state_.report += "; the trace reads first";
        }
        state_.report += "\n  recorded: " +
                         (recorded == events.end() ? std::string() : HexText(recorded->bytes)) +
                         "\n  written:  " + HexText(data);
        return false;
    }

    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        if (state_.differed) {
            return EReadStatus::Failed;
        }
        const auto& events = state_.run.events;
        if (state_.next < events.size() && !events[state_.next].out &&
            !events[state_.next].discard) {
            const STraceEvent& event = events[state_.next++];
            if (event.bytes.size() == data.size()) {
                std::ranges::copy(event.bytes, data.begin());
                return EReadStatus::Completed;
            }
        }
        clock_.Sleep(timeoutMs); // a read that brought nothing waited its whole time-out
        return EReadStatus::TimedOut;
    }

    // Input was waiting exactly where the trace dropped some.
    bool DiscardInput() override {
        const auto& events = state_.run.events;
        if (state_.differed || state_.next >= events.size() || !events[state_.next].discard) {
            return false;
        }
        ++state_.next;
        return true;
    }

private:
    SReplayState& state_;
    IClock& clock_;
};

// The charger of the trace: every open succeeds, as the trace records no opens.
class CReplayPorts final : public IPortOpener {
public:
    CReplayPorts(SReplayState& state, IClock& clock) : state_(state), clock_(clock) {}

    std::optional<std::string> SerialPathFor(const std::string& portName) override {
        return portName;
    }
    std::unique_ptr<IPortChannel> OpenSerial(const std::string&, std::uint32_t) override {
        return Open();
    }
    std::unique_ptr<IPortChannel> OpenHid(int) override { return Open(); }

private:
    std::unique_ptr<IPortChannel> Open() {
        if (state_.differed) {
            return nullptr;
        }
        return std::make_unique<CReplayChannel>(state_, clock_);
    }

    SReplayState& state_;
    IClock& clock_;
};

} // namespace

int RunReplay(Args args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << "usage: crenovix-cli replay TRACE FILE\n";
        return kExitUsage;
    }
    std::string problem;
    const std::optional<STraceRun> run = ReadTrace(args[0], problem);
    if (!run) {
        // A trace that cannot be loaded is a failed command, as a file that cannot be loaded is.
        err << "crenovix-cli: " << Printable(args[0]) << ": " << problem << "\n";
        return kExitFailed;
    }
    CRunReporter reporter(out, err, CRunReporter::EForm::Lines, "");
    reporter.AddRun({run->port, run->serial, run->type});
    SDeviceListState devices;
    devices.rows[0] = {run->type, run->serial, run->port};
    devices.nDeviceCount = 1;
    CReportingObserver observer(reporter, 0);

    SReplayState state{*run, 0, 0, false, {}};
    CVirtualClock clock;
    CReplayPorts ports(state, clock);
    CNonceGenerator nonces(run->nonceSeed);
    auto image = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
    SRunJob job{observer, clock, ports, devices, nonces, *image, args[1], 0};
    const crenovix::SRunResult result = crenovix::RunUpdate(job);
    observer.End(result);

    if (state.differed) {
        err << state.report << "\n";
        return kExitFailed;
    }
    const std::size_t left = run->events.size() - state.next;
    if (left != 0) {
        err << "The dialogue ended with " << left << " recorded operations left (from trace line "
            << run->events[state.next].line << ")\n";
        return kExitFailed;
    }
    if (!result.Ok()) {
        return kExitFailed;
    }
    out << "Replay matches the trace: " << state.writes << " writes\n";
    return kExitSuccess;
}

} // namespace crenovix::cli
