// A charger on a serial line (a USB serial charger or a plain port): its application firmware
// and its boot loader, driven one byte at a time together with the line rate it arrived at.
//
// Application firmware (9600 baud): an 11-character boot request for its model code is answered
// "&", and dwBootDelayMs later the boot loader has the line; another code gets "5"; malformed
// requests get nothing. Boot loader (128000 baud for a USB serial charger, 9600 for a plain port,
// 128000 on a plain port with KnockOnlyAt128000): a knock (any bytes ending in "&", "u", 0x07, so
// both the full and the short knock) is answered "&"; then the length frame (4 bytes big-endian
// and their XOR) and floor(length / 16) frames of 16 bytes and a last frame of length % 16 bytes,
// each with its XOR byte, are answered "&", or "5" when the XOR byte or the length is wrong. Data
// bytes are unmasked with the transfer mask; exactly `length` bytes are stored. After the last
// frame the new firmware starts (back to the application firmware).
//
// Line noise: a byte at a rate the firmware does not listen at is dropped (counted in
// nNoiseBytes) and otherwise changes nothing, as is every byte while the boot loader starts.
// Resynchronisation: a pause of more than kSerialResyncGapMs between two bytes abandons any
// partial frame and, in the boot loader, the session: it waits for a knock again. The host only
// pauses that long when it starts over, and in that state the boot loader also recognises a
// boot request and gives the configured in-loader answer.
// Times are clock ms, rates baud.
#pragma once

#include "sim/SimCharger.h"
#include "sim/SimWire.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::sim {

// Longer than any pause inside a healthy session (at most 50 ms), shorter than the host's
// 500 ms pause before it starts over.
inline constexpr std::uint32_t kSerialResyncGapMs = 400;

struct SSimSerialConfig {
    SSimIdentity identity; // strType: the bus description of a USB serial charger
    bool bUsb = true;      // false: a charger on a plain port (serial cable), no bus description
    std::string strDescription;        // device description; empty: a default for the kind of port
    std::uint32_t dwBootDelayMs = 100; // from "&" to the boot loader listening
    bool bStartInBootLoader = false;
    bool bRestartAfterUpdate = true;
    ESimInLoaderReply inLoaderReply = ESimInLoaderReply::Silent;
    std::uint8_t byInLoaderOther = kDefaultOtherByte;
    std::uint32_t dwFlashCapacity = 0x80000; // longer payloads are refused at the length frame
    std::vector<SFault> faults;
};

class CSimSerialCharger final : public CSimChargerBase {
public:
    CSimSerialCharger(IClock& clock, SSimSerialConfig config);

    // One byte from the host at `baud`; the byte the charger answers with now, if any (further
    // output: TakeDeliveries).
    std::optional<std::uint8_t> HandleByte(std::uint8_t byte, std::uint32_t baud);

    bool InBootLoader();
    // The rate the boot loader listens at.
    std::uint32_t BootLoaderBaud() const { return loaderBaud_; }
    const SSimSerialConfig& Config() const { return config_; }

private:
    enum class EPhase { Application, Restarting, BootLoader, Dead };
    enum class ELoader { WaitKnock, WaitLength, WaitFrame };

    ESimStep ExpectedStep(int& index) override;
    std::optional<std::uint8_t> Step(std::uint8_t byte, std::uint32_t baud);
    void Refresh(std::uint32_t now);
    void Resync();
    std::optional<std::uint8_t> OnApplication(std::uint8_t byte, std::uint32_t baud);
    std::optional<std::uint8_t> OnBootLoader(std::uint8_t byte, std::uint32_t baud);
    std::optional<std::uint8_t> OnBootRequest(std::uint32_t baud);
    std::optional<std::uint8_t> OnKnock(std::uint32_t baud);
    std::optional<std::uint8_t> OnLengthFrame(std::uint32_t baud);
    std::optional<std::uint8_t> OnDataFrame(std::uint32_t baud);
    std::size_t FrameSize(ESimStep& step, int& index) const;
    void Finish();
    // StrayReply: the stray goes out with the frame's first byte; the frame is then refused late.
    void ArmStray(ESimStep step, int index);
    std::optional<std::uint8_t> RefuseAfterStray(ESimStep step, int index, std::uint32_t baud);

    SSimSerialConfig config_;
    std::uint32_t loaderBaud_ = kApplicationBaud;
    EPhase phase_ = EPhase::Application;
    ELoader loader_ = ELoader::WaitKnock;
    bool bHeard_ = false; // a byte has arrived, so lastByteAt_ means something
    std::uint32_t lastByteAt_ = 0;
    std::uint32_t restartAt_ = 0;

    std::vector<std::uint8_t> request_;   // boot request being collected, from its ":"
    std::array<std::uint8_t, 3> knock_{}; // the last three bytes, for the knock
    std::vector<std::uint8_t> frame_;     // length or data frame being collected

    std::optional<std::uint32_t> strayRefusalDelayMs_; // armed by a StrayReply for this frame
    std::uint32_t length_ = 0;
    int nextFrame_ = 0;
};

} // namespace crenovix::sim
