// What both simulated chargers share: their identity, the record of what happened to them, and
// the fault bookkeeping the bench's channels consult.
//
// A charger model is driven by whoever carries its bytes (the bench's in-process channels, or a
// pseudo-terminal host) and reads time only from the IClock it was given, so one model runs
// instantly on a virtual clock and in real time on the steady clock. Times are clock ticks in
// ms, rates in baud (0 for HID). A model is not thread-safe; its driver serialises access.
#pragma once

#include "base/Clock.h"
#include "sim/SimFaults.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace crenovix::sim {

struct SSimIdentity {
    std::uint8_t byModelCode = 0x0A;     // the device code the application firmware accepts
    std::string strType = "Kelvorin K4"; // HID product string / USB serial bus description
    std::string strSerial = "SIM0001";   // HID serial number / USB serial instance id
    int nHidPosition = 0;                // HID: order among the bench's HID interfaces
    std::string strPortName = "simtty0"; // serial: the port's name in the device list
    // Plugged in this long after the clock's start and, when above 0, pulled out this long after
    // it: a charger that comes and goes while a program watches.
    std::uint32_t dwPluggedAtMs = 0;
    std::uint32_t dwUnpluggedAtMs = 0;
};

// How a boot loader answers a boot request (the host then takes it to be in its boot loader).
enum class ESimInLoaderReply { Silent, OtherByte };

// One frame the charger recognised, or its boot loader coming up (ESimStep::Reconnection).
struct SSimEvent {
    ESimStep step = ESimStep::BootRequest;
    int index = -1; // block or frame number; -1 for the other steps
    // Serial: the rate of the frame's last byte (Reconnection: the rate the boot loader listens
    // at); HID: 0.
    std::uint32_t baud = 0;
    std::uint32_t timeMs = 0;
    bool bValid = true;                 // the frame passed the charger's checks
    std::optional<std::uint8_t> reply;  // the answer (first data byte for HID); none: silent
    std::optional<ESimFaultKind> fault; // the fault that shaped the answer, if one did
};

struct SSimResults {
    std::vector<SSimEvent> events;
    // Plain bytes stored by the latest transfer; exactly its announced length once complete.
    std::vector<std::uint8_t> payload;
    std::uint32_t dwAnnouncedLength = 0; // of the latest transfer
    bool bComplete = false;              // the latest transfer stored its whole payload
    bool bMasked = false;                // HID: the latest transfer came masked (model field 1)
    bool bPaddingZero = true;            // HID: bytes past the payload in the last block were 0
    int nTransfers = 0;                  // transfers opened (start frame or length frame taken)
    int nCompleted = 0;                  // transfers that stored their whole payload
    int nNoiseBytes = 0; // serial bytes the charger could not take: wrong rate, restarting

    // Frames recognised at `step`, valid or not (Reconnection: times the boot loader came up).
    int Frames(ESimStep step) const;
    // Answers `code` given at `step`.
    int Replies(ESimStep step, std::uint8_t code) const;
    // The rate of each frame recognised at `step`, in order.
    std::vector<std::uint32_t> BaudsAt(ESimStep step) const;
};

// Output a charger sends besides the answer its Handle call returns, shaped by a delivery fault:
// serial bytes, or one HID input report (65 bytes, report ID first), reaching the host
// `dwDelayMs` after the frame that caused it.
struct SSimDelivery {
    std::uint32_t dwDelayMs = 0;
    std::vector<std::uint8_t> bytes;
};

// A 64-bit FNV-1a digest of a payload: a charger process and a host process can compare what was
// stored with what was sent by printing one number each.
std::uint64_t PayloadDigest(std::span<const std::uint8_t> bytes);

class CSimChargerBase {
public:
    virtual ~CSimChargerBase() = default;
    CSimChargerBase(const CSimChargerBase&) = delete;
    CSimChargerBase& operator=(const CSimChargerBase&) = delete;

    const SSimIdentity& Identity() const { return identity_; }
    const SSimResults& Results() const { return results_; }
    // Left for good (a Disappear fault), or not plugged in at this time (SSimIdentity); its
    // ports and interfaces are gone.
    bool IsGone() const {
        const std::uint32_t now = clock_.TickCount();
        return bGone_ || now < identity_.dwPluggedAtMs ||
               (identity_.dwUnpluggedAtMs != 0 && now >= identity_.dwUnpluggedAtMs);
    }
    // Stopped answering after an AnswerBurst: present, but it takes and answers nothing.
    bool IsHung() const { return bHung_; }

    // The output delivery faults produced since the last call, in the order it was sent; whoever
    // carries the charger's bytes collects it after every Handle call.
    std::vector<SSimDelivery> TakeDeliveries();

    // Asked by a channel before it hands a write over: true when the write fails (the data never
    // reaches the charger). Uses up one failing operation.
    bool TakeWriteFailure();
    // Asked by a channel before it returns a read: true when the read fails at once.
    bool TakeReadFailure();

protected:
    CSimChargerBase(IClock& clock, SSimIdentity identity, std::vector<SFault> faults);

    // The step the next frame from the host would belong to, for WritesFail.
    virtual ESimStep ExpectedStep(int& index) = 0;

    std::uint32_t Now() { return clock_.TickCount(); }
    // Consults the plan for a frame that passed its checks: arms a ReadsFail of this step and
    // returns the fault that replaces the normal answer, if any. Disappear takes effect here.
    std::optional<SFault> TakeAnswerFault(ESimStep step, int index, bool allowWrongCrc = false);
    // Records the event and passes the answer through.
    std::optional<std::uint8_t> Log(ESimStep step, int index, std::uint32_t baud, bool bValid,
                                    std::optional<std::uint8_t> reply,
                                    std::optional<ESimFaultKind> fault = std::nullopt);
    // The answer a fault replaces "&" with: nothing, another byte or "5".
    static std::optional<std::uint8_t> FaultAnswer(const SFault& fault);
    // Applies the delivery fault planned for the frame logged last to its answer (`answer`, and
    // `accepted` for a plain "&" in the same form): extra output is queued for TakeDeliveries.
    // False when the answer does not go out now (it comes late).
    bool Deliver(const std::vector<std::uint8_t>& answer,
                 const std::vector<std::uint8_t>& accepted);
    // Output besides an answer: serial bytes or one HID report, `delayMs` from now.
    void Send(std::uint32_t delayMs, std::vector<std::uint8_t> bytes) {
        deliveries_.push_back({delayMs, std::move(bytes)});
    }

    IClock& clock_;
    SSimIdentity identity_;
    CSimFaultPlan plan_;
    SSimResults results_;
    bool bGone_ = false;
    bool bHung_ = false;

private:
    std::vector<SSimDelivery> deliveries_;
    int readFailuresLeft_ = 0; // kSimEveryTime: until the end
    int writeFailuresLeft_ = 0;
};

} // namespace crenovix::sim
