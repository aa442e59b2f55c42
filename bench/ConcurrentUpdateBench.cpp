// Concurrent updates from the command line: `crenovix-cli update --simulate hid,... --all` with
// 1, 4 and 16 simulated HID chargers, in process, on the real clock, with a largest-size update
// file. Each charger's run has its own port, clock, window, table and image buffer, so the runs
// should scale with the chargers' own waits, not with the host: `ratio_to_one` is the wall time
// against the same update of one charger alone, measured in the same program, and `limit` the
// most it may be (1.25 for four chargers, 1.5 for sixteen).
//
// The station (app/Station.h) the same way: 32 simulated HID chargers, each in a run of its own
// through the station's "Update all", against one charger alone through the same station code;
// at most 1.25 times.
#include "app/Station.h"
#include "cli/Commands.h"
#include "platform/DemoDesk.h"
#include "platform/StationDevices.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"
#include "updatefile/UpdateFile.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace crenovix;
using Stopwatch = std::chrono::steady_clock;

const testsupport::CTempDir& Files() {
    static const testsupport::CTempDir dir;
    static const bool packed = [] {
        testsupport::SHeaderFields fields;
        testsupport::WriteBytes(
            dir.Path() / "largest.bin",
            testsupport::Pack(testsupport::EPackVariant::TripleDes, fields,
                              testsupport::PatternPayload(kUpdateImageSize - kHeaderSize, 7))
                .bytes);
        return true;
    }();
    (void)packed;
    return dir;
}

// The simulated list of `chargers` HID chargers: "hid,hid,...".
std::string HidChargers(int chargers) {
    std::string list = "hid";
    for (int i = 1; i < chargers; ++i) {
        list += ",hid";
    }
    return list;
}

double UpdateSeconds(int chargers) {
    const std::vector<std::string> args = {"--simulate", HidChargers(chargers), "--all", "--no-log",
                                           (Files().Path() / "largest.bin").string()};
    std::ostringstream out;
    std::ostringstream err;
    const auto start = Stopwatch::now();
    const int status = cli::RunUpdate(args, out, err);
    const std::chrono::duration<double> seconds = Stopwatch::now() - start;
    if (status != cli::kExitSuccess) {
        throw std::runtime_error("update failed: " + err.str());
    }
    return seconds.count();
}

// The station over a demo desk of `chargers` HID chargers: every run a desk of its own (as the
// command line's), "Update all", and the wait for the last run.
double StationSeconds(int chargers) {
    std::string error;
    const std::unique_ptr<IPlatform> desk =
        CDemoDesk::Create(CreateSystemPlatform(), HidChargers(chargers), error);
    if (!desk) {
        throw std::runtime_error(error);
    }
    const std::unique_ptr<IDevices> listing = desk->OpenDevices();
    CDeviceEnumerator enumerator(listing->SerialPorts(), listing->HidInterfaces());
    CSteadyClock clock;
    CStation station({enumerator,
                      [&desk] { return std::make_unique<CStationRunDevices>(desk->OpenDevices()); },
                      clock,
                      [] { return 1u; },
                      nullptr,
                      {}});
    station.ChooseFile((Files().Path() / "largest.bin").string());
    if (station.OnDevicesChanged()) {
        throw std::runtime_error("the desk could not be listed");
    }
    const auto start = Stopwatch::now();
    station.UpdateAll();
    station.Wait(600'000);
    const std::chrono::duration<double> seconds = Stopwatch::now() - start;
    if (station.Counters().updated != chargers) {
        throw std::runtime_error("a station run failed");
    }
    return seconds.count();
}

// Each iteration times `chargers` together against one alone, the reference in the same
// iteration, so machine drift cancels out.
void MeasureRatio(benchmark::State& state, double (*seconds)(int), double limit) {
    const int chargers = static_cast<int>(state.range(0));
    double ratioSum = 0;
    for (auto _ : state) {
        const double alone = seconds(1);
        const double together = seconds(chargers);
        state.SetIterationTime(together);
        ratioSum += together / alone;
    }
    state.counters["ratio_to_one"] = ratioSum / static_cast<double>(state.iterations());
    state.counters["limit"] = limit;
}

void BM_StationHidUpdates(benchmark::State& state) {
    MeasureRatio(state, StationSeconds, 1.25);
}
BENCHMARK(BM_StationHidUpdates)
    ->Arg(32)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ConcurrentHidUpdates(benchmark::State& state) {
    const auto chargers = state.range(0);
    MeasureRatio(state, UpdateSeconds, chargers <= 1 ? 1.0 : chargers <= 4 ? 1.25 : 1.5);
}
BENCHMARK(BM_ConcurrentHidUpdates)
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
