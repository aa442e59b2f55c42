// CSimBench: a desk of simulated chargers that stands in for the platform, so the device list
// and both update dialogues run against it unchanged: it is the port opener (IPortOpener), the
// HID interface set (IHidInterfaceSet) and the serial platform (ISerialPlatform: a list of the
// present ports with bus descriptions; no device tree).
//
// HID positions are counted over all present HID interfaces (chargers and others such as a
// keyboard), sorted by their order key (SSimIdentity::nHidPosition / SSimHidInterface::nOrder,
// ties in the order they were added); a charger away while it restarts takes up no position and
// cannot be opened. Serial ports are named by SSimIdentity::strPortName ("simtty0"); their path
// is the name, and for a USB serial charger the interface path "<port>#0483&5740#<serial>"
// carries the serial number as its field 2. A serial port opens once at a time.
//
// Channels are in-process and synchronous: a write goes to the charger model at once; a read
// returns a queued answer, or waits its whole time-out on the bench's clock (a virtual clock
// jumps, the steady clock sleeps) and times out. A channel to a device that has left fails at
// once. Optional link latency (ms per HID report, ms per serial byte) is spent on the clock for
// each direction. A serial port may instead sit behind a USB serial bridge (SetSerialAdapter,
// sim/SimSerialAdapter.h): line rate, USB frames and the bridge's latency timer. The bench owns its
// chargers; channels and interface sets it hands out must not outlive it. Single-threaded.
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/HidDiscovery.h"
#include "device/SerialPlatform.h"
#include "sim/SimHidCharger.h"
#include "sim/SimSerialAdapter.h"
#include "sim/SimSerialCharger.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::sim {

// A HID interface that is not a charger.
struct SSimHidInterface {
    std::uint16_t wVendorId = 0x046D;
    std::uint16_t wProductId = 0xC31C;
    std::string strProduct = "USB Keyboard";
    std::string strSerial;
    int nOrder = 0;
    bool bOpenable = true;           // false: the system holds it exclusively
    bool bAttributesReadable = true; // false: the HID walk ends at it
};

// One open attempt the bench saw, for tests that assert what the host opened and when.
struct SSimOpen {
    bool bHid = false;
    std::string strTarget;  // serial path, or "HID<position>"
    std::uint32_t baud = 0; // serial only
    std::uint32_t timeMs = 0;
    bool bOpened = false;
};

class CSimBench final : public IPortOpener, public IHidInterfaceSet, public ISerialPlatform {
public:
    explicit CSimBench(IClock& clock);
    ~CSimBench() override;
    CSimBench(const CSimBench&) = delete;
    CSimBench& operator=(const CSimBench&) = delete;

    // The references stay valid for the bench's life.
    CSimHidCharger& AddHidCharger(SSimHidConfig config);
    CSimSerialCharger& AddSerialCharger(SSimSerialConfig config);
    void AddHidInterface(SSimHidInterface device);
    // A plain serial port with nothing behind it: opens, takes writes, never answers.
    void AddSerialPort(std::string portName, std::string description = "Communications Port");

    // The chargers in the order they were added.
    CSimHidCharger& HidCharger(std::size_t index) { return *hidChargers_.at(index); }
    CSimSerialCharger& SerialCharger(std::size_t index) { return *serialChargers_.at(index); }
    std::size_t HidChargerCount() const { return hidChargers_.size(); }
    // The charger present at HID position `position` now, or nullptr.
    CSimHidCharger* HidChargerAt(int position);
    std::size_t SerialChargerCount() const { return serialChargers_.size(); }

    void SetLinkLatency(std::uint32_t msPerHidReport, std::uint32_t msPerSerialByte);
    // Puts the serial port `portName` behind a USB serial bridge from its next open on.
    void SetSerialAdapter(const std::string& portName, SSimSerialAdapter adapter);

    // Whether the present HID interfaces or serial ports changed since the last call (the first
    // call reports the set as changed). Presence follows the clock, so call it when the program
    // would pump its device-change notifications.
    bool TakeDevicesChanged();

    const std::vector<SSimOpen>& Opens() const { return opens_; }
    // Channels handed out and not yet closed: a run must end with none.
    int OpenChannels() const { return openChannels_; }
    IClock& Clock() { return clock_; }

    // IPortOpener.
    std::optional<std::string> SerialPathFor(const std::string& portName) override;
    std::unique_ptr<IPortChannel> OpenSerial(const std::string& path, std::uint32_t baud) override;
    std::unique_ptr<IPortChannel> OpenHid(int position) override;

    // IHidInterfaceSet.
    EHidScanOpen OpenHidForScan(int position, std::unique_ptr<IHidScanDevice>& device) override;

    // ISerialPlatform.
    std::optional<ESerialPortListing> GetPortListing(std::uint32_t& lastError) override;
    bool ReportsBusDescriptions() override { return true; }
    std::unique_ptr<ISerialPortList> OpenPortList(std::uint32_t& lastError) override;
    std::unique_ptr<IDeviceTreeKey> OpenDeviceTree() override;
    bool ProbePort(const std::string& path) override;
    // The bridge's latency timer of a port behind one (SetSerialAdapter).
    std::optional<std::uint32_t> LatencyTimerMs(const std::string& portName) override;

    // Internal: shared with the bench's channels.
    struct SSerialPort;
    struct SHidEntry;
    // Every entry point of the bench and its channels holds this lock: a run on a worker thread
    // drives the bench while the window's thread polls it for device changes. It is recursive
    // because channels and listings call back into the bench.
    std::recursive_mutex& Mutex() { return mutex_; }
    // The clock's Sleep with the lock let go meanwhile (the caller holds it once), so that a
    // channel waiting for an answer in real time does not hold up the other thread.
    void SleepUnlocked(std::uint32_t ms) {
        mutex_.unlock();
        clock_.Sleep(ms);
        mutex_.lock();
    }
    std::uint32_t HidLatency() const { return hidLatencyMs_; }
    std::uint32_t SerialLatency() const { return serialLatencyMs_; }
    void ChannelOpened() { ++openChannels_; }
    void ChannelClosed() { --openChannels_; }

private:
    std::vector<SHidEntry> PresentHid();
    SSerialPort* FindPort(const std::string& pathOrName);
    static bool IsPresent(const SSerialPort& port);

    IClock& clock_;
    std::vector<std::unique_ptr<CSimHidCharger>> hidChargers_;
    std::vector<SSimHidInterface> hidOthers_;
    std::vector<std::unique_ptr<SSerialPort>> serialPorts_;
    std::vector<std::unique_ptr<CSimSerialCharger>> serialChargers_;
    std::vector<SSimOpen> opens_;
    std::uint32_t hidLatencyMs_ = 0;
    std::atomic<int> openChannels_{0};
    std::recursive_mutex mutex_;
    std::uint32_t serialLatencyMs_ = 0;
    std::optional<std::vector<std::uint64_t>> lastPresence_;
};

} // namespace crenovix::sim
