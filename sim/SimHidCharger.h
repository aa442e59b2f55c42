// A charger reached as a USB HID device: its application firmware and its boot loader, driven
// one output report at a time.
//
// Application firmware: a well-formed boot request for its model code is answered "&", after
// which the charger leaves the HID interface set and comes back dwReenumerateMs later running
// its boot loader (a new device instance: channels opened before stay dead). A request for
// another code is answered "5"; malformed requests and any other report get no answer.
// Boot loader: start frame (checked, answered "&" with the start reply words), key word, then
// ceil(length / 64) blocks, each "&"; masked transfers (model field 1) are unmasked with the
// transfer key. Exactly `length` payload bytes are stored. Failed checks are answered "5". A boot
// request to the boot loader gets the configured in-loader answer and ends any session; a start
// frame is recognised while no block transfer runs. After the last block the new firmware
// starts: the charger leaves and comes back as application (bRestartAfterUpdate).
// Reports are 65 bytes, report ID first; times are clock ms.
#pragma once

#include "device/DevicePort.h"
#include "sim/SimCharger.h"
#include "sim/SimWire.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

namespace crenovix::sim {

struct SSimHidConfig {
    SSimIdentity identity;
    std::uint16_t wVendorId = 0x0483;
    std::uint16_t wProductId = 0x5750;
    std::uint32_t dwReenumerateMs = 1500; // away from the interface set while it restarts
    bool bStartInBootLoader = false;
    bool bRestartAfterUpdate = true;
    ESimInLoaderReply inLoaderReply = ESimInLoaderReply::Silent;
    std::uint8_t byInLoaderOther = kDefaultOtherByte;
    std::uint32_t dwFlashCapacity = 0x80000;    // longer payloads are refused at the start frame
    std::uint32_t dwLoaderVersion = 0x00010002; // start reply word 1
    std::uint32_t dwSeed = 1;                   // of the key values, one drawn per session
    std::vector<SFault> faults;
};

using SimHidReport = std::array<std::uint8_t, kHidReportSize>;

class CSimHidCharger final : public CSimChargerBase {
public:
    CSimHidCharger(IClock& clock, SSimHidConfig config);

    // One output report from the host (report ID first; missing data bytes count as zero).
    // The input report the charger answers with now, or nothing when it stays silent (further
    // output: TakeDeliveries).
    std::optional<SimHidReport> HandleReport(std::span<const std::uint8_t> report);

    // In the interface set now (presence follows the clock).
    bool IsPresent();
    bool InBootLoader();
    // Changes every time the charger leaves the interface set: a channel opened on an earlier
    // instance is dead.
    std::uint64_t Instance() const { return instance_; }
    // Sort key among the bench's HID interfaces; moved by ReturnElsewhere.
    int Order() const { return order_; }
    const SSimHidConfig& Config() const { return config_; }

private:
    enum class EPhase { Application, Away, BootLoader };
    enum class ELoader { WaitStart, WaitKey, Blocks };
    using Data = std::array<std::uint8_t, kHidBlockSize>;

    ESimStep ExpectedStep(int& index) override;
    std::optional<SimHidReport> StrayAhead();
    void Refresh();
    void Leave(bool bToBootLoader);
    std::optional<SimHidReport> Step(std::span<const std::uint8_t> report);
    std::optional<std::uint8_t> OnApplication(const Data& data);
    std::optional<SimHidReport> OnBootLoader(const Data& data);
    std::optional<std::uint8_t> OnInLoaderBootRequest();
    std::optional<SimHidReport> OnStartFrame(const Data& data);
    std::optional<std::uint8_t> OnKeyWord(const Data& data);
    std::optional<std::uint8_t> OnBlock(const Data& data);
    void Finish();

    SSimHidConfig config_;
    std::mt19937 rng_;
    EPhase phase_ = EPhase::Application;
    ELoader loader_ = ELoader::WaitStart;
    int order_ = 0;
    std::uint64_t instance_ = 0;

    // Away.
    std::uint32_t leftAt_ = 0;
    EPhase next_ = EPhase::BootLoader;
    bool bNeverBack_ = false;
    std::optional<ESimFaultKind> returnFault_;

    // Session.
    std::uint32_t nonce_ = 0;
    std::uint32_t key_ = 0;
    std::uint32_t length_ = 0;
    bool bMasked_ = false;
    std::uint32_t transferKey_ = 0;
    int block_ = 0;
};

} // namespace crenovix::sim
