#include "device/win32/Win32PortOpener.h"

#include "device/win32/Win32Hid.h"

#include <algorithm>
#include <windows.h>

extern "C" {
#include <hidsdi.h>
}

#include <array>
#include <span>

namespace crenovix {

namespace {

// What the COM port driver is given to settle before and after the time-out, purge and queue
// settings.
constexpr DWORD kSettleMs = 60;
constexpr DWORD kInputQueueBytes = 1024;
constexpr DWORD kOutputQueueBytes = 512;
// Far beyond what a HID input queue holds (512 reports at most).
constexpr int kMaxDiscardedReports = 4096;
// Far beyond the COM input queue this program asks for.
constexpr DWORD kMaxDiscardedBytes = 64 * 1024;

class CUniqueHandle {
public:
    explicit CUniqueHandle(HANDLE handle) : handle_(handle) {}
    ~CUniqueHandle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};

// One handle opened for overlapped I/O and the manual-reset event every transfer waits on. Each
// transfer has finished when its call returns, and leaves the event reset.
class COverlappedChannel final : public IPortChannel {
public:
    COverlappedChannel(HANDLE device, HANDLE event, std::uint32_t baud)
        : device_(device), event_(event), baud_(baud) {}
    ~COverlappedChannel() override {
        CloseHandle(event_);
        CloseHandle(device_);
    }
    COverlappedChannel(const COverlappedChannel&) = delete;
    COverlappedChannel& operator=(const COverlappedChannel&) = delete;

    bool Write(std::span<const std::uint8_t> data) override {
        if (data.size() > MAXDWORD) {
            return false;
        }
        OVERLAPPED overlapped = Fresh();
        DWORD written = 0;
        BOOL ok =
            WriteFile(device_, data.data(), static_cast<DWORD>(data.size()), &written, &overlapped);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            const std::uint64_t boundMs = WriteBoundMs(data.size(), baud_);
            if (WaitForSingleObject(event_, static_cast<DWORD>(std::min<std::uint64_t>(
                                                boundMs, INFINITE - 1))) != WAIT_OBJECT_0) {
                CancelIo(device_);
            }
            // A cancelled write has to end before its record goes away; one that completed in
            // that moment counts.
            ok = GetOverlappedResult(device_, &overlapped, &written, TRUE);
        }
        ResetEvent(event_);
        return ok && written == data.size();
    }

    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        if (data.size() > MAXDWORD) {
            return EReadStatus::Failed;
        }
        OVERLAPPED overlapped = Fresh();
        DWORD received = 0;
        if (ReadFile(device_, data.data(), static_cast<DWORD>(data.size()), &received,
                     &overlapped)) {
            ResetEvent(event_);
            return EReadStatus::Completed;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            ResetEvent(event_);
            return EReadStatus::Failed;
        }
        const DWORD waited = WaitForSingleObject(event_, timeoutMs);
        if (waited != WAIT_OBJECT_0) {
            CancelIo(device_);
            // The cancelled read has to end before its buffer and record go away. Bytes that
            // completed it in the meantime are delivered, not lost.
            const BOOL completed = GetOverlappedResult(device_, &overlapped, &received, TRUE);
            ResetEvent(event_);
            if (completed) {
                return EReadStatus::Completed;
            }
            return waited == WAIT_TIMEOUT ? EReadStatus::TimedOut : EReadStatus::Failed;
        }
        const BOOL completed = GetOverlappedResult(device_, &overlapped, &received, FALSE);
        ResetEvent(event_);
        return completed ? EReadStatus::Completed : EReadStatus::Failed;
    }

    // A COM port: the bytes the driver counts (ClearCommError) are read, so that what is dropped
    // is exactly what was counted; a byte arriving meanwhile stays for the next read instead of
    // vanishing in a purge between the count and the purge. Bounded: a line that sends without
    // pause is purged after the bound, and that counts as input too. A HID interface (or another
    // handle without a line): reports already there are read without waiting until none is left,
    // bounded, and the HID input queue is flushed after them.
    bool DiscardInput() override {
        if (baud_ != 0) {
            std::array<std::uint8_t, kInputQueueBytes> buffer{};
            bool dropped = false;
            for (DWORD total = 0; total < kMaxDiscardedBytes;) {
                DWORD errors = 0;
                COMSTAT status{};
                if (ClearCommError(device_, &errors, &status) == FALSE || status.cbInQue == 0) {
                    return dropped;
                }
                const DWORD count = std::min<DWORD>(status.cbInQue, buffer.size());
                if (Read(std::span(buffer.data(), count), kSettleMs) != EReadStatus::Completed) {
                    break;
                }
                dropped = true;
                total += count;
            }
            PurgeComm(device_, PURGE_RXCLEAR);
            return true;
        }
        std::array<std::uint8_t, kHidReportSize> report{};
        bool dropped = false;
        for (int i = 0; i < kMaxDiscardedReports; ++i) {
            if (Read(report, 0) != EReadStatus::Completed) {
                break;
            }
            dropped = true;
        }
        HidD_FlushQueue(device_); // refused by handles that are no HID interface; nothing to do
        return dropped;
    }

private:
    OVERLAPPED Fresh() const {
        OVERLAPPED overlapped{}; // file offset 0
        overlapped.hEvent = event_;
        return overlapped;
    }

    HANDLE device_;
    HANDLE event_;
    std::uint32_t baud_;
};

} // namespace

std::unique_ptr<IPortChannel> AdoptOverlappedHandle(void* handle, std::uint32_t baud) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    CUniqueHandle device(handle);
    // Manual reset, signalled to begin with; every transfer resets it when it starts.
    const HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (event == nullptr) {
        return nullptr;
    }
    return std::make_unique<COverlappedChannel>(device.Release(), event, baud);
}

std::optional<std::string> CWin32PortOpener::SerialPathFor(const std::string& portName) {
    return FormatComPortPath(portName);
}

std::unique_ptr<IPortChannel> CWin32PortOpener::OpenSerial(const std::string& path,
                                                           std::uint32_t baud) {
    CUniqueHandle port(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (port.Get() == INVALID_HANDLE_VALUE) {
        lastError_ = GetLastError();
        return nullptr;
    }
    DCB line{};
    line.DCBlength = sizeof(line);
    if (!GetCommState(port.Get(), &line)) {
        lastError_ = GetLastError();
        return nullptr;
    }
    line.BaudRate = baud;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE; // no end-of-file character
    line.fParity = FALSE;
    if (!SetCommState(port.Get(), &line)) {
        lastError_ = GetLastError();
        return nullptr;
    }

    Sleep(kSettleMs);
    COMMTIMEOUTS timeouts{}; // all zero: reads complete when full, the wait bounds them
    SetCommTimeouts(port.Get(), &timeouts);
    PurgeComm(port.Get(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    SetupComm(port.Get(), kInputQueueBytes, kOutputQueueBytes);
    Sleep(kSettleMs);

    auto channel = AdoptOverlappedHandle(port.Release(), baud);
    lastError_ = channel ? 0 : GetLastError();
    return channel;
}

std::unique_ptr<IPortChannel> CWin32PortOpener::OpenHid(int position) {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    if (win32::OpenHidInterface(position, handle, error) != win32::EHidInterfaceOpen::Opened) {
        lastError_ = error;
        return nullptr;
    }
    auto channel = AdoptOverlappedHandle(handle);
    lastError_ = channel ? 0 : GetLastError();
    return channel;
}

} // namespace crenovix
