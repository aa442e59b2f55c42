#include "cli/UpdateWatch.h"

#include "app/Station.h"
#include "cli/Interrupts.h"
#include "device/SerialEnumeration.h"
#include "platform/DeviceNews.h"
#include "platform/StationDevices.h"

#include <map>
#include <memory>
#include <mutex>

namespace crenovix::cli {

namespace {

// How often the watch looks at the interrupts and the device news.
constexpr std::uint32_t kWatchTickMs = 20;
// Runs under way after an abort end through their failure paths, whose waits are bounded; this
// only keeps a broken run from holding the program for ever.
constexpr std::uint32_t kAbortWaitMs = 60'000;
constexpr const char* kWatching =
    "Watching for chargers: each one plugged in is updated once. Press Ctrl+C to stop.";

// Each run's events to the reporter under a run index of its own, and its result printed.
class CWatchReport final : public IStationObserver {
public:
    CWatchReport(CRunReporter& reporter, CRunAbort& abort, bool simulated)
        : reporter_(reporter), abort_(abort), simulated_(simulated) {}

    void OnStationChanged() override {}

    IRunObserver* OnRunStarted(const SStationRow& row) override {
        const int index =
            reporter_.AddRun({row.device.strPort, row.device.strSerial, row.device.strType});
        // Between blocks: where the first interrupt's warning is given.
        auto observer =
            std::make_unique<CReportingObserver>(reporter_, index, [this] { abort_.Aborted(); });
        IRunObserver* handed = observer.get();
        const std::lock_guard lock(mutex_);
        runs_[row.id] = {index, std::move(observer)};
        return handed;
    }

    void OnRunEnded(const SStationRow& row, const SRunResult& result) override {
        SRun run;
        {
            const std::lock_guard lock(mutex_);
            run = std::move(runs_.at(row.id));
            runs_.erase(row.id);
        }
        run.observer->End(result);
        const SRunRecord record = RunRecordOf(result, row.elapsedMs);
        if (simulated_ && (result.Ok() || result.outcome == ERunOutcome::PayloadDiffers)) {
            reporter_.Line(run.index, record.ok ? kVerifiedText : result.errorLine, record.ok);
        }
        if (result.outcome == ERunOutcome::FileEmpty) {
            reporter_.Line(run.index, record.message);
        }
        if (!result.logError.empty()) {
            reporter_.Line(run.index, result.logError);
        }
        reporter_.Result(run.index, record);
        const std::lock_guard lock(mutex_);
        ++(record.ok ? ok_ : failed_);
        aborted_ = aborted_ || result.outcome == ERunOutcome::Aborted;
    }

    SWatchOutcome Outcome() {
        const std::lock_guard lock(mutex_);
        return {ok_, failed_, aborted_, {}};
    }

private:
    struct SRun {
        int index = 0;
        std::unique_ptr<CReportingObserver> observer;
    };

    CRunReporter& reporter_;
    CRunAbort& abort_;
    bool simulated_;
    std::mutex mutex_;
    std::map<std::uint64_t, SRun> runs_; // by row: a unit's runs follow each other
    int ok_ = 0;
    int failed_ = 0;
    bool aborted_ = false;
};

} // namespace

SWatchOutcome WatchAndUpdate(const SWatch& watch) {
    const std::unique_ptr<IDevices> listing = watch.platform.OpenDevices();
    CDeviceEnumerator enumerator(listing->SerialPorts(), listing->HidInterfaces());
    CDeviceNews news(*listing);
    CSteadyClock clock;
    CWatchReport report(watch.reporter, watch.abort, listing->Simulated());
    const auto openRunDevices = [&watch] {
        return std::make_unique<CStationRunDevices>(watch.platform.OpenDevices());
    };
    // The station adds each run's number to the seed.
    SStationServices services{
        enumerator, openRunDevices, clock, [&watch] { return watch.seed; }, &report, {}, watch.log};
    if (!watch.serial.empty()) {
        services.accepts = [&watch](const SDeviceEntry& row) {
            return row.strSerial == watch.serial;
        };
    }
    CStation station(std::move(services));
    station.ChooseFile(watch.file);
    if (const SStationFile file = station.File(); !file.bValid) {
        SWatchOutcome outcome;
        outcome.fileError = file.errorText.empty() ? "Error open file" : file.errorText;
        return outcome;
    }
    watch.reporter.ExpectSeveralRuns();
    watch.reporter.Note(kWatching);
    station.SetAutomatic(true);
    std::string lastError;
    // The chargers plugged in before the watch began: news tells only of changes.
    news.Take();
    if (const std::optional<std::string> error = station.OnDevicesChanged()) {
        watch.reporter.Note(*error);
        lastError = *error;
    }
    // Until the first interrupt; then until the runs under way have ended.
    while (CInterruptCounter::Count() == 0 || station.Busy()) {
        if (CInterruptCounter::Count() > 0) {
            station.Stop();
            if (watch.abort.Aborted()) { // warns once at the first interrupt
                station.Abort();
                station.Wait(kAbortWaitMs);
                break;
            }
        } else if (news.Take()) {
            const std::optional<std::string> error = station.OnDevicesChanged();
            // An enumeration error is said once, not at every look.
            if (error && *error != lastError) {
                watch.reporter.Note(*error);
            }
            lastError = error.value_or("");
        }
        clock.Sleep(kWatchTickMs);
    }
    station.Stop();
    station.Wait(kAbortWaitMs);
    return report.Outcome();
}

} // namespace crenovix::cli
