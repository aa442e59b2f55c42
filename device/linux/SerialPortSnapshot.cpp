#include "device/linux/UdevSerialPlatform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string_view>

namespace crenovix {

namespace {

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
std::string ClipText(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

bool IsDigit(char character) {
    return std::isdigit(static_cast<unsigned char>(character)) != 0;
}

} // namespace

std::string SerialNodeName(const std::string& devNode) {
    constexpr std::string_view kDev = "/dev/";
    if (devNode.starts_with(kDev) && devNode.find('/', kDev.size()) == std::string::npos) {
        return devNode.substr(kDev.size());
    }
    return devNode;
}

std::string SerialInterfacePath(const SSerialPortRecord& port) {
    if (!port.usb) {
        return port.devNode;
    }
    const std::string head =
        port.devNode + "#" + port.usb->vendorId + "&" + port.usb->productId + "#";
    if (head.size() >= kMaxInterfacePath) {
        return head; // no room for the serial; the length check of the detail reports the rest
    }
    return head + ClipText(port.usb->serial, kMaxInterfacePath - head.size());
}

std::string SerialNodeFromPath(const std::string& path) {
    return path.substr(0, path.find('#'));
}

std::string SerialDescription(const SSerialPortRecord& port) {
    if (!port.modelFromDatabase.empty()) {
        return port.modelFromDatabase;
    }
    if (port.usb) {
        return port.usb->product.empty() ? "USB Serial Port" : port.usb->product;
    }
    return "Serial Port";
}

std::string SerialFriendlyName(const std::string& description, const std::string& nodeName) {
    std::string shown = description;
    std::replace(shown.begin(), shown.end(), '(', '[');
    std::replace(shown.begin(), shown.end(), ')', ']');
    const std::string suffix = " (" + nodeName + ")";
    if (suffix.size() >= kMaxPropertyText) {
        return ClipText(suffix.substr(1), kMaxPropertyText);
    }
    return ClipText(shown, kMaxPropertyText - suffix.size()) + suffix;
}

bool NodeNameLess(const std::string& left, const std::string& right) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < left.size() && j < right.size()) {
        if (IsDigit(left[i]) && IsDigit(right[j])) {
            const std::size_t leftStart = i;
            const std::size_t rightStart = j;
            while (i < left.size() && IsDigit(left[i])) {
                ++i;
            }
            while (j < right.size() && IsDigit(right[j])) {
                ++j;
            }
            // Compare by value without converting: strip leading zeros, then length, then digits.
            std::string_view a(left.data() + leftStart, i - leftStart);
            std::string_view b(right.data() + rightStart, j - rightStart);
            a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
            b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
            if (a.size() != b.size()) {
                return a.size() < b.size();
            }
            if (a != b) {
                return a < b;
            }
            continue;
        }
        if (left[i] != right[j]) {
            return static_cast<unsigned char>(left[i]) < static_cast<unsigned char>(right[j]);
        }
        ++i;
        ++j;
    }
    if ((left.size() - i) != (right.size() - j)) {
        return (left.size() - i) < (right.size() - j);
    }
    return left < right; // equal by value ("tty01" and "tty1"): keep a strict order anyway
}

bool IsListableTty(bool hasParent, bool hasDevNode, const std::optional<std::string>& portType) {
    return hasParent && hasDevNode && (!portType || *portType != "0");
}

CSerialPortSnapshot::CSerialPortSnapshot(std::vector<SSerialPortRecord> ports)
    : ports_(std::move(ports)) {
    std::sort(ports_.begin(), ports_.end(),
              [](const SSerialPortRecord& left, const SSerialPortRecord& right) {
                  return NodeNameLess(SerialNodeName(left.devNode), SerialNodeName(right.devNode));
              });
}

const SSerialPortRecord* CSerialPortSnapshot::At(int position) const {
    if (position < 0 || static_cast<std::size_t>(position) >= ports_.size()) {
        return nullptr;
    }
    return &ports_[static_cast<std::size_t>(position)];
}

ISerialPortList::EEnum CSerialPortSnapshot::EnumPort(int position, std::uint32_t& lastError) {
    if (position < 0) {
        lastError = EINVAL;
        return EEnum::Failed;
    }
    return At(position) != nullptr ? EEnum::Ok : EEnum::NoMoreItems;
}

bool CSerialPortSnapshot::GetPortPath(int position, std::string& path, std::uint32_t& lastError) {
    const SSerialPortRecord* port = At(position);
    if (port == nullptr) {
        lastError = EINVAL;
        return false;
    }
    std::string full = SerialInterfacePath(*port);
    if (full.size() > kMaxInterfacePath) {
        lastError = ENAMETOOLONG;
        return false;
    }
    path = std::move(full);
    return true;
}

std::optional<std::string> CSerialPortSnapshot::GetPortText(int position, EPortText text) {
    const SSerialPortRecord* port = At(position);
    if (port == nullptr) {
        return std::nullopt;
    }
    switch (text) {
    case EPortText::FriendlyName:
        return SerialFriendlyName(SerialDescription(*port), SerialNodeName(port->devNode));
    case EPortText::Description:
        return ClipText(SerialDescription(*port), kMaxPropertyText);
    case EPortText::Location:
        if (port->location.empty()) {
            return std::nullopt;
        }
        return ClipText(port->location, kMaxPropertyText);
    }
    return std::nullopt;
}

std::optional<std::string> CSerialPortSnapshot::GetBusDescription(int position) {
    const SSerialPortRecord* port = At(position);
    if (port == nullptr || !port->usb) {
        return std::nullopt;
    }
    return ClipText(port->usb->product, kMaxPropertyText);
}

} // namespace crenovix
