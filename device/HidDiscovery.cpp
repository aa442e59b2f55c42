#include "device/HidDiscovery.h"

#include "device/ChargerIdentity.h"

namespace crenovix {

namespace {

std::string ReadString(const std::optional<std::u16string>& units) {
    return units ? HidStringToText(*units) : std::string();
}

} // namespace

std::string HidStringToText(const std::u16string& units) {
    std::string text;
    for (std::size_t i = 0; i < units.size() && i < kHidStringMaxUnits; ++i) {
        const auto low = static_cast<char>(units[i] & 0xFF);
        // A zero byte ends the text, whether the unit was the terminator or a unit such as
        // U+0100 whose low byte is zero; an embedded NUL would cut the text further on anyway.
        if (low == '\0') {
            break;
        }
        text.push_back(low);
    }
    return text;
}

void ListHidChargers(IHidInterfaceSet& interfaces, SerInfoList& list) {
    for (int n = 0; n < kHidMaxPositions; ++n) {
        std::unique_ptr<IHidScanDevice> device;
        const EHidScanOpen opened = interfaces.OpenHidForScan(n, device);
        if (opened == EHidScanOpen::NoInterface) {
            return;
        }
        if (opened == EHidScanOpen::Unopenable || !device) {
            continue; // the interface keeps its position, so later positions keep their numbers
        }
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        if (!device->GetAttributes(vendorId, productId)) {
            return; // the device is closed as it goes out of scope
        }
        if (!IsChargerUsbId(vendorId, productId)) {
            continue;
        }
        SSerInfo record;
        record.strBusDesc = ReadString(device->GetProductString());
        record.strPath = "##" + ReadString(device->GetSerialNumberString());
        record.strFriendly = "Kavro USB(HID" + std::to_string(n) + ")";
        record.bCharger = 1;
        record.nHidIndex = n;
        list.push_back(std::move(record));
    }
}

} // namespace crenovix
