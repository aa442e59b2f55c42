// CTermiosChannel: a serial port (any tty character device, pseudo-terminals included) opened as
// a charger's byte channel.
//
// Opening takes the port exclusively twice over: TIOCEXCL, which the kernel enforces on every
// other opener without CAP_SYS_ADMIN, and an flock() lock, which every cooperating program (a
// second instance of this one included) honours even when running as root. The line is set raw
// 8N1 at the requested rate and both directions are purged, and the driver is asked to pass
// received bytes on at once (low latency); where this open set that flag, the close clears it.
//
// Reads collect exactly the requested number of bytes within one total time-out in
// milliseconds, measured on the monotonic clock. A timed-out read has consumed only the bytes it
// took off the line, and those are discarded with it; nothing is carried over in this object, so
// the next read starts clean and returns only bytes that come after them. Bytes arriving after
// the time-out stay queued for the next read: dropping them would also drop a genuine reply that
// arrived early. Writes are bounded by WriteBoundMs (device/DevicePort.h).
#pragma once

#include "device/DevicePort.h"
#include "device/linux/UniqueFd.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace crenovix {

class CTermiosChannel final : public IPortChannel {
public:
    // nullptr on failure, with `error` set to the errno value: EBUSY when another opener holds
    // the port, ENOTTY when `path` is not a terminal, EINVAL for a baud rate of 0.
    static std::unique_ptr<CTermiosChannel> Open(const std::string& path, std::uint32_t baud,
                                                 int& error);

    ~CTermiosChannel() override;
    CTermiosChannel(const CTermiosChannel&) = delete;
    CTermiosChannel& operator=(const CTermiosChannel&) = delete;

    bool Write(std::span<const std::uint8_t> data) override;
    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override;
    // TCIFLUSH; whether bytes were waiting is read (FIONREAD) just before.
    bool DiscardInput() override;

private:
    CTermiosChannel(CUniqueFd fd, std::uint32_t baud);
    bool WaitOutputEmpty(std::uint64_t deadlineNs);

    CUniqueFd fd_;
    std::uint32_t baud_;
    bool lowLatencySet_ = false; // this open set the driver's low-latency flag
};

} // namespace crenovix
