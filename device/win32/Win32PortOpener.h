// CWin32PortOpener: the device port's platform on Windows. Serial ports are COM ports, HID
// interfaces are found by their position in the SetupDi list of present HID interfaces; both are
// opened for overlapped I/O, so that every read can be bounded by a wait and cancelled.
//
// Serial line after opening: the requested baud rate, 8 data bits, no parity, one stop bit,
// binary, parity checking off, the other settings as the driver reported them; every time-out 0
// (a read completes only when all its bytes are there, the wait bounds it), both directions
// purged, queues of 1024 (input) and 512 (output) bytes. The driver gets 60 ms before and after
// the time-out, purge and queue settings.
#pragma once

#include "device/DevicePort.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace crenovix {

class CWin32PortOpener final : public IPortOpener {
public:
    // FormatComPortPath: "COM1".."COM9" as they are, "\\.\COM10".."\\.\COM256", else nothing.
    std::optional<std::string> SerialPathFor(const std::string& portName) override;
    std::unique_ptr<IPortChannel> OpenSerial(const std::string& path, std::uint32_t baud) override;
    std::unique_ptr<IPortChannel> OpenHid(int position) override;

    // GetLastError of the last failed OpenSerial or OpenHid (ERROR_ACCESS_DENIED: held by another
    // program, ERROR_FILE_NOT_FOUND: no such port), for diagnostics; 0 after a success.
    std::uint32_t LastError() const { return lastError_; }

private:
    std::uint32_t lastError_ = 0;
};

// Takes over a handle opened with FILE_FLAG_OVERLAPPED (a COM port, a HID interface or a pipe)
// as a port channel, which closes it. A write waits until done or WriteBoundMs(size, baud) has
// passed (`baud` 0: HID, no line time); a read waits at most its time-out. A transfer that runs
// out of time is cancelled and finished before the call returns, so nothing is left pending and
// the next transfer starts clean. Completed means the system completed the read; the byte count
// is not compared (with zero time-outs a serial read completes only when full, and a HID read
// always delivers one whole report). Discarding input purges a COM port's receive queue (`baud`
// not 0) and otherwise reads what is there without waiting, then flushes the HID input queue.
// nullptr (and the handle closed) when the channel's event cannot be created.
std::unique_ptr<IPortChannel> AdoptOverlappedHandle(void* handle, std::uint32_t baud = 0);

} // namespace crenovix
