// CDevicePort: the open byte channel to one charger, over a serial port or a USB HID interface.
//
// The port name chooses the kind: a name that begins with "HID" (any case) names the HID
// interface at the decimal position that follows, counted over all present HID interfaces; any
// other name is handed to the platform, which resolves it to a serial device or refuses it.
// HID traffic travels in 65-byte reports (report ID 0, 64 data bytes); this class does the
// framing, so platform channels only move whole reports or plain serial bytes.
// Times are in milliseconds. Every operation reports failure through its result only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace crenovix {

inline constexpr std::size_t kHidReportSize = 65;
inline constexpr std::size_t kHidReportData = 64;

enum class EReadStatus {
    Completed, // the requested bytes (serial) or one whole report (HID) arrived
    TimedOut,  // nothing complete within the time-out; the pending read was cancelled
    Failed     // the system refused the read at once
};

// Writes are given this long on top of the time their bytes need on the line. A write is meant to
// wait until done, but a stuck line (flow control held, a device that stops taking reports) must
// not hang the program, so every platform channel gives up after WriteBoundMs.
inline constexpr std::uint32_t kWriteGraceMs = 10000;

// The longest a write of `bytes` may take at `baud` (ten bits per byte on an 8N1 line); `baud` 0
// for HID reports, which have no line time.
constexpr std::uint64_t WriteBoundMs(std::size_t bytes, std::uint32_t baud) {
    return kWriteGraceMs + (baud == 0 ? 0 : std::uint64_t{bytes} * 10 * 1000 / baud);
}

// One open channel as a platform opens it. Closing is destruction.
class IPortChannel {
public:
    virtual ~IPortChannel() = default;

    // Writes all of `data` (serial bytes, or one 65-byte HID report), waiting until done or
    // WriteBoundMs has passed. True only when every byte was written.
    virtual bool Write(std::span<const std::uint8_t> data) = 0;

    // Serial: fills all of `data` or times out. HID: `data` is 65 bytes and receives one input
    // report, byte 0 being the report ID. Waits at most `timeoutMs`; a timed-out read leaves
    // nothing pending, so the next read starts clean.
    virtual EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) = 0;

    // Drops the input that has arrived and not been read (serial bytes, or HID reports the system
    // holds), without waiting; input arriving afterwards is kept. True when anything was dropped.
    // A refusal of the system is not reported here: the next read reports the broken channel.
    virtual bool DiscardInput() = 0;
};

// Opens platform channels. One per platform; tests supply fakes and the simulated charger.
class IPortOpener {
public:
    virtual ~IPortOpener() = default;

    // The system path of the serial port a port name names, or nothing when the name cannot name
    // a serial port on this platform. Must not touch any device.
    virtual std::optional<std::string> SerialPathFor(const std::string& portName) = 0;

    // Opens a serial path exclusively at `baud`, 8 data bits, no parity, one stop bit, raw, with
    // both directions purged. nullptr when it cannot be opened or configured.
    virtual std::unique_ptr<IPortChannel> OpenSerial(const std::string& path,
                                                     std::uint32_t baud) = 0;

    // Opens the HID interface at `position` over all present HID interfaces (shared read and
    // write). nullptr when there is no such interface or it cannot be opened.
    virtual std::unique_ptr<IPortChannel> OpenHid(int position) = 0;
};

class CDevicePort {
public:
    explicit CDevicePort(IPortOpener& opener) : opener_(opener) {}
    ~CDevicePort() { Close(); }
    CDevicePort(const CDevicePort&) = delete;
    CDevicePort& operator=(const CDevicePort&) = delete;

    // Opens the port a device-table port name names; `baud` is ignored for HID. Callers Close
    // before opening again; opening an open port fails and leaves it as it was.
    bool Open(const std::string& portName, std::uint32_t baud);

    // Harmless on a closed port.
    void Close();

    // HID: the data cut into 64-byte reports, zero-filled, at least one report even for n = 0.
    // Serial: the n bytes in one write. True when everything was written.
    bool Write(const std::uint8_t* data, std::size_t n);

    // HID: reports are read one at a time, data bytes 1 to 64 appended until n bytes are stored
    // (the rest of the last report is dropped); the time-out applies to each report. Serial:
    // exactly n bytes within the time-out. False on time-out and when the system refuses the
    // read, so a false result always means "no reply".
    bool Read(std::uint8_t* buffer, std::size_t n, std::uint32_t timeoutMs);

    // Drops input that arrived before now (see IPortChannel::DiscardInput): the dialogues call it
    // before every frame that expects an answer, so that a stray or repeated reply never answers
    // a later frame, and right after an answer, to learn whether it came with extra input. True
    // when anything was dropped; false on a closed port.
    bool DiscardInput();

    bool IsOpen() const { return channel_ != nullptr; }
    bool IsHid() const { return bHid_; }

private:
    IPortOpener& opener_;
    std::unique_ptr<IPortChannel> channel_;
    bool bHid_ = false;
};

// The Windows rule for "COM<n>" names: "COM1".."COM9" stay as they are, "COM10".."COM256"
// become "\\.\COM<n>", anything above 256 and names not beginning with "COM" (any case) give
// nothing. The digits are read as leading decimal digits; none means 0.
std::optional<std::string> FormatComPortPath(const std::string& portName);

// Whether a device-table port name names a HID interface, and which position: "HID" (any case)
// followed by leading decimal digits, none meaning 0 ("HID3" -> 3, "hid" -> 0). Nothing for other
// names and for numbers too large for an int, which cannot name a present interface.
std::optional<int> HidPositionFromPortName(const std::string& portName);

} // namespace crenovix
