// A fake set of present HID interfaces for tests of the HID walk and of the enumeration.
//
// Position i of `interfaces` is the i-th present interface; positions past the end do not exist
// unless `endless` is set, when they all exist but cannot be opened (a set that never ends).
// The set records every position asked for and counts the devices it has open, so a test can
// check that the walk closes everything it opened.
#pragma once

#include "device/HidDiscovery.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crenovix::testsupport {

inline constexpr std::uint16_t kKavroVendorId = 0x0483;

struct SFakeHidInterface {
    bool openable = true;
    bool attributesReadable = true;
    std::uint16_t vendorId = 0x046D;
    std::uint16_t productId = 0xC31C;
    std::optional<std::u16string> product; // nothing: unreadable
    std::optional<std::u16string> serial;

    static SFakeHidInterface Charger(std::u16string productText, std::u16string serialText,
                                     std::uint16_t productId = 0x5750) {
        SFakeHidInterface charger;
        charger.vendorId = kKavroVendorId;
        charger.productId = productId;
        charger.product = std::move(productText);
        charger.serial = std::move(serialText);
        return charger;
    }
    static SFakeHidInterface Other() { return {}; }
    static SFakeHidInterface Unopenable() {
        SFakeHidInterface held;
        held.openable = false;
        return held;
    }
};

class CFakeHidSet final : public IHidInterfaceSet {
public:
    std::vector<SFakeHidInterface> interfaces;
    bool endless = false;

    std::vector<int> positionsAsked;
    int devicesOpened = 0;
    int OpenDevices() const { return *openDevices_; }

    EHidScanOpen OpenHidForScan(int position, std::unique_ptr<IHidScanDevice>& device) override {
        positionsAsked.push_back(position);
        if (position < 0 || static_cast<std::size_t>(position) >= interfaces.size()) {
            return endless && position >= 0 ? EHidScanOpen::Unopenable : EHidScanOpen::NoInterface;
        }
        const SFakeHidInterface& entry = interfaces[static_cast<std::size_t>(position)];
        if (!entry.openable) {
            return EHidScanOpen::Unopenable;
        }
        device = std::make_unique<CDevice>(entry, openDevices_);
        ++devicesOpened;
        return EHidScanOpen::Opened;
    }

private:
    class CDevice final : public IHidScanDevice {
    public:
        CDevice(SFakeHidInterface entry, std::shared_ptr<int> open)
            : entry_(std::move(entry)), open_(std::move(open)) {
            ++*open_;
        }
        ~CDevice() override { --*open_; }

        bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
            if (!entry_.attributesReadable) {
                return false;
            }
            vendorId = entry_.vendorId;
            productId = entry_.productId;
            return true;
        }
        std::optional<std::u16string> GetProductString() override { return entry_.product; }
        std::optional<std::u16string> GetSerialNumberString() override { return entry_.serial; }

    private:
        SFakeHidInterface entry_;
        std::shared_ptr<int> open_;
    };

    std::shared_ptr<int> openDevices_ = std::make_shared<int>(0);
};

} // namespace crenovix::testsupport
