// update: one charger, one found by its serial number, or all of them at once, each in a run of
// its own (its own port, clock, observer, device table and image buffer), on the platform or on
// desks of simulated chargers. Each run is the update engine's (RunUpdate): its events go to the
// reporter, and its result value is printed and becomes the JSON result.
#include "app/RunTable.h"
#include "cli/Commands.h"
#include "cli/InputFile.h"
#include "cli/Interrupts.h"
#include "cli/RunAbort.h"
#include "cli/RunReport.h"
#include "cli/Terminal.h"
#include "cli/Trace.h"
#include "cli/UpdateWatch.h"
#include "device/SerialEnumeration.h"
#include "platform/DemoDesk.h"
#include "platform/DeviceNews.h"
#include "protocol/UpdateRun.h"
#include "sim/DemoChargers.h"
#include "text/PrintableText.h"
#include "updatefile/Sha256.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

namespace crenovix::cli {

namespace {

constexpr const char* kUsage =
    "usage: crenovix-cli update [--com] (--port NAME | --serial SN | --all | --simulate LIST)\n"
    "                           [--json] [--record FILE] [--log FILE | --no-log] FILE\n"
    "       crenovix-cli update --watch [--serial SN] [--simulate LIST] [--json]\n"
    "                           [--log FILE | --no-log] FILE\n";
constexpr const char* kPortBusy = "The port is busy: another program holds it.";
constexpr const char* kInterruptWarning =
    "Interrupting the update now can leave the charger without working firmware. Interrupt "
    "again to abort it.";
constexpr const char* kAborted =
    "Update aborted; the port is closed. The charger may be left in its boot loader: run the "
    "update again to recover it.";

struct SUpdateArgs {
    bool com = false;
    std::string port;
    std::string serial;
    bool all = false;
    bool watch = false;
    std::optional<std::string> simulate;
    bool json = false;
    std::string record;
    std::string log; // empty: the user's data folder
    bool noLog = false;
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
        } else if (arg == "--watch") {
            parsed.watch = true;
        } else if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "--port" && hasValue) {
            parsed.port = args[++i];
        } else if (arg == "--serial" && hasValue) {
            parsed.serial = args[++i];
        } else if (arg == "--record" && hasValue) {
            parsed.record = args[++i];
        } else if (arg == "--log" && hasValue) {
            parsed.log = args[++i];
        } else if (arg == "--no-log") {
            parsed.noLog = true;
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
    if (choices > 1 || (choices == 0 && !parsed.simulate && !parsed.watch) || parsed.file.empty() ||
        (parsed.noLog && !parsed.log.empty())) {
        return std::nullopt;
    }
    // --watch chooses its chargers as they come; --serial only filters them. A trace holds the
    // runs of one command, not of a station's day.
    if (parsed.watch &&
        (parsed.all || !parsed.port.empty() || parsed.com || !parsed.record.empty())) {
        return std::nullopt;
    }
    return parsed;
}

std::uint32_t TimeSeed() {
    return static_cast<std::uint32_t>(
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
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
// themselves (reporter, trace, abort; the update log locks its file for each record).
struct SShared {
    const SUpdateArgs& args;
    CRunReporter& reporter;
    CTraceFile* trace;
    CRunAbort& abort;
    IUpdateLog* log;
    CUpdateImageCache* images; // the file deciphered once for all the runs
};

// A charger chosen for a run, and whether its run finds it again by type and serial number
// (--serial, --all) or, as the window does, by its port.
struct STarget {
    SDeviceEntry entry;
    bool bySerial = false;
    std::size_t lane = 0; // runs of one lane follow each other; lanes run concurrently
};

struct SRunOutcome {
    bool ok = false;
    bool aborted = false;
};

// One charger's run, start to end, on its own platform, clock, observer, table and image buffer.
SRunOutcome RunOne(const SShared& shared, const STarget& chosen, int index,
                   std::unique_ptr<IDevices> platform, std::uint32_t seed) {
    const SDeviceEntry& target = chosen.entry;
    const auto started = std::chrono::steady_clock::now();
    SDeviceListState devices;
    CDeviceEnumerator system(platform->SerialPorts(), platform->HidInterfaces());
    CTargetFirst enumerator(system, target, chosen.bySerial);
    const int row = FillRunTable(devices, enumerator, target, chosen.bySerial, shared.args.com);
    CDeviceNews news(*platform);
    news.Take(); // the table was just filled
    CReportingObserver observer(shared.reporter, index, [&] {
        shared.abort.Aborted(); // warns at the first interrupt
        if (news.Take()) {
            RefillTable(devices, enumerator, shared.args.com);
        }
    });

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
    auto image = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
    SRunJob job{observer,         clock, *ports,          devices,   nonces, *image,
                shared.args.file, row,   chosen.bySerial, shared.log};
    job.images = shared.images;
    job.relist = [&] { RefillTable(devices, enumerator, shared.args.com); };
    bool aborted = false;
    // What only the command line knows is settled before the engine records the run.
    job.conclude = [&](crenovix::SRunResult& result) {
        // A run the second interrupt ended failed on the user's demand, whatever the dialogue
        // made of its refused ports; one that finished first keeps its success.
        aborted = shared.abort.Aborted();
        if (aborted && !result.Ok()) {
            result.outcome = ERunOutcome::Aborted;
        }
        // A simulated charger can be asked what it stored: a success is one only when it holds
        // exactly the file's payload, and one it did not store shows no success box.
        std::optional<bool> stored;
        if (platform->Simulated() && result.Ok()) {
            stored = platform->StoredPayloadIs(target.strPort, target.strSerial, PayloadOf(*image));
        }
        SettleStoredPayload(result, stored);
        observer.End(result);
        if (stored) {
            shared.reporter.Line(index, *stored ? kVerifiedText : result.errorLine, *stored);
        }
    };
    // A charger no longer listed where it was (another took its position) is not written.
    crenovix::SRunResult result;
    if (row < 0) {
        result = RunEnding(ERunOutcome::DeviceNotFound,
                           HidPositionFromPortName(target.strPort).has_value());
        job.conclude(result);
    } else {
        result = crenovix::RunUpdate(job);
    }
    const auto elapsedMs =
        static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - started)
                                       .count());
    const SRunRecord record = RunRecordOf(result, elapsedMs);
    if (!result.logError.empty()) {
        shared.reporter.Line(index, result.logError);
    }
    if (result.outcome == ERunOutcome::FileEmpty) {
        // The dialogue ends quietly on an empty file (the window keeps its file information).
        shared.reporter.Line(index, record.message);
    }
    if (result.outcome == ERunOutcome::PortOpenFailed && !result.bHid &&
        platform->LastSerialOpenBusy()) {
        shared.reporter.Line(index, kPortBusy);
    }
    shared.reporter.Result(index, record);
    return {record.ok, aborted};
}

// The rows the arguments choose from every row the enumeration gave (not only the first 32 a
// window's table holds), or an exit code with its message (made printable). `notes` says which
// chargers share a serial number and are therefore found again by port (raw: the reporter's
// notes make their texts printable).
std::vector<STarget> ChooseTargets(const SUpdateArgs& args, std::span<const SDeviceEntry> rows,
                                   IPortOpener& ports, int& exitCode, std::string& message,
                                   std::vector<std::string>& notes) {
    const auto isCharger = [](const SDeviceEntry& row) {
        return !(row.strType == "COMx" && row.strSerial.empty());
    };
    const bool bySerial = args.all || !args.serial.empty();
    std::vector<STarget> targets;
    for (const SDeviceEntry& row : rows) {
        if ((args.all && isCharger(row)) || (!args.port.empty() && row.strPort == args.port) ||
            (!args.serial.empty() && isCharger(row) && row.strSerial == args.serial)) {
            targets.push_back({row, bySerial});
        }
    }
    const bool anyChoice = args.all || !args.port.empty() || !args.serial.empty();
    if (!anyChoice && !rows.empty()) {
        targets.push_back({rows.front(), false}); // --simulate alone: the first charger
    }
    if (targets.empty() && !args.port.empty() && !HidPositionFromPortName(args.port) &&
        ports.SerialPathFor(args.port)) {
        targets.push_back({{"COMx", "", args.port}, false}); // a serial port not listed
    }
    if (targets.empty()) {
        exitCode = kExitNoCharger;
        message = args.port.empty() ? "Device not found!"
                                    : "No device '" + Printable(args.port) + "' in the device list";
        return targets;
    }
    if (targets.size() > 1 && !args.serial.empty()) {
        exitCode = kExitUsage;
        message = "Several chargers have the serial number '" + Printable(args.serial) +
                  "': choose one by --port";
        targets.clear();
        return targets;
    }
    // Chargers that share a serial number cannot be told apart by it after their restart: each
    // is found again by its port, as a charger without a serial number is. They are updated one
    // after another, in one lane: were two of them in their boot loaders at once, a position
    // that changed could hand one run the other's.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        targets[i].lane = i;
    }
    std::map<std::string, std::vector<STarget*>> bySerialNumber;
    for (STarget& target : targets) {
        if (target.bySerial && !target.entry.strSerial.empty()) {
            bySerialNumber[target.entry.strSerial].push_back(&target);
        }
    }
    for (const auto& [serial, sharing] : bySerialNumber) {
        if (sharing.size() < 2) {
            continue;
        }
        std::string ports;
        for (STarget* target : sharing) {
            target->bySerial = false;
            target->lane = sharing.front()->lane;
            ports += (ports.empty() ? "" : ", ") + target->entry.strPort;
        }
        notes.push_back("The chargers at " + ports + " share the serial number '" + serial +
                        "': each is found again by its port.");
    }
    return targets;
}

// Whether two paths name the same file (through links too); false when either does not exist.
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// The update log the arguments name (the user's data folder unless --log names a file), or
// nothing for --no-log. False, with `error` set, when the named place is no file to append to:
// the update file itself, the trace, a directory, a FIFO, a device.
bool OpenLog(const SUpdateArgs& args, IPlatform& platform, std::unique_ptr<IUpdateLog>& log,
             std::string& error) {
    if (args.noLog) {
        return true;
    }
    if (!args.log.empty() && (SameFile(args.log, args.file) || args.log == args.file)) {
        error = "the update log '" + args.log + "' is the update file";
        return false;
    }
    if (!args.log.empty() && !args.record.empty() &&
        (SameFile(args.log, args.record) || args.log == args.record)) {
        error = "the update log '" + args.log + "' is the trace file";
        return false;
    }
    log = platform.OpenUpdateLog(args.log, error);
    return log != nullptr || args.log.empty();
}

// The command's end after its runs: the file and the trace checked, the exit code.
int FinishUpdate(const SUpdateArgs& args, const std::vector<std::uint8_t>& bytes,
                 CRunReporter& reporter, CTraceFile* trace, bool aborted, bool allOk) {
    // The dialogues load the file again by its path: had it changed since it was hashed, the
    // results would name bytes no charger received.
    const bool fileKept = ReadInputFile(args.file, kUpdateImageSize).bytes == bytes;
    if (!fileKept) {
        reporter.Note("crenovix-cli: the update file changed during the update; its SHA-256 may "
                      "not name what the chargers received");
    }
    // A trace that lost lines would replay as a different dialogue: the command failed.
    const bool traceComplete = trace == nullptr || trace->Close();
    if (!traceComplete) {
        reporter.Note("crenovix-cli: the trace file '" + args.record +
                      "' could not be written completely");
    }
    if (aborted) {
        reporter.Note(kAborted);
        return kExitInterrupted;
    }
    return allOk && traceComplete && fileKept ? kExitSuccess : kExitFailed;
}

// The update log of the arguments, or the exit code when it cannot be the one they name; a
// missing data folder only costs the record, with a note.
std::optional<int> OpenLogOrFail(const SUpdateArgs& args, IPlatform& platform,
                                 std::unique_ptr<IUpdateLog>& log, std::ostream& err) {
    std::string problem;
    if (!OpenLog(args, platform, log, problem)) {
        err << "crenovix-cli: " << Printable(problem) << "\n" << kUsage;
        return kExitUsage;
    }
    if (log == nullptr && !args.noLog) {
        // Without a data folder the updates still go on; only the record is missing.
        err << "crenovix-cli: " << Printable(LogFailureText(problem)) << "\n";
    }
    return std::nullopt;
}

} // namespace

int RunUpdate(Args args, std::ostream& out, std::ostream& err) {
    const auto parsed = ParseUpdateArgs(args);
    if (!parsed) {
        err << kUsage;
        return kExitUsage;
    }
    // Creating the trace truncates it: it must not be the update file, under any of its names.
    if (!parsed->record.empty() && SameFile(parsed->record, parsed->file)) {
        err << "crenovix-cli: the trace file '" << Printable(parsed->record)
            << "' is the update file\n"
            << kUsage;
        return kExitUsage;
    }
    // The file is read once, before anything else: only a regular file (a directory, a FIFO or
    // /dev/zero fail here at once) and no more than an update file can hold. Its SHA-256 names
    // these bytes; the dialogue's own load reports a file too big, malformed or empty.
    const SInputFile file = ReadInputFile(parsed->file, kUpdateImageSize);
    if (file.status == EInputFile::CannotOpen) {
        err << run_text::kErrorOpenFile << "\n";
        return kExitFailed;
    }
    const std::string fileSha256 = file.status == EInputFile::Read ? Sha256Hex(file.bytes) : "";

    std::string problem;
    const std::unique_ptr<IPlatform> platform = ChoosePlatform(*parsed, problem);
    if (platform == nullptr) {
        err << "crenovix-cli: " << Printable(problem) << "\n";
        return kExitUsage;
    }
    // Interrupts are counted from here, before any thread that talks to a charger starts.
    const CInterruptCounter interrupts;
    // A watch goes on until Ctrl+C: lines redrawn in place for every charger of the day would
    // outgrow the screen and hold the boxes' texts back to the end, so it prints plain lines.
    const bool redraw = !parsed->watch && TerminalRedrawsInPlace();
    const CRunReporter::EForm form = parsed->json ? CRunReporter::EForm::Json
                                     : redraw     ? CRunReporter::EForm::Terminal
                                                  : CRunReporter::EForm::Lines;
    CRunReporter reporter(out, err, form, fileSha256);
    CRunAbort abort([] { return CInterruptCounter::Count(); },
                    [&reporter] { reporter.Note(kInterruptWarning); });
    if (parsed->watch) {
        std::unique_ptr<IUpdateLog> log;
        if (const std::optional<int> exit = OpenLogOrFail(*parsed, *platform, log, err)) {
            return *exit;
        }
        const SWatchOutcome watched = WatchAndUpdate(
            {*platform, parsed->file, parsed->serial, reporter, abort, log.get(), TimeSeed()});
        if (!watched.fileError.empty()) {
            err << watched.fileError << "\n";
            return kExitFailed;
        }
        reporter.Finish(watched.ok, watched.failed);
        return FinishUpdate(*parsed, file.bytes, reporter, nullptr, watched.aborted,
                            watched.failed == 0);
    }

    // Every row the enumeration gives, as the window would make them, to choose the chargers
    // from: the window's table ends at 32 rows, a box of chargers need not.
    std::unique_ptr<IDevices> listing = platform->OpenDevices();
    CDeviceEnumerator enumerator(listing->SerialPorts(), listing->HidInterfaces());
    std::vector<SDeviceEntry> rows;
    try {
        for (SListedRow& row : ListRows(enumerator, parsed->com)) {
            rows.push_back(std::move(row.entry));
        }
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return kExitUsage;
    }
    int exitCode = kExitSuccess;
    std::vector<std::string> notes;
    const std::vector<STarget> targets =
        ChooseTargets(*parsed, rows, listing->Ports(), exitCode, problem, notes);
    if (targets.empty()) {
        err << problem << "\n";
        return exitCode;
    }
    std::unique_ptr<IUpdateLog> log;
    if (const std::optional<int> exit = OpenLogOrFail(*parsed, *platform, log, err)) {
        return *exit;
    }
    CSteadyClock traceClock; // a trace's times count from its making
    std::unique_ptr<CTraceFile> trace;
    if (!parsed->record.empty() && !(trace = CTraceFile::Create(parsed->record, traceClock))) {
        err << "crenovix-cli: cannot create the trace file '" << Printable(parsed->record) << "'\n";
        return kExitUsage;
    }

    // An interrupt while the chargers were being chosen ends the program before any is written.
    if (CInterruptCounter::Count() > 0) {
        err << "crenovix-cli: interrupted; nothing was written\n";
        return kExitInterrupted;
    }
    for (const std::string& note : notes) {
        reporter.Note(note);
    }
    for (const STarget& target : targets) {
        reporter.AddRun({target.entry.strPort, target.entry.strSerial, target.entry.strType});
    }
    CUpdateImageCache images;
    const SShared shared{*parsed, reporter, trace.get(), abort, log.get(), &images};
    std::vector<SRunOutcome> outcomes(targets.size());
    const std::uint32_t seed = TimeSeed();
    // A run that throws (out of memory, say) is a failed run, never the end of the others.
    const auto run = [&](std::size_t i, std::unique_ptr<IDevices> devices) {
        try {
            outcomes[i] = RunOne(shared, targets[i], static_cast<int>(i), std::move(devices),
                                 seed + static_cast<std::uint32_t>(i));
        } catch (const std::exception& error) {
            reporter.Line(static_cast<int>(i), std::string("Run failed: ") + error.what());
            reporter.Result(static_cast<int>(i), SRunRecord{false, -1, error.what(), 0});
        }
    };
    if (targets.size() == 1) {
        listing.reset(); // the run opens the port the listing's platform knows
        run(0, platform->OpenDevices());
    } else {
        std::map<std::size_t, std::vector<std::size_t>> lanes;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            lanes[targets[i].lane].push_back(i);
        }
        std::vector<std::thread> runs;
        for (const auto& [lane, members] : lanes) {
            std::vector<std::unique_ptr<IDevices>> desks;
            for (std::size_t k = 0; k < members.size(); ++k) {
                desks.push_back(platform->OpenDevices());
            }
            runs.emplace_back([&run, members, desks = std::move(desks)]() mutable {
                for (std::size_t k = 0; k < members.size(); ++k) {
                    run(members[k], std::move(desks[k]));
                }
            });
        }
        for (std::thread& thread : runs) {
            thread.join();
        }
    }
    const auto ok = std::count_if(outcomes.begin(), outcomes.end(),
                                  [](const SRunOutcome& outcome) { return outcome.ok; });
    const auto failed = static_cast<std::int64_t>(outcomes.size()) - ok;
    reporter.Finish(static_cast<int>(ok), static_cast<int>(failed));
    const bool aborted = std::any_of(outcomes.begin(), outcomes.end(),
                                     [](const SRunOutcome& outcome) { return outcome.aborted; });
    return FinishUpdate(*parsed, file.bytes, reporter, trace.get(), aborted, failed == 0);
}

} // namespace crenovix::cli
