#include "cli/Commands.h"
#include "cli/ConsoleWindow.h"
#include "cli/Interrupts.h"
#include "cli/Platform.h"
#include "cli/PrintableText.h"
#include "cli/RunAbort.h"
#include "cli/Terminal.h"
#include "device/SerialEnumeration.h"
#include "protocol/UpdateRun.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>

namespace crenovix::cli {

namespace {

constexpr int kExitInterrupted = 130;
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
    std::string simulate; // "hid" or "serial"
    std::string file;
};

std::optional<SUpdateArgs> ParseUpdateArgs(Args args) {
    SUpdateArgs parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--com") {
            parsed.com = true;
        } else if ((arg == "--port" || arg == "--simulate") && i + 1 < args.size()) {
            (arg == "--port" ? parsed.port : parsed.simulate) = args[++i];
        } else if (!arg.starts_with("--") && parsed.file.empty()) {
            parsed.file = arg;
        } else {
            return std::nullopt;
        }
    }
    const bool oneTarget = parsed.port.empty() != parsed.simulate.empty();
    const bool knownSimulation =
        parsed.simulate.empty() || parsed.simulate == "hid" || parsed.simulate == "serial";
    if (!oneTarget || !knownSimulation || parsed.file.empty()) {
        return std::nullopt;
    }
    return parsed;
}

std::uint32_t TimeSeed() {
    return static_cast<std::uint32_t>(
        std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

// Why a run ended without success, where its window said nothing: an empty file ends the
// dialogue quietly (the window keeps its file information), and an aborted run says what state
// the charger may be in.
int RunFailed(const CConsoleWindow& window, CRunAbort& abort, std::ostream& err) {
    if (abort.Aborted()) {
        err << kAborted << "\n";
        return kExitInterrupted;
    }
    std::error_code error;
    if (window.boxes.empty() && std::filesystem::file_size(window.path, error) == 0 && !error) {
        err << "The file is empty.\n";
    }
    return 1;
}

// Runs the update of the selected row the way the Update button does.
void RunLikeTheWindow(SUpdateContext& context, CConsoleWindow& window,
                      IDeviceEnumerator& enumerator) {
    OnUpdateClicked(context, [&] {
        try {
            RefreshDeviceList(context.devices, window, enumerator);
        } catch (const CEnumerationError&) {
            // The run has ended and shown its outcome; a failed refill changes nothing of it.
        }
    });
}

// The simulated charger's stored payload against the file's, byte for byte.
bool PayloadMatches(const sim::SSimResults& results, std::span<const std::uint8_t> image) {
    const SUpdateHeader header = ReadUpdateHeader(image);
    const auto payload = image.subspan(kHeaderSize, header.dwPayloadLength);
    return results.bComplete && results.payload.size() == payload.size() &&
           std::equal(payload.begin(), payload.end(), results.payload.begin());
}

int RunSimulated(const SUpdateArgs& args, CConsoleWindow& window, SDeviceListState& devices,
                 CRunAbort& abort, std::ostream& out, std::ostream& err) {
    CSteadyClock steadyClock;
    sim::CSimBench bench(steadyClock);
    // The simulated charger is the model the file is meant for.
    std::array<std::uint8_t, kUpdateImageSize> scratch{};
    std::uint8_t model = 0x0A;
    std::string type = "Kelvorin K4";
    if (LoadUpdateHeader(args.file, scratch).outcome == ELoadOutcome::Loaded) {
        const SUpdateHeader header = ReadUpdateHeader(scratch);
        model = header.byDeviceCode;
        type = header.szType.empty() ? type : header.szType;
    }
    sim::AddDemoChargers(bench, args.simulate, model, type);
    const sim::CSimChargerBase* charger = nullptr;
    if (args.simulate == "hid") {
        charger = &bench.HidCharger(0);
    } else {
        charger = &bench.SerialCharger(0);
    }

    CDeviceEnumerator enumerator(bench, bench);
    RefreshDeviceList(devices, window, enumerator);
    bench.TakeDevicesChanged();
    if (devices.nDeviceCount == 0) {
        err << "Device not found!\n";
        return 1;
    }
    window.onDispatch = [&] {
        abort.Aborted(); // warns at the first interrupt
        if (bench.TakeDevicesChanged()) {
            RefreshDeviceList(devices, window, enumerator);
        }
    };
    CNonceGenerator nonces(TimeSeed());
    CAbortableClock clock(steadyClock, abort);
    CAbortablePorts ports(bench, abort);
    SUpdateContext context{window, clock, ports, devices, nonces};
    RunLikeTheWindow(context, window, enumerator);
    if (!window.Succeeded()) {
        return RunFailed(window, abort, err);
    }
    if (!PayloadMatches(charger->Results(), UpdateImage)) {
        err << "Verification failed: the charger's stored payload differs from the file's\n";
        return 1;
    }
    out << "Verified: payload matches\n";
    return 0;
}

int RunOnPort(const SUpdateArgs& args, CConsoleWindow& window, SDeviceListState& devices,
              CRunAbort& abort, std::ostream& err) {
    const auto platform = CreateCliPlatform();
    CDeviceEnumerator enumerator(platform->SerialPorts(), platform->HidInterfaces());
    try {
        RefreshDeviceList(devices, window, enumerator);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return 2;
    }
    int row = 0;
    while (row < devices.nDeviceCount && devices.rows[row].strPort != args.port) {
        ++row;
    }
    if (row == devices.nDeviceCount) {
        // A serial device that is not listed is updated as a plain port.
        if (HidPositionFromPortName(args.port) || !platform->Ports().SerialPathFor(args.port) ||
            row == kDeviceTableRows) {
            err << "No device '" << Printable(args.port) << "' in the device list\n";
            return 2;
        }
        devices.rows[row] = {"COMx", "", args.port};
        devices.nDeviceCount = row + 1;
    }
    window.selection = row;

    // Device changes while the charger restarts refill the table, as in the window.
    platform->TakeDevicesChanged(); // the table was just filled
    window.onDispatch = [&] {
        abort.Aborted(); // warns at the first interrupt
        if (platform->TakeDevicesChanged()) {
            try {
                RefreshDeviceList(devices, window, enumerator);
            } catch (const CEnumerationError&) {
                // The table stays as it was; the run goes on with it.
            }
        }
    };
    CSteadyClock steadyClock;
    CAbortableClock clock(steadyClock, abort);
    CAbortablePorts ports(platform->Ports(), abort);
    CNonceGenerator nonces(TimeSeed());
    SUpdateContext context{window, clock, ports, devices, nonces};
    RunLikeTheWindow(context, window, enumerator);
    if (window.Succeeded()) {
        return 0;
    }
    if (!window.boxes.empty() && window.boxes.back().text == run_text::kErrorOpeningCom &&
        platform->LastSerialOpenBusy()) {
        err << kPortBusy << "\n";
    }
    return RunFailed(window, abort, err);
}

} // namespace

int RunUpdate(Args args, std::ostream& out, std::ostream& err) {
    const auto parsed = ParseUpdateArgs(args);
    if (!parsed) {
        err << "usage: crenovix-cli update [--com] (--port NAME | --simulate hid|serial) FILE\n";
        return 2;
    }
    // Interrupts are counted from here, before any thread that talks to a charger starts.
    const CInterruptCounter interrupts;
    CRunAbort abort([] { return CInterruptCounter::Count(); },
                    [&err] { err << "\n"
                                 << kInterruptWarning << "\n"
                                 << std::flush; });
    SDeviceListState devices;
    CConsoleWindow window(devices, out, err, StderrIsTerminal());
    window.path = parsed->file;
    window.comPortsTicked = parsed->com;
    // The window loads the header when the path is set; the Update button needs a valid file.
    devices.bFileValid = LoadUpdateHeader(parsed->file).outcome == ELoadOutcome::Loaded;
    if (!parsed->simulate.empty()) {
        return RunSimulated(*parsed, window, devices, abort, out, err);
    }
    return RunOnPort(*parsed, window, devices, abort, err);
}

} // namespace crenovix::cli
