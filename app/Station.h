// CStation: the service centre's station, which updates chargers by the box. One row per unit
// (a charger as plugged in), one update file chosen for the whole station, runs of their own
// started at once ("Update all") or for every unit that appears ("Automatic").
//
// Portable, without a toolkit: the Qt and the Windows station views and `crenovix-cli update
// --watch` drive it. A view calls OnDevicesChanged on its window's thread whenever its device
// notices say so (a udev notice, WM_DEVICECHANGE, the demo desk's poll); the station lists the
// devices through the services' enumerator on that thread and starts runs on worker threads of
// their own. Whatever a run changes is told through IStationObserver::OnStationChanged, from the
// run's thread: the view posts to its window's thread and pulls Rows(), Counters() and File()
// there. No call of the station waits for a charger, but Wait (bounded) and the destructor.
//
// Identity (device/DeviceTable.h SameCharger, device/ChargerIdentity.h): a unit is its type and
// serial number, or its type and port when it has no serial number or shares it with another
// charger listed at the same time. A row stays with its unit: a HID charger that restarts into
// its boot loader and comes back under another port name keeps its row, and so does one that
// restarts into its new firmware after a success.
//
// Restart or replug: a unit's own restarts are told from an unplug by when they happen.
//  - During its run, the unit's row is the run's: whatever the listing shows of it, the row
//    stays "updating" and the run finds it again (by type and serial number, across ports).
//  - After a success the unit restarts once into its new firmware. Leaving within
//    kRestartStartMs of the success and coming back within kRestartReturnMs of leaving is that
//    restart: the row stays "done" and the unit is not updated again.
//  - Any other leaving makes the row "unplugged"; the unit that then comes back is a new unit:
//    its row becomes "waiting" (with Automatic on, it is updated again).
// Automatic updates each unit once: a unit that stays plugged is not updated again, whatever
// its run's result; "Update all" updates every listed unit that is not being updated.
//
// Never a false success: a row is "done" only after the dialogue's success and, where the
// run's devices can tell (simulated chargers), a stored payload equal to the file's. A charger
// that refuses the file (its "5" to the boot request, ERunOutcome::Inconformity) is "refused",
// with the dialogue's message; nothing of the payload was written to it.
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "protocol/UpdateRun.h"
#include "protocol/UpdateWindow.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace crenovix {

enum class EStationState {
    Waiting,   // listed, not updated since it was plugged in (or "Update all" has not reached it)
    Updating,  // its run is under way
    Done,      // its last run succeeded
    Failed,    // its last run failed (resultText says why)
    Refused,   // the charger refused the file at the boot request; nothing was written
    Unplugged, // no longer listed; a unit plugged back is a new unit
};

// The word a view shows for a state: "waiting", "updating", "done", "failed", "refused",
// "unplugged".
const char* StationStateText(EStationState state);

// One unit, as a view shows it.
struct SStationRow {
    std::uint64_t id = 0; // the row's key for views; a unit plugged back gets a new one
    SDeviceEntry device;  // type, serial number and the port it was listed at last
    EStationState state = EStationState::Waiting;
    int percent = 0;             // of the current or last run, 0..100
    std::string status;          // the run's status line while it runs ("Connecting...")
    std::string resultText;      // the last run's box text, else its error line
    std::uint32_t elapsedMs = 0; // of the current run so far, or of the last run
    int runs = 0;                // runs this unit has had
};

// The station's file, as a view shows it.
struct SStationFile {
    bool bValid = false;
    std::string path;
    std::string version;
    std::string type;
    std::uint8_t deviceCode = 0;
    std::string errorText; // why the file cannot be used ("File format error!"); empty when valid
};

struct SStationCounters {
    int updated = 0; // runs that succeeded
    int failed = 0;  // runs that failed, refusals included
};

// What one run is given of the devices: an enumeration and a port opener of its own, for that
// run's life and its thread alone.
class IStationRunDevices {
public:
    virtual ~IStationRunDevices() = default;
    virtual IDeviceEnumerator& Enumerator() = 0;
    virtual IPortOpener& Ports() = 0;
    // Never blocks: whether devices may have changed since the last call (asked between blocks
    // and while the run waits for its charger).
    virtual bool TakeDevicesChanged() = 0;
    // Whether the charger (its serial number, else its port: IDevices::StoredPayloadIs) is known
    // to hold exactly `payload` after the run; nothing when these devices cannot be asked (the
    // machine's chargers).
    virtual std::optional<bool> StoredPayloadIs(const std::string& /*port*/,
                                                const std::string& /*serial*/,
                                                std::span<const std::uint8_t> /*payload*/) {
        return std::nullopt;
    }
};

// What the station tells. OnStationChanged and the run calls come from any thread (a run's
// worker, or the caller of the station's own calls); keep them short and never call back into
// the station from them but Rows(), Counters() and File().
class IStationObserver {
public:
    virtual ~IStationObserver() = default;
    // Rows, counters or file changed: post to the window's thread and pull them there.
    virtual void OnStationChanged() = 0;
    // On the run's thread before it starts: an observer that hears the run's events besides the
    // station (the command line prints them), or nullptr. It lives until OnRunEnded returns.
    virtual IRunObserver* OnRunStarted(const SStationRow& /*row*/) { return nullptr; }
    // On the run's thread after it ended: the row as it now stands and the run's result (its
    // outcome Aborted when Abort ended it).
    virtual void OnRunEnded(const SStationRow& /*row*/, const SRunResult& /*result*/) {}
};

struct SStationServices {
    // The station's listing, called on the thread that calls OnDevicesChanged.
    IDeviceEnumerator& enumerator;
    // A run's own devices, called on the run's thread as it starts.
    std::function<std::unique_ptr<IStationRunDevices>()> openRunDevices;
    // Every wait of every run and of Wait, and the rows' times.
    IClock& clock;
    // Seeds each run's nonces (the program: the time; tests: a constant).
    std::function<std::uint32_t()> nonceSeed;
    IStationObserver* observer = nullptr;
    // Which listed chargers are the station's (the command line's --serial); empty: all. Plain
    // serial ports never are.
    std::function<bool(const SDeviceEntry&)> accepts;
    // Where every run is recorded (protocol/UpdateLog.h), from any run's thread; nullptr: nowhere.
    IUpdateLog* log = nullptr;
};

class CStation {
public:
    // A restart after a success starts this soon after it, and ends this soon after it began.
    static constexpr std::uint32_t kRestartStartMs = 10'000;
    static constexpr std::uint32_t kRestartReturnMs = 30'000;

    explicit CStation(SStationServices services);
    // Aborts the runs under way and waits for them (each ends through its dialogue's own failure
    // path, which is bounded).
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    // Loads the station's file (its header into a buffer of the station's; each run loads the
    // file again by its path). Refused while runs are under way (false); true otherwise, whatever
    // the file: File() says whether it is valid.
    bool ChooseFile(const std::string& path);
    SStationFile File() const;

    // The device list changed (or may have): lists the devices on the caller's thread, updates
    // the rows as the identity rules say and, with Automatic on, starts the new units' runs. An
    // enumeration error is returned (the rows stay as they were), else nothing.
    std::optional<std::string> OnDevicesChanged();

    // Starts a run for every listed unit that is not being updated. False when nothing could
    // start (no valid file, stopping).
    bool UpdateAll();
    // Starts a run for the row `id` (when listed and not being updated).
    bool UpdateRow(std::uint64_t id);
    // While on, every unit that appears (and every waiting unit when it is turned on) is updated
    // once with the station's file.
    void SetAutomatic(bool on);
    bool Automatic() const;

    std::vector<SStationRow> Rows() const;
    SStationCounters Counters() const;
    bool Busy() const; // runs under way

    // No run starts any more (Automatic off, UpdateAll refused); runs under way go on.
    void Stop();
    // As Stop, and the runs under way end at once through their dialogues' failure paths (their
    // ports refuse, their waits end): the charger may be left in its boot loader.
    void Abort();
    // Waits until no run is under way, at most `timeoutMs` on the station's clock; true when
    // none is.
    bool Wait(std::uint32_t timeoutMs);

private:
    struct SImpl;
    std::unique_ptr<SImpl> impl_;
};

} // namespace crenovix
