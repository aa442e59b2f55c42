#include "device/DevicePort.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace crenovix {

namespace {

// Highest COM number the system path format allows.
constexpr unsigned kMaxComNumber = 256;

bool HasPrefixNoCase(const std::string& text, const char* prefix) {
    const std::size_t length = std::strlen(prefix);
    if (text.size() < length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

// Reads the leading decimal digits from `from` on; none gives 0. Values above `limit` come back
// as limit + 1, so an overlong number can never wrap round to a small, valid one.
unsigned long long LeadingNumber(const std::string& text, std::size_t from,
                                 unsigned long long limit) {
    unsigned long long value = 0;
    for (std::size_t i = from; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > limit) {
            return limit + 1;
        }
    }
    return value;
}

} // namespace

std::optional<std::string> FormatComPortPath(const std::string& portName) {
    if (!HasPrefixNoCase(portName, "COM")) {
        return std::nullopt;
    }
    const unsigned long long n = LeadingNumber(portName, 3, kMaxComNumber);
    if (n > kMaxComNumber) {
        return std::nullopt;
    }
    const std::string name = "COM" + std::to_string(n);
    // From COM10 on the system only knows the ports under the device namespace.
    return n < 10 ? name : "\\\\.\\" + name;
}

std::optional<int> HidPositionFromPortName(const std::string& portName) {
    if (!HasPrefixNoCase(portName, "HID")) {
        return std::nullopt;
    }
    constexpr auto kMaxPosition = static_cast<unsigned long long>(std::numeric_limits<int>::max());
    const unsigned long long n = LeadingNumber(portName, 3, kMaxPosition);
    if (n > kMaxPosition) {
        return std::nullopt;
    }
    return static_cast<int>(n);
}

bool CDevicePort::Open(const std::string& portName, std::uint32_t baud) {
    if (channel_) {
        return false;
    }
    if (HasPrefixNoCase(portName, "HID")) {
        const std::optional<int> position = HidPositionFromPortName(portName);
        if (!position) {
            return false; // a position beyond any count cannot name a present interface
        }
        bHid_ = true;
        channel_ = opener_.OpenHid(*position);
        return channel_ != nullptr;
    }
    bHid_ = false;
    const std::optional<std::string> path = opener_.SerialPathFor(portName);
    if (!path) {
        return false;
    }
    channel_ = opener_.OpenSerial(*path, baud);
    return channel_ != nullptr;
}

void CDevicePort::Close() {
    channel_.reset();
}

bool CDevicePort::Write(const std::uint8_t* data, std::size_t n) {
    if (!channel_ || (data == nullptr && n > 0)) {
        return false;
    }
    if (!bHid_) {
        return channel_->Write(std::span<const std::uint8_t>(data, n));
    }
    std::size_t sent = 0;
    do {
        std::array<std::uint8_t, kHidReportSize> report{}; // report ID 0, zero fill
        const std::size_t chunk = std::min(kHidReportData, n - sent);
        if (chunk > 0) {
            std::memcpy(report.data() + 1, data + sent, chunk);
        }
        if (!channel_->Write(report)) {
            return false;
        }
        sent += chunk;
    } while (sent < n);
    return true;
}

bool CDevicePort::Read(std::uint8_t* buffer, std::size_t n, std::uint32_t timeoutMs) {
    if (!channel_ || (buffer == nullptr && n > 0)) {
        return false;
    }
    if (!bHid_) {
        // A refused read is reported like a time-out: the caller would otherwise inspect a
        // buffer that received nothing.
        return channel_->Read(std::span<std::uint8_t>(buffer, n), timeoutMs) ==
               EReadStatus::Completed;
    }
    std::size_t stored = 0;
    do {
        std::array<std::uint8_t, kHidReportSize> report{};
        if (channel_->Read(report, timeoutMs) != EReadStatus::Completed) {
            return false;
        }
        const std::size_t chunk = std::min(kHidReportData, n - stored);
        if (chunk > 0) {
            std::memcpy(buffer + stored, report.data() + 1, chunk);
        }
        stored += chunk;
    } while (stored < n);
    return true;
}

bool CDevicePort::DiscardInput() {
    return channel_ != nullptr && channel_->DiscardInput();
}

} // namespace crenovix
