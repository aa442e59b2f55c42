// Concurrent updates from the command line: `crenovix-cli update --simulate hid,... --all` with
// 1, 4 and 16 simulated HID chargers, in process, on the real clock, with a largest-size update
// file. Each charger's run has its own port, clock, window, table and image buffer, so the runs
// should scale with the chargers' own waits, not with the host: `ratio_to_one` is the wall time
// against the same update of one charger alone, measured in the same program, and `limit` the
// most it may be (1.25 for four chargers, 1.5 for sixteen).
#include "cli/Commands.h"
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

double UpdateSeconds(int chargers) {
    std::string list = "hid";
    for (int i = 1; i < chargers; ++i) {
        list += ",hid";
    }
    const std::vector<std::string> args = {"--simulate", list, "--all", "--no-log",
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

void BM_ConcurrentHidUpdates(benchmark::State& state) {
    const int chargers = static_cast<int>(state.range(0));
    double ratioSum = 0;
    for (auto _ : state) {
        // The reference in the same iteration, so machine drift cancels out.
        const double alone = UpdateSeconds(1);
        const double together = UpdateSeconds(chargers);
        state.SetIterationTime(together);
        ratioSum += together / alone;
    }
    state.counters["ratio_to_one"] = ratioSum / static_cast<double>(state.iterations());
    state.counters["limit"] = chargers <= 1 ? 1.0 : chargers <= 4 ? 1.25 : 1.5;
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
