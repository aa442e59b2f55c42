#include "cli/Commands.h"
#include "cli/ConsoleWindow.h"
#include "cli/Platform.h"
#include "cli/Terminal.h"
#include "device/SerialEnumeration.h"
#include "protocol/UpdateRun.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace crenovix::cli {

namespace {

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
                 std::ostream& out, std::ostream& err) {
    CSteadyClock clock;
    sim::CSimBench bench(clock);
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
        if (bench.TakeDevicesChanged()) {
            RefreshDeviceList(devices, window, enumerator);
        }
    };
    CNonceGenerator nonces(TimeSeed());
    SUpdateContext context{window, clock, bench, devices, nonces};
    RunLikeTheWindow(context, window, enumerator);
    if (!window.Succeeded()) {
        return 1;
    }
    if (!PayloadMatches(charger->Results(), UpdateImage)) {
        err << "Verification failed: the charger's stored payload differs from the file's\n";
        return 1;
    }
    out << "Verified: payload matches\n";
    return 0;
}

int RunOnPort(const SUpdateArgs& args, CConsoleWindow& window, SDeviceListState& devices,
              std::ostream& err) {
    const auto platform = CreateCliPlatform();
    CDeviceEnumerator enumerator(platform->SerialPorts(), platform->HidInterfaces());
    try {
        RefreshDeviceList(devices, window, enumerator);
    } catch (const CEnumerationError& error) {
        err << error.what() << "\n";
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
            err << "No device '" << args.port << "' in the device list\n";
            return 2;
        }
        devices.rows[row] = {"COMx", "", args.port};
        devices.nDeviceCount = row + 1;
    }
    window.selection = row;

    // Device changes while the charger restarts refill the table, as in the window.
    platform->TakeDevicesChanged(); // the table was just filled
    window.onDispatch = [&] {
        if (platform->TakeDevicesChanged()) {
            try {
                RefreshDeviceList(devices, window, enumerator);
            } catch (const CEnumerationError&) {
                // The table stays as it was; the run goes on with it.
            }
        }
    };
    CSteadyClock clock;
    CNonceGenerator nonces(TimeSeed());
    SUpdateContext context{window, clock, platform->Ports(), devices, nonces};
    RunLikeTheWindow(context, window, enumerator);
    return window.Succeeded() ? 0 : 1;
}

} // namespace

int RunUpdate(Args args, std::ostream& out, std::ostream& err) {
    const auto parsed = ParseUpdateArgs(args);
    if (!parsed) {
        err << "usage: crenovix-cli update [--com] (--port NAME | --simulate hid|serial) FILE\n";
        return 2;
    }
    SDeviceListState devices;
    CConsoleWindow window(devices, out, err, StderrIsTerminal());
    window.path = parsed->file;
    window.comPortsTicked = parsed->com;
    // The window loads the header when the path is set; the Update button needs a valid file.
    devices.bFileValid = LoadUpdateHeader(parsed->file).outcome == ELoadOutcome::Loaded;
    if (!parsed->simulate.empty()) {
        return RunSimulated(*parsed, window, devices, out, err);
    }
    return RunOnPort(*parsed, window, devices, err);
}

} // namespace crenovix::cli
