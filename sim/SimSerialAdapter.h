// A USB serial bridge between the host and a charger's serial line, as its timing shows to the
// host, on the link's own time line in nanoseconds (finer than the clock's milliseconds: a byte
// at 128000 baud takes 78.125 us).
//
// - A write reaches the bridge one USB frame after it is made and leaves on the line byte after
//   byte, ten bits a byte (8N1) at the port's rate.
// - What the charger sends is held in the bridge until the bridge's latency timer has run out
//   since the last packet it sent to the host, or until the held bytes fill its buffer; the
//   packet then reaches the host one USB frame later. A bridge that has sent nothing yet, or
//   nothing for longer than its timer, sends the next byte at once.
//
// With the common default of 16 ms, a stop-and-wait dialogue whose answer comes back within the
// timer waits for the timer on every frame; at 1 ms the answer of a serial frame always comes
// after the timer has run out and goes on at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace crenovix::sim {

struct SSimSerialAdapter {
    std::uint32_t dwLatencyTimerMs = 16;
    std::size_t nBufferBytes = 62; // a full-speed bulk packet less the bridge's two status bytes
    std::uint32_t dwUsbFrameUs = 1000;
};

// Nanoseconds one byte takes on an 8N1 line at `baud` (not 0).
constexpr std::uint64_t LineByteNs(std::uint32_t baud) {
    return 10'000'000'000ull / baud;
}

// The bridge of one open port: what it holds and has sent. Times are ns on one time line that
// the caller keeps; bytes from the charger may be added out of order, but never earlier than the
// last time the host looked (Advance, ArrivalOf, DropArrived).
class CSimAdapterLink {
public:
    explicit CSimAdapterLink(SSimSerialAdapter config) : config_(config) {}

    const SSimSerialAdapter& Config() const { return config_; }
    std::uint64_t UsbFrameNs() const { return std::uint64_t{config_.dwUsbFrameUs} * 1000; }

    // A byte the charger sent, complete at the bridge at `atNs`.
    void FromCharger(std::uint64_t atNs, std::uint8_t byte);
    // When the n-th byte (1-based) the host has not taken reaches it, as things stand at `nowNs`;
    // nothing when fewer are on their way.
    std::optional<std::uint64_t> ArrivalOf(std::size_t n, std::uint64_t nowNs);
    // The next byte that has reached the host; only after ArrivalOf said it has.
    std::uint8_t Take();
    // Drops the bytes that have reached the host by `nowNs`; true when any were dropped.
    bool DropArrived(std::uint64_t nowNs);

private:
    struct SByte {
        std::uint64_t atNs;
        std::uint8_t byte;
    };
    // Sends the packets the bridge has sent by `nowNs`.
    void Advance(std::uint64_t nowNs);
    // The packet that starts at held_[first]: how many bytes it takes and when it is sent.
    std::size_t NextPacket(std::size_t first, std::optional<std::uint64_t> lastSentNs,
                           std::uint64_t& sentNs) const;

    SSimSerialAdapter config_;
    std::vector<SByte> held_;  // in the bridge, by arrival
    std::deque<SByte> toHost_; // sent, by the time they reach the host
    std::optional<std::uint64_t> lastSentNs_;
};

} // namespace crenovix::sim
