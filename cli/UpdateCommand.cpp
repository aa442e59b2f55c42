// update: one charger, one found by its serial number, or all of them at once, each in a run of
// its own (its own port, clock, window, device table and image buffer), on the platform or on
// desks of simulated chargers.
#include "cli/Commands.h"
#include "cli/ConsoleWindow.h"
#include "cli/Interrupts.h"
#include "cli/Platform.h"
#include "cli/PrintableText.h"
#include "cli/RunAbort.h"
#include "cli/RunReport.h"
#include "cli/Sha256.h"
#include "cli/Terminal.h"
#include "cli/Trace.h"
#include "device/SerialEnumeration.h"
#include "platform/DemoDesk.h"
#include "protocol/UpdateRun.h"
#include "sim/DemoChargers.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

namespace crenovix::cli {

namespace {

constexpr const char* kUsage =
    "usage: crenovix-cli update [--com] (--port NAME | --serial SN | --all | --simulate LIST)\n"
    "                           [--json] [--record FILE] FILE\n";
constexpr const char* kPortBusy = "The port is busy: another program holds it.";
constexpr const char* kInterruptWarning =
    "Interrupting the update now can leave the charger without working firmware. Interrupt "
    "again to abort it.";
constexpr const char* kAborted =
    "Update aborted; the port is closed. The charger may be left in its boot loader: run the "
    "update again to recover it.";
constexpr const char* kVerified = "Verified: payload matches";
constexpr const char* kNotVerified =
    "Verification failed: the charger's stored payload differs from the file's";

struct SUpdateArgs {
    bool com = false;
    std::string port;
    std::string serial;
    bool all = false;
    std::optional<std::string> simulate;
    bool json = false;
    std::string record;
    std::string file;
};

std::optional<SUpdateArgs> ParseUpdateArgs(Args args) {
    SUpdateArgs parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--com") {
            parsed.com = true;
        } else if (arg == "--all") {
            parsed.all = true;
        } else if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "--port" && hasValue) {
            parsed.port = args[++i];
        } else if (arg == "--serial" && hasValue) {
            parsed.serial = args[++i];
        } else if (arg == "--record" && hasValue) {
            parsed.record = args[++i];
        } else if (arg == "--simulate" && hasValue) {
            parsed.simulate = args[++i];
        } else if (!arg.starts_with("--") && parsed.file.empty()) {
            parsed.file = arg;
        } else {
            return std::nullopt;
        }
    }
    // Simulated chargers are updated from the first unless a choice names others.
    const int choices = int{!parsed.port.empty()} + int{!parsed.serial.empty()} + int{parsed.all};
    if (choices > 1 || (choices == 0 && !parsed.simulate) || parsed.file.empty()) {
        return std::nullopt;
    }
    return parsed;
}

std::uint32_t TimeSeed() {
    return static_cast<std::uint32_t>(
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

// The simulated charger's stored payload against the file's, byte for byte.
bool PayloadMatches(const sim::SSimResults& results, std::span<const std::uint8_t> image) {
    const SUpdateHeader header = ReadUpdateHeader(image);
    const auto payload = image.subspan(kHeaderSize, header.dwPayloadLength);
    return results.bComplete && results.payload.size() == payload.size() &&
           std::equal(payload.begin(), payload.end(), results.payload.begin());
}

// The platform the runs take their devices from: the system's, or the demo desk of the
// simulated chargers a --simulate list names. Every run opens a desk of its own with all of them,
// and updates one. nullptr, with `error` set, when the list is not understood.
std::unique_ptr<IPlatform> ChoosePlatform(const SUpdateArgs& args, std::string& error) {
    std::unique_ptr<IPlatform> system = CreateSystemPlatform();
    if (!args.simulate) {
        return system;
    }
    // The simulated chargers are the model the file is meant for.
    std::uint8_t model = sim::kDemoModelCode;
    std::string type = sim::kDemoType;
    const auto scratch = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
    if (LoadUpdateHeader(args.file, *scratch).outcome == ELoadOutcome::Loaded) {
        const SUpdateHeader fields = ReadUpdateHeader(*scratch);
        model = fields.byDeviceCode;
        type = fields.szType.empty() ? type : fields.szType;
    }
    return CDemoDesk::Create(std::move(system), *args.simulate, error, model, type);
}

// What every run shares: read-only settings and the program-wide services that serialise
// themselves (reporter, trace, abort).
struct SShared {
    const SUpdateArgs& args;
    CRunReporter& reporter;
    CTraceFile* trace;
    CRunAbort& abort;
    bool bySerial; // find the charger again by type and serial number
};

struct SRunOutcome {
    bool ok = false;
    bool aborted = false;
};

// One charger's run, start to end, on its own platform, clock, window, table and image buffer.
SRunOutcome RunOne(const SShared& shared, const SDeviceEntry& target, int index,
                   std::unique_ptr<IDevices> platform, std::uint32_t seed) {
    const auto started = std::chrono::steady_clock::now();
    SDeviceListState devices;
    CConsoleWindow window(devices, shared.reporter, index);
    window.path = shared.args.file;
    window.comPortsTicked = shared.args.com;
    auto image = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
    devices.bFileValid = LoadUpdateHeader(shared.args.file, *image).outcome == ELoadOutcome::Loaded;

    CDeviceEnumerator enumerator(platform->SerialPorts(), platform->HidInterfaces());
    const auto refresh = [&] {
        try {
            RefreshDeviceList(devices, window, enumerator);
        } catch (const CEnumerationError&) {
            // The table stays as it was; the run goes on with it.
        }
    };
    refresh();
    CDeviceNews news(*platform);
    news.Take(); // the table was just filled
    int row = 0;
    while (row < devices.nDeviceCount && devices.rows[row].strPort != target.strPort) {
        ++row;
    }
    if (row == devices.nDeviceCount && row < kDeviceTableRows) {
        devices.rows[row] = target; // a plain serial port that is not listed
        devices.nDeviceCount = row + 1;
    }
    window.selection = row;
    window.onDispatch = [&] {
        shared.abort.Aborted(); // warns at the first interrupt
        if (news.Take()) {
            refresh();
        }
    };

    CSteadyClock steadyClock;
    CAbortableClock clock(steadyClock, shared.abort);
    CAbortablePorts abortable(platform->Ports(), shared.abort);
    std::optional<CRecordingPorts> recording;
    IPortOpener* ports = &abortable;
    if (shared.trace != nullptr) {
        shared.trace->Start(target.strPort, target.strType, target.strSerial, seed);
        ports = &recording.emplace(abortable, *shared.trace, target.strPort);
    }
    CNonceGenerator nonces(seed);
    SUpdateContext context{window, clock, *ports, devices, nonces, *image};
    context.bReconnectBySerial = shared.bySerial;
    OnUpdateClicked(context, refresh);

    SRunResult result;
    result.ok = window.Succeeded();
    result.message = window.LastBoxText();
    result.code = ResultCode(result.ok, result.message);
    if (auto* desk = dynamic_cast<CDemoDevices*>(platform.get()); desk && result.ok) {
        const sim::CSimChargerBase* charger = desk->Charger(target.strSerial);
        result.ok = charger != nullptr && PayloadMatches(charger->Results(), *image);
        shared.reporter.Line(index, result.ok ? kVerified : kNotVerified, result.ok);
        if (!result.ok) {
            result.code = -1;
            result.message = kNotVerified;
        }
    }
    std::error_code error;
    if (!result.ok && window.boxes.empty() &&
        std::filesystem::file_size(shared.args.file, error) == 0 && !error) {
        // The dialogue ends quietly on an empty file (the window keeps its file information).
        result.message = "The file is empty.";
        shared.reporter.Line(index, result.message);
    }
    if (!result.ok && result.message == run_text::kErrorOpeningCom &&
        platform->LastSerialOpenBusy()) {
        shared.reporter.Line(index, kPortBusy);
    }
    result.elapsedMs =
        static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - started)
                                       .count());
    shared.reporter.Result(index, result);
    return {result.ok, shared.abort.Aborted()};
}

// The rows the arguments choose from the device table, or an exit code with its message.
std::vector<SDeviceEntry> ChooseTargets(const SUpdateArgs& args, const SDeviceListState& devices,
                                        IPortOpener& ports, int& exitCode, std::string& message) {
    const auto rows =
        std::span(devices.rows)
            .first(static_cast<std::size_t>(std::clamp(devices.nDeviceCount, 0, kDeviceTableRows)));
    const auto isCharger = [](const SDeviceEntry& row) {
        return !(row.strType == "COMx" && row.strSerial.empty());
    };
    std::vector<SDeviceEntry> targets;
    for (const SDeviceEntry& row : rows) {
        if ((args.all && isCharger(row)) || (!args.port.empty() && row.strPort == args.port) ||
            (!args.serial.empty() && isCharger(row) && row.strSerial == args.serial)) {
            targets.push_back(row);
        }
    }
    const bool anyChoice = args.all || !args.port.empty() || !args.serial.empty();
    if (!anyChoice && !rows.empty()) {
        targets.push_back(rows.front()); // --simulate alone: the first charger
    }
    if (targets.empty() && !args.port.empty() && !HidPositionFromPortName(args.port) &&
        ports.SerialPathFor(args.port)) {
        targets.push_back({"COMx", "", args.port}); // a serial port not listed: a plain port
    }
    if (targets.empty()) {
        exitCode = kExitNoCharger;
        message = args.port.empty() ? "Device not found!"
                                    : "No device '" + Printable(args.port) + "' in the device list";
    } else if (targets.size() > 1 && !args.serial.empty()) {
        exitCode = kExitUsage;
        message = "Several chargers have the serial number '" + Printable(args.serial) +
                  "': choose one by --port";
        targets.clear();
    }
    return targets;
}

} // namespace

int RunUpdate(Args args, std::ostream& out, std::ostream& err) {
    const auto parsed = ParseUpdateArgs(args);
    if (!parsed) {
        err << kUsage;
        return kExitUsage;
    }
    std::string problem;
    const std::unique_ptr<IPlatform> platform = ChoosePlatform(*parsed, problem);
    if (platform == nullptr) {
        err << "crenovix-cli: " << Printable(problem) << "\n";
        return kExitUsage;
    }
    // Interrupts are counted from here, before any thread that talks to a charger starts.
    const CInterruptCounter interrupts;
    const CRunReporter::EForm form = parsed->json               ? CRunReporter::EForm::Json
                                     : TerminalRedrawsInPlace() ? CRunReporter::EForm::Terminal
                                                                : CRunReporter::EForm::Lines;
    CRunReporter reporter(out, err, form, FileSha256Hex(parsed->file).value_or(""));
    CRunAbort abort([] { return CInterruptCounter::Count(); },
                    [&reporter] { reporter.Note(kInterruptWarning); });

    // The device list as the window would show it, to choose the chargers from.
    std::unique_ptr<IDevices> listing = platform->OpenDevices();
    CConsoleListView view;
    view.comPortsTicked = parsed->com;
    SDeviceListState devices;
    CDeviceEnumerator enumerator(listing->SerialPorts(), listing->HidInterfaces());
    try {
        RefreshDeviceList(devices, view, enumerator);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return kExitUsage;
    }
    int exitCode = kExitSuccess;
    const std::vector<SDeviceEntry> targets =
        ChooseTargets(*parsed, devices, listing->Ports(), exitCode, problem);
    if (targets.empty()) {
        err << problem << "\n";
        return exitCode;
    }
    std::unique_ptr<CTraceFile> trace;
    if (!parsed->record.empty() && !(trace = CTraceFile::Create(parsed->record))) {
        err << "crenovix-cli: cannot create the trace file '" << Printable(parsed->record) << "'\n";
        return kExitUsage;
    }

    // An interrupt while the chargers were being chosen ends the program before any is written.
    if (CInterruptCounter::Count() > 0) {
        err << "crenovix-cli: interrupted; nothing was written\n";
        return kExitInterrupted;
    }
    for (const SDeviceEntry& target : targets) {
        reporter.AddRun({target.strPort, target.strSerial, target.strType});
    }
    const SShared shared{*parsed, reporter, trace.get(), abort,
                         parsed->all || !parsed->serial.empty()};
    std::vector<SRunOutcome> outcomes(targets.size());
    const std::uint32_t seed = TimeSeed();
    if (targets.size() == 1) {
        listing.reset(); // the run opens the port the listing's platform knows
        outcomes[0] = RunOne(shared, targets[0], 0, platform->OpenDevices(), seed);
    } else {
        std::vector<std::thread> runs;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            runs.emplace_back([&, i, devices = platform->OpenDevices()]() mutable {
                outcomes[i] = RunOne(shared, targets[i], static_cast<int>(i), std::move(devices),
                                     seed + static_cast<std::uint32_t>(i));
            });
        }
        for (std::thread& run : runs) {
            run.join();
        }
    }
    const auto ok = std::count_if(outcomes.begin(), outcomes.end(),
                                  [](const SRunOutcome& outcome) { return outcome.ok; });
    const auto failed = static_cast<std::int64_t>(outcomes.size()) - ok;
    reporter.Finish(static_cast<int>(ok), static_cast<int>(failed));
    if (std::any_of(outcomes.begin(), outcomes.end(),
                    [](const SRunOutcome& outcome) { return outcome.aborted; })) {
        reporter.Note(kAborted);
        return kExitInterrupted;
    }
    return failed == 0 ? kExitSuccess : kExitFailed;
}

} // namespace crenovix::cli
