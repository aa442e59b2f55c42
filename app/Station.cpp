#include "app/Station.h"

#include "app/RunAbort.h"
#include "app/RunTable.h"
#include "device/SerialEnumeration.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace crenovix {

namespace {

constexpr std::uint32_t kWaitSliceMs = 10;
// A charger missing from its run's first listing is looked for this often, this far apart.
constexpr int kFindAgainLooks = 10;
constexpr std::uint32_t kFindAgainWaitMs = 200;
constexpr const char* kAbortedText =
    "Update aborted; the port is closed. The charger may be left in its boot loader: update it "
    "again to recover it.";
constexpr const char* kFileEmptyText = "The file is empty.";

bool IsHid(const SDeviceEntry& row) {
    return row.strPort.starts_with("HID");
}

bool IsCharger(const SDeviceEntry& row) {
    return !(row.strType == "COMx" && row.strSerial.empty());
}

// What the row says of a run's ending: the box's text, else the error line's.
std::string RunTextOf(const SRunResult& result) {
    if (result.outcome == ERunOutcome::Aborted) {
        return kAbortedText;
    }
    if (result.bBox) {
        return result.boxText;
    }
    if (!result.errorLine.empty()) {
        return result.errorLine;
    }
    return result.outcome == ERunOutcome::FileEmpty ? kFileEmptyText : "";
}

// The run's text, and after it a record that could not be written: the row is where a station's
// user looks, and the update's own result stands whatever became of its record.
std::string ResultTextOf(const SRunResult& result) {
    std::string text = RunTextOf(result);
    if (!result.logError.empty()) {
        text.append(text.empty() ? "" : "; ").append(result.logError);
    }
    return text;
}

} // namespace

const char* StationStateText(EStationState state) {
    switch (state) {
    case EStationState::Waiting:
        return "waiting";
    case EStationState::Updating:
        return "updating";
    case EStationState::Done:
        return "done";
    case EStationState::Failed:
        return "failed";
    case EStationState::Refused:
        return "refused";
    case EStationState::Unplugged:
        return "unplugged";
    }
    return "";
}

struct CStation::SImpl {
    // A unit and what the identity rules need to know of it.
    struct SUnit {
        SStationRow row;
        bool present = true;
        bool bySerial = true;    // its run finds it again by type and serial number
        bool handled = false;    // Automatic has started its run
        bool queued = false;     // to run once no other run of its serial number is under way
        bool restarting = false; // away in its restart after a success
        bool finishing = false;  // its run has ended and is being told
        std::optional<std::uint32_t> successAt;
        std::uint32_t leftAt = 0;
        std::uint32_t runStart = 0;
    };

    explicit SImpl(SStationServices s) : services(std::move(s)) {}

    SUnit* Find(std::uint64_t id) {
        for (SUnit& unit : units) {
            if (unit.row.id == id) {
                return &unit;
            }
        }
        return nullptr;
    }

    void Notify() {
        if (services.observer != nullptr) {
            services.observer->OnStationChanged();
        }
    }

    // Whether another run of the same charger type and serial number is under way: units that
    // share a serial number are found again by port, and never two of them wait in their boot
    // loaders at once.
    bool LaneBusy(const SUnit& unit) const {
        return std::any_of(units.begin(), units.end(), [&](const SUnit& other) {
            return &other != &unit && other.row.state == EStationState::Updating &&
                   other.row.device.strType == unit.row.device.strType &&
                   other.row.device.strSerial == unit.row.device.strSerial;
        });
    }

    // Starts the unit's run (the lock held), or queues it behind its lane.
    bool StartLocked(SUnit& unit) {
        if (stopping || !file.bValid || !unit.present || unit.finishing ||
            unit.row.state == EStationState::Updating ||
            unit.row.state == EStationState::Unplugged) {
            return false;
        }
        if (!unit.bySerial && LaneBusy(unit)) {
            unit.queued = true;
            return true;
        }
        unit.queued = false;
        unit.row.state = EStationState::Updating;
        unit.row.percent = 0;
        unit.row.status.clear();
        unit.row.resultText.clear();
        unit.row.elapsedMs = 0;
        ++unit.row.runs;
        unit.runStart = services.clock.TickCount();
        unit.successAt.reset();
        unit.restarting = false;
        ++running;
        const std::uint64_t id = unit.row.id;
        const std::uint64_t key = ++runsStarted;
        const std::uint32_t seed =
            (services.nonceSeed ? services.nonceSeed() : 1u) + static_cast<std::uint32_t>(key);
        workers.emplace(key, std::thread([this, id, seed, key] { Run(id, seed, key); }));
        return true;
    }

    void StartQueuedLocked() {
        for (SUnit& unit : units) {
            if (unit.queued && unit.row.state != EStationState::Updating) {
                StartLocked(unit);
            }
        }
    }

    // Joins the runs that have ended (the lock held).
    void ReapLocked() {
        for (const std::uint64_t key : ended) {
            const auto worker = workers.find(key);
            if (worker != workers.end()) {
                worker->second.join();
                workers.erase(worker);
            }
        }
        ended.clear();
    }

    void Run(std::uint64_t id, std::uint32_t seed, std::uint64_t key);

    // A run's events: the row's status and progress, and the front end's own observer.
    class CRunObserver final : public IRunObserver {
    public:
        CRunObserver(SImpl& impl, std::uint64_t id, IRunObserver* extra,
                     std::function<void()> onDispatch)
            : impl_(impl), id_(id), extra_(extra), onDispatch_(std::move(onDispatch)) {}

        void SetUpdateEnabled(bool enabled) override {
            Pass(&IRunObserver::SetUpdateEnabled, enabled);
        }
        void SetStatusText(const std::string& text) override {
            Change([&](SStationRow& row) {
                row.status = text;
                return true;
            });
            Pass(&IRunObserver::SetStatusText, text);
        }
        void ShowStatus(bool shown) override { Pass(&IRunObserver::ShowStatus, shown); }
        void SetProgressRange(std::uint16_t upper) override {
            upper_ = upper;
            Pass(&IRunObserver::SetProgressRange, upper);
        }
        void SetProgressPos(int position) override {
            const int percent =
                upper_ == 0 ? 0 : std::clamp(position * 100 / static_cast<int>(upper_), 0, 100);
            Change([&](SStationRow& row) {
                const bool changed = row.percent != percent;
                row.percent = percent;
                return changed;
            });
            Pass(&IRunObserver::SetProgressPos, position);
        }
        void ShowProgress(bool shown) override { Pass(&IRunObserver::ShowProgress, shown); }
        void ResetFileInfo(const std::string& errorText) override {
            Pass(&IRunObserver::ResetFileInfo, errorText);
        }
        bool DispatchPendingMessages() override {
            if (onDispatch_) {
                onDispatch_();
            }
            return extra_ == nullptr || extra_->DispatchPendingMessages();
        }

    private:
        // The event to the front end's own observer too.
        template <typename Event, typename... Args>
        void Pass(Event event, const Args&... args) {
            if (extra_ != nullptr) {
                (extra_->*event)(args...);
            }
        }
        template <typename Edit>
        void Change(Edit edit) {
            bool changed = false;
            {
                const std::lock_guard lock(impl_.mutex);
                if (SUnit* unit = impl_.Find(id_)) {
                    changed = edit(unit->row);
                }
            }
            if (changed) {
                impl_.Notify();
            }
        }

        SImpl& impl_;
        std::uint64_t id_;
        IRunObserver* extra_;
        std::function<void()> onDispatch_;
        std::uint16_t upper_ = 0;
    };

    SStationServices services;
    CUpdateImageCache images; // the chosen file deciphered once for all its runs
    mutable std::mutex mutex;
    SStationFile file;
    bool automatic = false;
    bool stopping = false;
    CAbortFlag abort;
    std::vector<SUnit> units;
    std::uint64_t nextId = 1;
    SStationCounters counters;
    std::map<std::uint64_t, std::thread> workers; // by run number
    std::vector<std::uint64_t> ended;             // runs that have ended, to be joined
    int running = 0;
    std::uint64_t runsStarted = 0;
};

void CStation::SImpl::Run(std::uint64_t id, std::uint32_t seed, std::uint64_t key) {
    SDeviceEntry target;
    bool bySerial = true;
    std::string path;
    {
        const std::lock_guard lock(mutex);
        const SUnit& unit = *Find(id);
        target = unit.row.device;
        bySerial = unit.bySerial;
        path = file.path;
    }
    SRunResult result;
    result.target = target;
    IRunObserver* extra = nullptr;
    if (services.observer != nullptr) {
        SStationRow row;
        {
            const std::lock_guard lock(mutex);
            row = Find(id)->row;
        }
        extra = services.observer->OnRunStarted(row);
    }
    // A run that throws (out of memory, say) is a failed run, never the end of the others.
    try {
        const std::unique_ptr<IStationRunDevices> devices = services.openRunDevices();
        SDeviceListState table;
        CTargetFirst enumerator(devices->Enumerator(), target, bySerial);
        // News taken before the table is filled, never after: a change between the two (another
        // run's charger restarting) must reach this run's next look.
        devices->TakeDevicesChanged();
        int row = FillRunTable(table, enumerator, target, bySerial, false);
        // A charger can be missing from one listing as its run starts (a listing that failed
        // while others restart): it is looked for again, bounded, before it counts as gone.
        for (int look = 0; row < 0 && look < kFindAgainLooks && !abort.Aborted(); ++look) {
            services.clock.Sleep(kFindAgainWaitMs);
            devices->TakeDevicesChanged();
            row = FillRunTable(table, enumerator, target, bySerial, false);
        }
        CRunObserver observer(*this, id, extra, [&] {
            if (devices->TakeDevicesChanged()) {
                RefillTable(table, enumerator, false);
            }
        });
        CAbortableClock clock(services.clock, abort);
        CAbortablePorts ports(devices->Ports(), abort);
        CNonceGenerator nonces(seed);
        auto image = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
        SRunJob job{observer, clock, ports, table,    nonces,
                    *image,   path,  row,   bySerial, services.log};
        // What only the station knows, settled before the run is recorded.
        job.images = &images;
        job.relist = [&] { RefillTable(table, enumerator, false); };
        job.conclude = [&](SRunResult& ended) {
            if (abort.Aborted() && !ended.Ok()) {
                ended.outcome = ERunOutcome::Aborted;
            }
            // Where the charger can be asked, a success is one only when it holds exactly the
            // file's payload: the run's own charger, by its serial number where no other shares
            // it, as others' restarts may have moved a neighbour to the port it started at.
            if (ended.Ok()) {
                SettleStoredPayload(
                    ended,
                    devices->StoredPayloadIs(target.strPort, target.strSerial, PayloadOf(*image)));
            }
        };
        if (row < 0) {
            // A charger no longer listed where it was (another took its position) is not
            // written.
            result = RunEnding(ERunOutcome::DeviceNotFound, IsHid(target));
            job.conclude(result);
        } else {
            result = RunUpdate(job);
        }
    } catch (const std::exception& error) {
        result = RunEnding(ERunOutcome::FileCannotOpen, false);
        result.target = target;
        result.bBox = true;
        result.boxText = std::string("Run failed: ") + error.what();
    }

    SStationRow endedRow;
    {
        const std::lock_guard lock(mutex);
        SUnit& unit = *Find(id);
        SStationRow& row = unit.row;
        const std::uint32_t now = services.clock.TickCount();
        row.elapsedMs = now - unit.runStart;
        row.resultText = ResultTextOf(result);
        row.status.clear();
        if (result.Ok()) {
            row.state = EStationState::Done;
            row.percent = 100;
            ++counters.updated;
            // The charger now restarts into its new firmware.
            unit.successAt = now;
        } else {
            row.state = result.outcome == ERunOutcome::Inconformity ? EStationState::Refused
                                                                    : EStationState::Failed;
            ++counters.failed;
        }
        if (!unit.present) {
            // Away when its run ended (the restart into the new firmware, or the boot loader's
            // after a failure): its return is the same unit.
            unit.restarting = true;
            unit.leftAt = now;
            unit.successAt.reset();
        }
        unit.finishing = true;
        endedRow = row;
    }
    Notify();
    if (services.observer != nullptr) {
        services.observer->OnRunEnded(endedRow, result);
    }
    {
        const std::lock_guard lock(mutex);
        Find(id)->finishing = false;
        StartQueuedLocked();
        --running;
        ended.push_back(key);
    }
}

CStation::CStation(SStationServices services)
    : impl_(std::make_unique<SImpl>(std::move(services))) {}

CStation::~CStation() {
    Abort();
    std::map<std::uint64_t, std::thread> workers;
    {
        const std::lock_guard lock(impl_->mutex);
        workers.swap(impl_->workers);
    }
    for (auto& [id, worker] : workers) {
        worker.join(); // aborted runs end through their failure paths, whose waits are bounded
    }
}

bool CStation::ChooseFile(const std::string& path) {
    auto header = std::make_unique<std::array<std::uint8_t, kUpdateImageSize>>();
    const ELoadOutcome outcome = LoadUpdateHeader(path, *header).outcome;
    SStationFile chosen;
    chosen.path = path;
    chosen.bValid = outcome == ELoadOutcome::Loaded;
    if (chosen.bValid) {
        const SUpdateHeader fields = ReadUpdateHeader(*header);
        chosen.version = fields.szVersion;
        chosen.type = fields.szType;
        chosen.deviceCode = fields.byDeviceCode;
    } else {
        chosen.errorText = std::string(LoadOutcomeText(outcome));
    }
    {
        const std::lock_guard lock(impl_->mutex);
        if (impl_->running > 0) {
            return false; // the runs load the file by its path
        }
        impl_->file = std::move(chosen);
    }
    impl_->Notify();
    return true;
}

SStationFile CStation::File() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->file;
}

std::optional<std::string> CStation::OnDevicesChanged() {
    std::vector<SDeviceEntry> listed;
    try {
        for (SListedRow& row : ListRows(impl_->services.enumerator, false)) {
            if (IsCharger(row.entry) &&
                (!impl_->services.accepts || impl_->services.accepts(row.entry))) {
                listed.push_back(std::move(row.entry));
            }
        }
    } catch (const CEnumerationError& error) {
        return std::string(error.what());
    }
    // Chargers of one type that share a serial number (or have none) are told apart by port.
    std::map<std::pair<std::string, std::string>, int> sharing;
    for (const SDeviceEntry& entry : listed) {
        ++sharing[{entry.strType, entry.strSerial}];
    }
    const auto byPort = [&](const SDeviceEntry& entry) {
        return entry.strSerial.empty() || sharing[{entry.strType, entry.strSerial}] > 1;
    };

    using SUnit = SImpl::SUnit;
    {
        const std::lock_guard lock(impl_->mutex);
        SImpl& impl = *impl_;
        const std::uint32_t now = impl.services.clock.TickCount();
        std::vector<bool> matched(impl.units.size(), false);
        std::vector<SDeviceEntry> fresh;
        for (const SDeviceEntry& entry : listed) {
            const bool port = byPort(entry);
            const auto same = [&](const SUnit& unit) {
                const SDeviceEntry& known = unit.row.device;
                if (unit.row.state == EStationState::Unplugged || known.strType != entry.strType ||
                    known.strSerial != entry.strSerial) {
                    return false;
                }
                // A unit away in its restart comes back wherever it comes back.
                return !port || known.strPort == entry.strPort || unit.restarting ||
                       unit.row.state == EStationState::Updating;
            };
            std::size_t found = impl.units.size();
            // A unit at this very port first, then one that may have moved.
            for (std::size_t i = 0; i < impl.units.size(); ++i) {
                if (!matched[i] && same(impl.units[i]) &&
                    (found == impl.units.size() ||
                     impl.units[i].row.device.strPort == entry.strPort)) {
                    found = i;
                }
            }
            if (found == impl.units.size()) {
                fresh.push_back(entry);
                continue;
            }
            matched[found] = true;
            SUnit& unit = impl.units[found];
            if (!unit.present && !unit.restarting && unit.row.state != EStationState::Updating) {
                // It left other than in its restart: plugged back, a new unit.
                unit.row.state = EStationState::Unplugged;
                fresh.push_back(entry);
                continue;
            }
            if (unit.restarting && now - unit.leftAt > CStation::kRestartReturnMs) {
                unit.row.state = EStationState::Unplugged; // away too long for a restart
                fresh.push_back(entry);
                continue;
            }
            unit.present = true;
            unit.restarting = false;
            unit.row.device.strPort = entry.strPort;
            unit.row.device.nHidIndex = entry.nHidIndex;
            unit.bySerial = !port;
        }
        for (std::size_t i = 0; i < matched.size(); ++i) {
            SUnit& unit = impl.units[i];
            if (matched[i] || unit.row.state == EStationState::Unplugged) {
                continue;
            }
            if (unit.row.state == EStationState::Updating) {
                unit.present = false; // the run's own business: it finds its charger again
                continue;
            }
            if (unit.present && unit.successAt &&
                now - *unit.successAt <= CStation::kRestartStartMs) {
                unit.present = false; // its restart into the new firmware
                unit.restarting = true;
                unit.leftAt = now;
                unit.successAt.reset(); // one restart per success
                continue;
            }
            if (unit.restarting && now - unit.leftAt <= CStation::kRestartReturnMs) {
                continue;
            }
            unit.present = false;
            unit.restarting = false;
            unit.queued = false;
            unit.row.state = EStationState::Unplugged;
        }
        for (const SDeviceEntry& entry : fresh) {
            // While a run of a charger of this type and serial number (or without one) is under
            // way and its charger is away, a charger that looks like it is that one in its boot
            // loader, not a new unit.
            const bool runsAway = std::any_of(impl.units.begin(), impl.units.end(), [&](auto& u) {
                return u.row.state == EStationState::Updating && !u.present &&
                       u.row.device.strType == entry.strType &&
                       u.row.device.strSerial == entry.strSerial;
            });
            if (runsAway) {
                continue;
            }
            SUnit unit;
            unit.row.id = impl.nextId++;
            unit.row.device = entry;
            unit.bySerial = !byPort(entry);
            impl.units.push_back(std::move(unit));
        }
        if (impl.automatic) {
            for (SUnit& unit : impl.units) {
                if (!unit.handled && unit.present && unit.row.state == EStationState::Waiting) {
                    unit.handled = impl.StartLocked(unit);
                }
            }
        }
        impl.ReapLocked();
    }
    impl_->Notify();
    return std::nullopt;
}

bool CStation::UpdateAll() {
    bool started = false;
    {
        const std::lock_guard lock(impl_->mutex);
        for (SImpl::SUnit& unit : impl_->units) {
            if (impl_->StartLocked(unit)) {
                unit.handled = true;
                started = true;
            }
        }
        impl_->ReapLocked();
    }
    impl_->Notify();
    return started;
}

bool CStation::UpdateRow(std::uint64_t id) {
    bool started = false;
    {
        const std::lock_guard lock(impl_->mutex);
        if (SImpl::SUnit* unit = impl_->Find(id)) {
            started = impl_->StartLocked(*unit);
            unit->handled = unit->handled || started;
        }
        impl_->ReapLocked();
    }
    impl_->Notify();
    return started;
}

void CStation::SetAutomatic(bool on) {
    {
        const std::lock_guard lock(impl_->mutex);
        impl_->automatic = on && !impl_->stopping;
        if (impl_->automatic) {
            for (SImpl::SUnit& unit : impl_->units) {
                if (!unit.handled && unit.row.state == EStationState::Waiting) {
                    unit.handled = impl_->StartLocked(unit);
                }
            }
        }
    }
    impl_->Notify();
}

bool CStation::Automatic() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->automatic;
}

std::vector<SStationRow> CStation::Rows() const {
    const std::lock_guard lock(impl_->mutex);
    const std::uint32_t now = impl_->services.clock.TickCount();
    std::vector<SStationRow> rows;
    rows.reserve(impl_->units.size());
    for (const SImpl::SUnit& unit : impl_->units) {
        rows.push_back(unit.row);
        if (unit.row.state == EStationState::Updating) {
            rows.back().elapsedMs = now - unit.runStart;
        }
    }
    return rows;
}

SStationCounters CStation::Counters() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->counters;
}

bool CStation::Busy() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->running > 0;
}

void CStation::Stop() {
    {
        const std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
        impl_->automatic = false;
        for (SImpl::SUnit& unit : impl_->units) {
            unit.queued = false;
        }
    }
    impl_->Notify();
}

void CStation::Abort() {
    Stop();
    impl_->abort.Set();
}

bool CStation::Wait(std::uint32_t timeoutMs) {
    IClock& clock = impl_->services.clock;
    const std::uint32_t start = clock.TickCount();
    for (;;) {
        {
            const std::lock_guard lock(impl_->mutex);
            if (impl_->running == 0) {
                impl_->ReapLocked();
                return true;
            }
        }
        if (clock.TickCount() - start >= timeoutMs) {
            return false;
        }
        clock.Sleep(kWaitSliceMs);
    }
}

} // namespace crenovix
