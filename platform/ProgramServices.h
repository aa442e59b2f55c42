// What a window runs on: the devices of the system's platform or, in demo mode
// (CRENOVIX_SIMULATE=hid,serial), of the demo desk (platform/DemoDesk.h); the platform's other
// services; the clock; the start frame's nonces. Both front ends make theirs with
// CreateProgramServices on their system's platform (CreateSystemPlatform).
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "device/SerialEnumeration.h"
#include "platform/Platform.h"
#include "protocol/UpdateLog.h"
#include "protocol/UpdateRun.h"

#include "app/MainWindowLogic.h"
#include "app/StartUp.h"
#include "app/Station.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace crenovix {

class CProgramServices {
public:
    // `platform`: the system's, or the demo desk. Opens the window's devices at once.
    explicit CProgramServices(std::unique_ptr<IPlatform> platform);
    CProgramServices(const CProgramServices&) = delete;
    CProgramServices& operator=(const CProgramServices&) = delete;

    IPlatform& Platform() { return *platform_; }
    IDevices& Devices() { return *devices_; }
    IDeviceEnumerator& Enumerator() { return enumerator_; }
    IPortOpener& Ports() { return devices_->Ports(); }
    IClock& Clock() { return clock_; }
    INonceSource& Nonces() { return nonces_; }
    // Whether the window runs on the demo desk's simulated chargers (IDevices::Simulated).
    bool Simulated() const { return devices_->Simulated(); }
    // Simulated chargers change with time (restarting into the boot loader) and tell no one: for
    // them this answers whether devices came or went since it was last asked, and the window
    // asks every kDemoPollMs. Empty for the system's devices, whose changes the system reports.
    // Each call is a reader of its own: every reader hears of every change once, so the
    // window's poll and the runs that read these devices do not take each other's news.
    std::function<bool()> DevicesChangedPoll();
    // What the main window runs on: these devices, clock and nonces, the demo poll, and the
    // front end's own version check, download window and sleep inhibitor.
    SMainWindowServices WindowServices(
        std::function<std::optional<std::string>(const CCancelToken&)> checkForNewRelease,
        std::function<void()> openDownloadWindow, ISleepInhibitor* sleepInhibitor);

    // What the station window runs on: the window's listing, and for each run devices of its
    // own (the system's: a set per run, CStationRunDevices; the demo desk's: the window's desk,
    // which every run shares, as it holds the chargers the window lists).
    SStationServices StationServices();

    void SeedNonces(std::uint32_t seed) {
        nonces_ = CNonceGenerator(seed);
        seed_ = seed;
    }

    // The update log of the windows' runs, from the program's settings: `path` is the value of
    // CRENOVIX_UPDATE_LOG (nullptr or empty: the user's data folder), `off` the value of
    // CRENOVIX_NO_UPDATE_LOG (set and not "0": no log). Empty, or the warning to show when the
    // place is no file to append to (the window then keeps no log).
    std::string UseUpdateLog(const char* path, const char* off);
    // The same with the settings file at `settingsPath` (app/Settings.h; empty: none) read first:
    // the environment, where set, wins over it. `defaultPath` is where the log goes when no
    // place is named, for the window's file dialog. The window changes the setting through
    // ChangeUpdateLog, which saves it to that file.
    std::string UseUpdateLog(const std::string& settingsPath, const std::string& defaultPath,
                             const char* path, const char* off);
    SUpdateLogChange ChangeUpdateLog(const SUpdateLogSetting& setting);
    IUpdateLog* UpdateLog() { return updateLog_.get(); }

private:
    // The news generation as it stands, after looking at polled devices.
    std::uint64_t News();
    // True once for each news generation after the one it was made at.
    std::function<bool()> NewsReader();

    std::unique_ptr<IPlatform> platform_;
    std::unique_ptr<IDevices> devices_;
    CDeviceEnumerator enumerator_;
    CSteadyClock clock_;
    CNonceGenerator nonces_{0};
    std::uint32_t seed_ = 0;
    std::atomic<std::uint32_t> runSeeds_{0};
    std::mutex pollMutex_;
    std::atomic<std::uint64_t> news_{0};
    std::unique_ptr<IUpdateLog> updateLog_;
    std::string settingsPath_;
    std::string defaultLogPath_;
    SUpdateLogSetting logSetting_;
};

inline constexpr int kDemoPollMs = 100;
// The program's settings of the update log (environment variables, as CRENOVIX_SIMULATE).
inline constexpr const char* kUpdateLogSetting = "CRENOVIX_UPDATE_LOG";
inline constexpr const char* kNoUpdateLogSetting = "CRENOVIX_NO_UPDATE_LOG";

// `simulate`: the value of CRENOVIX_SIMULATE; nullptr or empty for the devices of `system`,
// otherwise the demo desk over it. `seed` seeds the start frame's nonces. nullptr with `error` set
// when the list of demo chargers is not understood.
std::unique_ptr<CProgramServices> CreateProgramServices(std::unique_ptr<IPlatform> system,
                                                        const char* simulate, std::string& error,
                                                        std::uint32_t seed);

// A front end's maker of its services: its system's devices, or the demo desk (see above).
using ProgramServicesFactory = std::function<std::unique_ptr<CProgramServices>(
    const char* simulate, std::string& error, std::uint32_t seed)>;

struct SProgramStart {
    std::unique_ptr<CSingleInstanceLock> lock;  // held while the program runs
    std::unique_ptr<CProgramServices> services; // nullptr: end the program with exitCode
    int exitCode = 0;
};

// The start before any window, the same for every front end: one copy per application name (a
// second start shows kAlreadyRunningText and ends), the registration switches end at once, then
// the services (`simulate`: the value of CRENOVIX_SIMULATE; a list that is not understood shows
// "CRENOVIX_SIMULATE: " and the reason, and ends with 1). `warn(title, text)` shows a warning box
// titled with the product name (kProductName); after the second start's box the running copy is
// asked to come to the front.
SProgramStart StartProgram(const std::string& name, std::span<const std::string> arguments,
                           const char* simulate, std::uint32_t seed,
                           const ProgramServicesFactory& createServices,
                           const std::function<void(const std::string&, const std::string&)>& warn);

} // namespace crenovix
