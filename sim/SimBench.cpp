#include "sim/SimBench.h"

#include <algorithm>
#include <deque>

namespace crenovix::sim {

struct CSimBench::SSerialPort {
    std::string strName;
    std::string strDescription;
    CSimSerialCharger* charger = nullptr; // nullptr: nothing answers on this port
    bool bOpen = false;
    std::size_t seq = 0;
    std::optional<SSimSerialAdapter> adapter; // nothing: bytes cost only the link latency
};

// A present HID interface: a charger or another device.
struct CSimBench::SHidEntry {
    int order = 0;
    std::size_t seq = 0; // adding order, breaks ties between equal order keys
    CSimHidCharger* charger = nullptr;
    const SSimHidInterface* other = nullptr;
};

namespace {

constexpr std::uint32_t kErrorNoMoreItems = 259;
// What a USB serial charger's interface path carries between the port and the serial number.
constexpr const char* kUsbSerialIds = "0483&5740";

std::u16string Widen(const std::string& text) {
    std::u16string units;
    units.reserve(text.size());
    for (const char c : text) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return units;
}

class CSimScanDevice final : public IHidScanDevice {
public:
    CSimScanDevice(std::uint16_t vendorId, std::uint16_t productId, std::string product,
                   std::string serial, bool bAttributesReadable)
        : vendorId_(vendorId), productId_(productId), product_(std::move(product)),
          serial_(std::move(serial)), bAttributes_(bAttributesReadable) {}

    bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        if (!bAttributes_) {
            return false;
        }
        vendorId = vendorId_;
        productId = productId_;
        return true;
    }
    std::optional<std::u16string> GetProductString() override { return Widen(product_); }
    std::optional<std::u16string> GetSerialNumberString() override {
        if (serial_.empty()) {
            return std::nullopt;
        }
        return Widen(serial_);
    }

private:
    std::uint16_t vendorId_;
    std::uint16_t productId_;
    std::string product_;
    std::string serial_;
    bool bAttributes_;
};

// What a channel has received or has on its way: units (serial bytes, HID reports) in the order
// they reach the host, each with the clock time it does. A read takes only units that have
// arrived by the end of its wait; discarding input drops those that have arrived by now.
template <typename Unit>
class CArrivals {
public:
    void Add(std::uint32_t atMs, Unit unit) {
        // After everything due no later: a late answer takes its place among later arrivals.
        auto it = std::upper_bound(
            units_.begin(), units_.end(), atMs,
            [](std::uint32_t at, const SArrival& arrival) { return Before(at, arrival.atMs); });
        units_.insert(it, {atMs, std::move(unit)});
    }
    // When the n-th unit (1-based) arrives; nothing when fewer are on their way.
    std::optional<std::uint32_t> ArrivalOf(std::size_t n) const {
        if (n == 0 || units_.size() < n) {
            return std::nullopt;
        }
        return units_[n - 1].atMs;
    }
    Unit Take() {
        Unit unit = std::move(units_.front().unit);
        units_.pop_front();
        return unit;
    }
    // Drops what has arrived by `now`; true when anything was dropped.
    bool DropArrived(std::uint32_t now) {
        bool dropped = false;
        while (!units_.empty() && !Before(now, units_.front().atMs)) {
            units_.pop_front();
            dropped = true;
        }
        return dropped;
    }
    bool Empty() const { return units_.empty(); }

    // Whether tick `a` comes before tick `b` on the wrapping 32-bit tick counter.
    static bool Before(std::uint32_t a, std::uint32_t b) {
        return static_cast<std::int32_t>(a - b) < 0;
    }

private:
    struct SArrival {
        std::uint32_t atMs;
        Unit unit;
    };
    std::deque<SArrival> units_;
};

// Waits on the bench's clock until the n-th unit has arrived, at most `timeoutMs`; false (after
// the whole time-out) when it does not arrive in time.
template <typename Unit>
bool AwaitArrival(CSimBench& bench, const CArrivals<Unit>& arrivals, std::size_t n,
                  std::uint32_t timeoutMs) {
    const std::uint32_t now = bench.Clock().TickCount();
    const std::optional<std::uint32_t> at = arrivals.ArrivalOf(n);
    if (!at || CArrivals<Unit>::Before(now + timeoutMs, *at)) {
        bench.SleepUnlocked(timeoutMs);
        return false;
    }
    if (CArrivals<Unit>::Before(now, *at)) {
        bench.SleepUnlocked(*at - now);
    }
    return true;
}

class CSimHidChannel final : public IPortChannel {
public:
    CSimHidChannel(CSimBench& bench, CSimHidCharger* charger)
        : bench_(bench), charger_(charger), instance_(charger ? charger->Instance() : 0) {
        bench_.ChannelOpened();
    }
    ~CSimHidChannel() override { bench_.ChannelClosed(); }
    CSimHidChannel(const CSimHidChannel&) = delete;
    CSimHidChannel& operator=(const CSimHidChannel&) = delete;

    bool Write(std::span<const std::uint8_t> data) override {
        const std::lock_guard lock(bench_.Mutex());
        bench_.SleepUnlocked(bench_.HidLatency());
        if (data.size() != kHidReportSize) {
            return false;
        }
        if (charger_ == nullptr) {
            return true; // another device takes the report and says nothing
        }
        if (!Alive() || charger_->TakeWriteFailure()) {
            return false;
        }
        const std::uint32_t now = bench_.Clock().TickCount();
        if (std::optional<SimHidReport> reply = charger_->HandleReport(data)) {
            replies_.Add(now, *reply);
        }
        for (const SSimDelivery& delivery : charger_->TakeDeliveries()) {
            SimHidReport report{};
            std::copy_n(delivery.bytes.begin(), std::min(delivery.bytes.size(), report.size()),
                        report.begin());
            replies_.Add(now + delivery.dwDelayMs, report);
        }
        return true;
    }

    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        const std::lock_guard lock(bench_.Mutex());
        if (data.size() != kHidReportSize) {
            return EReadStatus::Failed;
        }
        if (charger_ != nullptr && charger_->TakeReadFailure()) {
            return EReadStatus::Failed;
        }
        // Reports the charger sent before it left are still in the system's queue.
        const bool alive = charger_ == nullptr || Alive();
        if (AwaitArrival(bench_, replies_, 1, alive ? timeoutMs : 0)) {
            bench_.SleepUnlocked(bench_.HidLatency());
            const SimHidReport report = replies_.Take();
            std::copy(report.begin(), report.end(), data.begin());
            return EReadStatus::Completed;
        }
        return alive ? EReadStatus::TimedOut : EReadStatus::Failed; // failed: device removed
    }

    bool DiscardInput() override {
        const std::lock_guard lock(bench_.Mutex());
        return replies_.DropArrived(bench_.Clock().TickCount());
    }

private:
    bool Alive() { return charger_->IsPresent() && charger_->Instance() == instance_; }

    CSimBench& bench_;
    CSimHidCharger* charger_;
    std::uint64_t instance_;
    CArrivals<SimHidReport> replies_;
};

// A serial port held open by a channel: the port refuses other opens and the bench counts the
// channel until it closes.
class CSerialPortClaim {
public:
    CSerialPortClaim(CSimBench& bench, CSimBench::SSerialPort& port) : bench_(bench), port_(port) {
        port_.bOpen = true;
        bench_.ChannelOpened();
    }
    ~CSerialPortClaim() {
        const std::lock_guard lock(bench_.Mutex());
        port_.bOpen = false;
        bench_.ChannelClosed();
    }
    CSerialPortClaim(const CSerialPortClaim&) = delete;
    CSerialPortClaim& operator=(const CSerialPortClaim&) = delete;

private:
    CSimBench& bench_;
    CSimBench::SSerialPort& port_;
};

// Hands one byte at `baud` to the charger and each byte it sends to `arrive(delayMs, n, byte)`:
// its answer (delay 0, n 1), then its deliveries, numbered from 1 within each. False when the
// charger has left.
template <typename Arrive>
bool ChargerTakes(CSimSerialCharger& charger, std::uint8_t byte, std::uint32_t baud,
                  Arrive&& arrive) {
    if (const std::optional<std::uint8_t> reply = charger.HandleByte(byte, baud)) {
        arrive(0, 1, *reply);
    }
    for (const SSimDelivery& delivery : charger.TakeDeliveries()) {
        std::size_t n = 0;
        for (const std::uint8_t sent : delivery.bytes) {
            arrive(delivery.dwDelayMs, ++n, sent);
        }
    }
    return !charger.IsGone();
}

class CSimSerialChannel final : public IPortChannel {
public:
    CSimSerialChannel(CSimBench& bench, CSimBench::SSerialPort& port, CSimSerialCharger* charger,
                      std::uint32_t baud)
        : bench_(bench), claim_(bench, port), charger_(charger), baud_(baud) {}

    bool Write(std::span<const std::uint8_t> data) override {
        const std::lock_guard lock(bench_.Mutex());
        if (charger_ == nullptr) {
            bench_.SleepUnlocked(bench_.SerialLatency() * static_cast<std::uint32_t>(data.size()));
            return true;
        }
        if (charger_->IsGone() || charger_->TakeWriteFailure()) {
            return false;
        }
        for (const std::uint8_t byte : data) {
            bench_.SleepUnlocked(bench_.SerialLatency());
            const std::uint32_t now = bench_.Clock().TickCount();
            if (!ChargerTakes(*charger_, byte, baud_,
                              [&](std::uint32_t delayMs, std::size_t, std::uint8_t sent) {
                                  received_.Add(now + delayMs, sent);
                              })) {
                return false;
            }
        }
        return true;
    }

    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        const std::lock_guard lock(bench_.Mutex());
        if (charger_ != nullptr && charger_->TakeReadFailure()) {
            return EReadStatus::Failed;
        }
        const bool gone = charger_ != nullptr && charger_->IsGone();
        if (AwaitArrival(bench_, received_, data.size(), gone ? 0 : timeoutMs)) {
            bench_.SleepUnlocked(bench_.SerialLatency() * static_cast<std::uint32_t>(data.size()));
            for (std::uint8_t& byte : data) {
                byte = received_.Take();
            }
            return EReadStatus::Completed;
        }
        if (gone) {
            return EReadStatus::Failed;
        }
        // A cancelled read loses what it had taken off the line; later bytes stay on their way.
        received_.DropArrived(bench_.Clock().TickCount());
        return EReadStatus::TimedOut;
    }

    bool DiscardInput() override {
        const std::lock_guard lock(bench_.Mutex());
        return received_.DropArrived(bench_.Clock().TickCount());
    }

private:
    CSimBench& bench_;
    CSerialPortClaim claim_;
    CSimSerialCharger* charger_;
    std::uint32_t baud_;
    CArrivals<std::uint8_t> received_;
};

// A serial port behind a USB serial bridge (SSimSerialAdapter): the link keeps its own time in
// ns and spends it on the bench's clock in whole milliseconds, carrying the rest over, so that
// 78 us bytes add up as on the wire. A write returns when its last byte has left the bridge, as
// a drained write does.
class CSimAdapterChannel final : public IPortChannel {
public:
    CSimAdapterChannel(CSimBench& bench, CSimBench::SSerialPort& port, std::uint32_t baud)
        : bench_(bench), claim_(bench, port), charger_(port.charger), baud_(baud),
          link_(*port.adapter), originTick_(bench.Clock().TickCount()) {}

    bool Write(std::span<const std::uint8_t> data) override {
        const std::lock_guard lock(bench_.Mutex());
        if (charger_ != nullptr && (charger_->IsGone() || charger_->TakeWriteFailure())) {
            return false;
        }
        const std::uint64_t byteNs = LineByteNs(baud_);
        const std::uint64_t onLineNs = NowNs() + link_.UsbFrameNs();
        for (std::size_t i = 0; i < data.size(); ++i) {
            const std::uint64_t sentNs = onLineNs + (i + 1) * byteNs;
            WaitUntil(sentNs);
            if (charger_ == nullptr) {
                continue;
            }
            // Each byte the charger sends takes its own line time after the delay.
            if (!ChargerTakes(*charger_, data[i], baud_,
                              [&](std::uint32_t delayMs, std::size_t n, std::uint8_t sent) {
                                  link_.FromCharger(sentNs + delayMs * 1'000'000ull + n * byteNs,
                                                    sent);
                              })) {
                return false;
            }
        }
        return true;
    }

    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        const std::lock_guard lock(bench_.Mutex());
        if (charger_ != nullptr && charger_->TakeReadFailure()) {
            return EReadStatus::Failed;
        }
        const bool gone = charger_ != nullptr && charger_->IsGone();
        const std::uint64_t deadlineNs =
            NowNs() + (gone ? 0 : std::uint64_t{timeoutMs} * 1'000'000);
        const std::optional<std::uint64_t> at = link_.ArrivalOf(data.size(), NowNs());
        if (at && *at <= deadlineNs) {
            WaitUntil(*at);
            link_.ArrivalOf(data.size(), NowNs()); // the bridge has sent them by now
            for (std::uint8_t& byte : data) {
                byte = link_.Take();
            }
            return EReadStatus::Completed;
        }
        WaitUntil(deadlineNs);
        if (gone) {
            return EReadStatus::Failed;
        }
        link_.DropArrived(NowNs()); // a cancelled read loses what it had taken off the line
        return EReadStatus::TimedOut;
    }

    bool DiscardInput() override {
        const std::lock_guard lock(bench_.Mutex());
        return link_.DropArrived(NowNs());
    }

private:
    // The link's time since the port opened: the clock's whole milliseconds and the carried rest.
    std::uint64_t NowNs() {
        const std::uint32_t ticks = bench_.Clock().TickCount() - originTick_;
        return std::uint64_t{ticks} * 1'000'000 + carryNs_;
    }
    void WaitUntil(std::uint64_t atNs) {
        const std::uint64_t nowNs = NowNs();
        if (atNs <= nowNs) {
            return;
        }
        const std::uint64_t sinceTickNs = atNs - (nowNs - carryNs_);
        bench_.SleepUnlocked(static_cast<std::uint32_t>(sinceTickNs / 1'000'000));
        carryNs_ = sinceTickNs % 1'000'000;
    }

    CSimBench& bench_;
    CSerialPortClaim claim_;
    CSimSerialCharger* charger_;
    std::uint32_t baud_;
    CSimAdapterLink link_;
    std::uint32_t originTick_;
    std::uint64_t carryNs_ = 0;
};

// A snapshot of the present ports, as the interface route walks them.
class CSimComInterfaceSet final : public ISerialPortList {
public:
    struct SEntry {
        std::string strPath;
        std::string strFriendly;
        std::string strDesc;
        std::optional<std::string> busDesc; // nothing: a plain port has no bus description
    };

    explicit CSimComInterfaceSet(std::vector<SEntry> entries) : entries_(std::move(entries)) {}

    EEnum EnumPort(int position, std::uint32_t& lastError) override {
        if (Find(position) == nullptr) {
            lastError = kErrorNoMoreItems;
            return EEnum::NoMoreItems;
        }
        return EEnum::Ok;
    }
    bool GetPortPath(int position, std::string& path, std::uint32_t& lastError) override {
        const SEntry* entry = Find(position);
        if (entry == nullptr) {
            lastError = kErrorNoMoreItems;
            return false;
        }
        path = entry->strPath;
        return true;
    }
    std::optional<std::string> GetPortText(int position, EPortText text) override {
        const SEntry* entry = Find(position);
        if (entry == nullptr) {
            return std::nullopt;
        }
        switch (text) {
        case EPortText::FriendlyName:
            return entry->strFriendly;
        case EPortText::Description:
            return entry->strDesc;
        case EPortText::Location:
            return entry->busDesc; // USB serial drivers put the product name there
        }
        return std::nullopt;
    }
    std::optional<std::string> GetBusDescription(int position) override {
        const SEntry* entry = Find(position);
        if (entry == nullptr) {
            return std::nullopt;
        }
        return entry->busDesc.value_or(std::string());
    }

private:
    const SEntry* Find(int position) const {
        if (position < 0 || static_cast<std::size_t>(position) >= entries_.size()) {
            return nullptr;
        }
        return &entries_[static_cast<std::size_t>(position)];
    }

    std::vector<SEntry> entries_;
};

std::string PortOfPath(const std::string& path) {
    return path.substr(0, path.find('#'));
}

} // namespace

CSimBench::CSimBench(IClock& clock) : clock_(clock) {}

CSimBench::~CSimBench() = default;

CSimHidCharger& CSimBench::AddHidCharger(SSimHidConfig config) {
    const std::lock_guard lock(mutex_);
    hidChargers_.push_back(std::make_unique<CSimHidCharger>(clock_, std::move(config)));
    return *hidChargers_.back();
}

CSimSerialCharger& CSimBench::AddSerialCharger(SSimSerialConfig config) {
    const std::lock_guard lock(mutex_);
    if (config.strDescription.empty()) {
        config.strDescription = config.bUsb ? "USB Serial Device" : "Communications Port";
    }
    serialChargers_.push_back(std::make_unique<CSimSerialCharger>(clock_, config));
    auto port = std::make_unique<SSerialPort>();
    port->strName = config.identity.strPortName;
    port->strDescription = config.strDescription;
    port->charger = serialChargers_.back().get();
    port->seq = serialPorts_.size();
    serialPorts_.push_back(std::move(port));
    return *serialChargers_.back();
}

void CSimBench::AddHidInterface(SSimHidInterface device) {
    const std::lock_guard lock(mutex_);
    hidOthers_.push_back(std::move(device));
}

void CSimBench::AddSerialPort(std::string portName, std::string description) {
    const std::lock_guard lock(mutex_);
    auto port = std::make_unique<SSerialPort>();
    port->strName = std::move(portName);
    port->strDescription = std::move(description);
    port->seq = serialPorts_.size();
    serialPorts_.push_back(std::move(port));
}

void CSimBench::SetLinkLatency(std::uint32_t msPerHidReport, std::uint32_t msPerSerialByte) {
    const std::lock_guard lock(mutex_);
    hidLatencyMs_ = msPerHidReport;
    serialLatencyMs_ = msPerSerialByte;
}

void CSimBench::SetSerialAdapter(const std::string& portName, SSimSerialAdapter adapter) {
    const std::lock_guard lock(mutex_);
    if (SSerialPort* port = FindPort(portName)) {
        port->adapter = adapter;
    }
}

std::optional<std::uint32_t> CSimBench::LatencyTimerMs(const std::string& portName) {
    const std::lock_guard lock(mutex_);
    const SSerialPort* port = FindPort(portName);
    if (port == nullptr || !port->adapter) {
        return std::nullopt;
    }
    return port->adapter->dwLatencyTimerMs;
}

std::vector<CSimBench::SHidEntry> CSimBench::PresentHid() {
    std::vector<SHidEntry> present;
    std::size_t seq = 0;
    for (const SSimHidInterface& other : hidOthers_) {
        present.push_back({other.nOrder, seq++, nullptr, &other});
    }
    for (const auto& charger : hidChargers_) {
        const std::size_t chargerSeq = seq++;
        if (charger->IsPresent()) {
            present.push_back({charger->Order(), chargerSeq, charger.get(), nullptr});
        }
    }
    std::sort(present.begin(), present.end(), [](const SHidEntry& a, const SHidEntry& b) {
        return a.order != b.order ? a.order < b.order : a.seq < b.seq;
    });
    return present;
}

CSimHidCharger* CSimBench::HidChargerAt(int position) {
    const std::lock_guard lock(mutex_);
    const std::vector<SHidEntry> present = PresentHid();
    if (position < 0 || static_cast<std::size_t>(position) >= present.size()) {
        return nullptr;
    }
    return present[static_cast<std::size_t>(position)].charger;
}

bool CSimBench::IsPresent(const SSerialPort& port) {
    return port.charger == nullptr || !port.charger->IsGone();
}

CSimBench::SSerialPort* CSimBench::FindPort(const std::string& pathOrName) {
    const std::string name = PortOfPath(pathOrName);
    for (const auto& port : serialPorts_) {
        if (port->strName == name) {
            return port.get();
        }
    }
    return nullptr;
}

bool CSimBench::TakeDevicesChanged() {
    const std::lock_guard lock(mutex_);
    // Each present interface by who it is and which instance, so a charger that left and came
    // back counts as a change even at the same position.
    std::vector<std::uint64_t> presence;
    for (const SHidEntry& entry : PresentHid()) {
        presence.push_back(entry.seq);
        presence.push_back(entry.charger ? entry.charger->Instance() : 0);
    }
    presence.push_back(~std::uint64_t{0}); // separates the two kinds
    for (const auto& port : serialPorts_) {
        if (IsPresent(*port)) {
            presence.push_back(port->seq);
        }
    }
    const bool bChanged = presence != lastPresence_;
    lastPresence_ = std::move(presence);
    return bChanged;
}

std::optional<std::string> CSimBench::SerialPathFor(const std::string& portName) {
    const std::lock_guard lock(mutex_);
    const SSerialPort* port = FindPort(portName);
    if (port == nullptr || port->strName != portName) {
        return std::nullopt;
    }
    return port->strName;
}

std::unique_ptr<IPortChannel> CSimBench::OpenSerial(const std::string& path, std::uint32_t baud) {
    const std::lock_guard lock(mutex_);
    SSerialPort* port = FindPort(path);
    const bool bOpened = port != nullptr && IsPresent(*port) && !port->bOpen && baud != 0;
    opens_.push_back({false, path, baud, clock_.TickCount(), bOpened});
    if (!bOpened) {
        return nullptr;
    }
    if (port->adapter) {
        return std::make_unique<CSimAdapterChannel>(*this, *port, baud);
    }
    return std::make_unique<CSimSerialChannel>(*this, *port, port->charger, baud);
}

std::unique_ptr<IPortChannel> CSimBench::OpenHid(int position) {
    const std::lock_guard lock(mutex_);
    const std::vector<SHidEntry> present = PresentHid();
    const bool bExists = position >= 0 && static_cast<std::size_t>(position) < present.size();
    const SHidEntry* entry = bExists ? &present[static_cast<std::size_t>(position)] : nullptr;
    const bool bOpened = entry != nullptr && (entry->charger || entry->other->bOpenable);
    opens_.push_back({true, "HID" + std::to_string(position), 0, clock_.TickCount(), bOpened});
    if (!bOpened) {
        return nullptr;
    }
    return std::make_unique<CSimHidChannel>(*this, entry->charger);
}

EHidScanOpen CSimBench::OpenHidForScan(int position, std::unique_ptr<IHidScanDevice>& device) {
    const std::lock_guard lock(mutex_);
    const std::vector<SHidEntry> present = PresentHid();
    if (position < 0 || static_cast<std::size_t>(position) >= present.size()) {
        return EHidScanOpen::NoInterface;
    }
    const SHidEntry& entry = present[static_cast<std::size_t>(position)];
    if (entry.charger != nullptr) {
        const SSimHidConfig& config = entry.charger->Config();
        device = std::make_unique<CSimScanDevice>(config.wVendorId, config.wProductId,
                                                  config.identity.strType,
                                                  config.identity.strSerial, true);
        return EHidScanOpen::Opened;
    }
    if (!entry.other->bOpenable) {
        return EHidScanOpen::Unopenable;
    }
    device = std::make_unique<CSimScanDevice>(entry.other->wVendorId, entry.other->wProductId,
                                              entry.other->strProduct, entry.other->strSerial,
                                              entry.other->bAttributesReadable);
    return EHidScanOpen::Opened;
}

std::optional<ESerialPortListing> CSimBench::GetPortListing(std::uint32_t& /*lastError*/) {
    return ESerialPortListing::PresentPorts;
}

std::unique_ptr<ISerialPortList> CSimBench::OpenPortList(std::uint32_t& /*lastError*/) {
    const std::lock_guard lock(mutex_);
    std::vector<CSimComInterfaceSet::SEntry> entries;
    for (const auto& port : serialPorts_) {
        if (!IsPresent(*port)) {
            continue;
        }
        CSimComInterfaceSet::SEntry entry;
        entry.strPath = port->strName;
        entry.strFriendly = port->strDescription + " (" + port->strName + ")";
        entry.strDesc = port->strDescription;
        if (port->charger != nullptr && port->charger->Config().bUsb) {
            const SSimIdentity& identity = port->charger->Identity();
            entry.strPath += std::string("#") + kUsbSerialIds + "#" + identity.strSerial;
            entry.busDesc = identity.strType;
        }
        entries.push_back(std::move(entry));
    }
    return std::make_unique<CSimComInterfaceSet>(std::move(entries));
}

std::unique_ptr<IDeviceTreeKey> CSimBench::OpenDeviceTree() {
    return nullptr;
}

bool CSimBench::ProbePort(const std::string& path) {
    const std::lock_guard lock(mutex_);
    const SSerialPort* port = FindPort(path);
    return port != nullptr && IsPresent(*port) && !port->bOpen;
}

} // namespace crenovix::sim
