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
#include "protocol/UpdateRun.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

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

// A desk of the simulated chargers a --simulate list names, as a run's platform. Every run gets
// a desk of its own with all of them, and updates one.
class CSimPlatform final : public ICliPlatform {
    CSteadyClock clock_; // first: the desk runs on it

public:
    explicit CSimPlatform(std::size_t hidChargers, std::size_t serialChargers)
        : hidChargers_(hidChargers), serialChargers_(serialChargers) {}

    sim::CSimBench bench{clock_};

    ISerialPlatform& SerialPorts() override { return bench; }
    IHidInterfaceSet& HidInterfaces() override { return bench; }
    IPortOpener& Ports() override { return bench; }
    // The desk's presence check looks at every charger on it; a run asks after every block, so
    // the desk is looked at on the rescan timer like a platform without notifications.
    bool TakeDevicesChanged() override { return rescan_.Due() && bench.TakeDevicesChanged(); }
    bool LastSerialOpenBusy() override { return false; }

    // Whether the charger with `serial` stored exactly the payload of `image`.
    bool Stored(const std::string& serial, std::span<const std::uint8_t> image) {
        for (std::size_t i = 0; i < hidChargers_ + serialChargers_; ++i) {
            const sim::CSimChargerBase& charger =
                i < hidChargers_ ? static_cast<sim::CSimChargerBase&>(bench.HidCharger(i))
                                 : bench.SerialCharger(i - hidChargers_);
            if (charger.Identity().strSerial == serial) {
                return PayloadMatches(charger.Results(), image);
            }
        }
        return false;
    }

private:
    CRescanTimer rescan_{clock_};
    std::size_t hidChargers_;
    std::size_t serialChargers_;
};

// Makes a run's platform: the system's, or a desk of simulated chargers.
class CPlatformMaker {
public:
    CPlatformMaker(const SUpdateArgs& args, std::string& error) : simulate_(args.simulate) {
        if (!simulate_) {
            return;
        }
        // The simulated chargers are the model the file is meant for.
        const auto scratch = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
        if (LoadUpdateHeader(args.file, *scratch).outcome == ELoadOutcome::Loaded) {
            const SUpdateHeader fields = ReadUpdateHeader(*scratch);
            model_ = fields.byDeviceCode;
            type_ = fields.szType.empty() ? type_ : fields.szType;
        }
        for (std::string_view names = *simulate_; !names.empty();) {
            const std::size_t comma = names.find(',');
            const std::string_view item = names.substr(0, comma);
            const std::string_view word = item.substr(0, item.find(':'));
            hid_ += word == "hid" ? 1 : 0;
            serial_ += word == "serial" ? 1 : 0;
            names = comma == std::string_view::npos ? std::string_view{} : names.substr(comma + 1);
        }
        if (const auto problem = sim::AddDemoChargers(Make()->bench, *simulate_, model_, type_)) {
            error = *problem;
        }
    }

    std::unique_ptr<ICliPlatform> operator()() {
        if (!simulate_) {
            return CreateCliPlatform();
        }
        std::unique_ptr<CSimPlatform> desk = Make();
        sim::AddDemoChargers(desk->bench, *simulate_, model_, type_);
        return desk;
    }

private:
    std::unique_ptr<CSimPlatform> Make() { return std::make_unique<CSimPlatform>(hid_, serial_); }

    std::optional<std::string> simulate_;
    std::uint8_t model_ = 0x0A;
    std::string type_ = "Kelvorin K4";
    std::size_t hid_ = 0;
    std::size_t serial_ = 0;
};

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
                   std::unique_ptr<ICliPlatform> platform, std::uint32_t seed) {
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
    platform->TakeDevicesChanged(); // the table was just filled
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
        if (platform->TakeDevicesChanged()) {
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
    if (auto* desk = dynamic_cast<CSimPlatform*>(platform.get()); desk && result.ok) {
        result.ok = desk->Stored(target.strSerial, *image);
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
    CPlatformMaker makePlatform(*parsed, problem);
    if (!problem.empty()) {
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
    std::unique_ptr<ICliPlatform> listing = makePlatform();
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

    for (const SDeviceEntry& target : targets) {
        reporter.AddRun({target.strPort, target.strSerial, target.strType});
    }
    const SShared shared{*parsed, reporter, trace.get(), abort,
                         parsed->all || !parsed->serial.empty()};
    std::vector<SRunOutcome> outcomes(targets.size());
    const std::uint32_t seed = TimeSeed();
    if (targets.size() == 1) {
        listing.reset(); // the run opens the port the listing's platform knows
        outcomes[0] = RunOne(shared, targets[0], 0, makePlatform(), seed);
    } else {
        std::vector<std::thread> runs;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            runs.emplace_back([&, i, platform = makePlatform()]() mutable {
                outcomes[i] = RunOne(shared, targets[i], static_cast<int>(i), std::move(platform),
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
    if (abort.Aborted()) {
        reporter.Note(kAborted);
        return kExitInterrupted;
    }
    return failed == 0 ? kExitSuccess : kExitFailed;
}

} // namespace crenovix::cli
