#include "device/linux/HidApiDevices.h"

#include <hidapi/hidapi.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cwchar>
#include <mutex>
#include <optional>
#include <vector>

namespace crenovix {

namespace {

// The size the portable scan reads strings into: 128 units with the terminator.
constexpr std::size_t kHidStringUnits = 128;

struct SEnumerationDeleter {
    void operator()(hid_device_info* list) const { hid_free_enumeration(list); }
};
struct SDeviceDeleter {
    void operator()(hid_device* device) const { hid_close(device); }
};
using HidDevicePtr = std::unique_ptr<hid_device, SDeviceDeleter>;

struct SHidEntry {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::optional<std::u16string> product; // none: the entry has no such string
    std::optional<std::u16string> serial;
};

std::optional<std::u16string> EntryString(const wchar_t* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    // The portable scan reads into 128 units with the terminator, as from an open handle.
    return WideToUtf16(std::wstring_view(text, std::min(std::wcslen(text), kHidStringUnits - 1)));
}

// The entry at `position` of a fresh enumeration; nothing past the end or without a path.
std::optional<SHidEntry> EntryAt(int position) {
    if (position < 0) {
        return std::nullopt;
    }
    const std::unique_ptr<hid_device_info, SEnumerationDeleter> list(hid_enumerate(0, 0));
    const hid_device_info* entry = list.get();
    for (int index = 0; entry != nullptr && index < position; ++index) {
        entry = entry->next;
    }
    if (entry == nullptr || entry->path == nullptr) {
        return std::nullopt;
    }
    return SHidEntry{entry->path, entry->vendor_id, entry->product_id,
                     EntryString(entry->product_string), EntryString(entry->serial_number)};
}

class CHidScanDevice final : public IHidScanDevice {
public:
    CHidScanDevice(std::shared_ptr<CHidApiGuard> guard, HidDevicePtr device, const SHidEntry& entry)
        : guard_(std::move(guard)), device_(std::move(device)), entry_(entry) {}

    bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        vendorId = entry_.vendorId;
        productId = entry_.productId;
        return true;
    }
    std::optional<std::u16string> GetProductString() override { return entry_.product; }
    std::optional<std::u16string> GetSerialNumberString() override { return entry_.serial; }

private:
    std::shared_ptr<CHidApiGuard> guard_; // declared first: outlives the device it guards
    HidDevicePtr device_;
    SHidEntry entry_;
};

class CHidApiChannel final : public IPortChannel {
public:
    CHidApiChannel(std::shared_ptr<CHidApiGuard> guard, HidDevicePtr device)
        : guard_(std::move(guard)), device_(std::move(device)) {}

    bool Write(std::span<const std::uint8_t> data) override {
        if (data.empty()) {
            return false;
        }
        return hid_write(device_.get(), data.data(), data.size()) == static_cast<int>(data.size());
    }

    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        if (data.size() < 2) {
            return EReadStatus::Failed;
        }
        // One byte more than the data part: a device with numbered reports delivers its report ID
        // first and so fills the buffer; a charger (unnumbered) delivers the data alone.
        std::vector<std::uint8_t> report(data.size());
        const int wait = static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT_MAX));
        const int result = hid_read_timeout(device_.get(), report.data(), report.size(), wait);
        if (result < 0) {
            return EReadStatus::Failed;
        }
        if (result == 0) {
            return EReadStatus::TimedOut;
        }
        const auto length = static_cast<std::size_t>(result);
        std::fill(data.begin(), data.end(), 0);
        if (length == data.size()) {
            std::copy(report.begin(), report.end(), data.begin());
        } else {
            std::copy_n(report.begin(), length, data.begin() + 1);
        }
        return EReadStatus::Completed;
    }

    // hidapi has no flush: reports already queued are read without waiting until none is left.
    // Bounded, so a device that reports without pause cannot hold the dialogue here.
    bool DiscardInput() override {
        std::array<std::uint8_t, kHidReportSize> report{};
        bool dropped = false;
        for (int i = 0; i < kMaxDiscardedReports; ++i) {
            if (hid_read_timeout(device_.get(), report.data(), report.size(), 0) <= 0) {
                break;
            }
            dropped = true;
        }
        return dropped;
    }

private:
    // Far beyond the system's own queue of input reports.
    static constexpr int kMaxDiscardedReports = 4096;

    std::shared_ptr<CHidApiGuard> guard_;
    HidDevicePtr device_;
};

} // namespace

std::u16string WideToUtf16(std::wstring_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (const wchar_t character : text) {
        const auto value = static_cast<std::uint32_t>(character);
        if (value == 0) {
            break;
        }
        if (value <= 0xFFFF) {
            units.push_back(static_cast<char16_t>(value));
        } else if (value <= 0x10FFFF) {
            const std::uint32_t offset = value - 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            units.push_back(u'\uFFFD');
        }
    }
    return units;
}

std::shared_ptr<CHidApiGuard> CHidApiGuard::Acquire() {
    static std::mutex mutex;
    static std::weak_ptr<CHidApiGuard> current;
    const std::lock_guard lock(mutex);
    if (auto guard = current.lock()) {
        return guard;
    }
    if (hid_init() != 0) {
        return nullptr;
    }
    std::shared_ptr<CHidApiGuard> guard(new CHidApiGuard());
    current = guard;
    return guard;
}

CHidApiGuard::~CHidApiGuard() {
    hid_exit();
}

EHidScanOpen CHidApiInterfaceSet::OpenHidForScan(int position,
                                                 std::unique_ptr<IHidScanDevice>& device) {
    device.reset();
    auto guard = CHidApiGuard::Acquire();
    if (!guard) {
        return EHidScanOpen::NoInterface;
    }
    const auto entry = EntryAt(position);
    if (!entry) {
        return EHidScanOpen::NoInterface;
    }
    HidDevicePtr opened(hid_open_path(entry->path.c_str()));
    if (!opened) {
        return EHidScanOpen::Unopenable;
    }
    device = std::make_unique<CHidScanDevice>(std::move(guard), std::move(opened), *entry);
    return EHidScanOpen::Opened;
}

std::unique_ptr<IPortChannel> OpenHidChannel(int position) {
    auto guard = CHidApiGuard::Acquire();
    if (!guard) {
        return nullptr;
    }
    const auto entry = EntryAt(position);
    if (!entry) {
        return nullptr;
    }
    HidDevicePtr opened(hid_open_path(entry->path.c_str()));
    if (!opened) {
        return nullptr;
    }
    return std::make_unique<CHidApiChannel>(std::move(guard), std::move(opened));
}

} // namespace crenovix
