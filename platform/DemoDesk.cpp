#include "platform/DemoDesk.h"

#include <algorithm>

namespace crenovix {

const sim::CSimChargerBase* CDemoDevices::Charger(const std::string& port,
                                                  const std::string& serial) {
    const sim::CSimChargerBase* numbered = nullptr;
    int alike = 0;
    const auto count = [&](const sim::CSimChargerBase& charger) {
        if (!serial.empty() && charger.Identity().strSerial == serial) {
            numbered = &charger;
            ++alike;
        }
    };
    for (std::size_t i = 0; i < bench_.HidChargerCount(); ++i) {
        count(bench_.HidCharger(i));
    }
    for (std::size_t i = 0; i < bench_.SerialChargerCount(); ++i) {
        count(bench_.SerialCharger(i));
    }
    if (alike == 1) {
        return numbered;
    }
    // The charger made at that position while it is plugged in (wherever its restart took it
    // since); else, one made elsewhere that sits there now because one before it was pulled out.
    for (std::size_t i = 0; i < bench_.HidChargerCount(); ++i) {
        const sim::CSimHidCharger& charger = bench_.HidCharger(i);
        if ("HID" + std::to_string(charger.Identity().nHidPosition) == port && !charger.IsGone()) {
            return &charger;
        }
    }
    if (const std::optional<int> position = HidPositionFromPortName(port)) {
        if (sim::CSimHidCharger* charger = bench_.HidChargerAt(*position)) {
            return charger;
        }
    }
    for (std::size_t i = 0; i < bench_.SerialChargerCount(); ++i) {
        if (bench_.SerialCharger(i).Identity().strPortName == port) {
            return &bench_.SerialCharger(i);
        }
    }
    return nullptr;
}

bool CDemoDevices::StoredPayloadIs(const std::string& port, const std::string& serial,
                                   std::span<const std::uint8_t> payload) {
    const sim::CSimChargerBase* charger = Charger(port, serial);
    if (charger == nullptr) {
        return false;
    }
    const sim::SSimResults& results = charger->Results();
    return results.bComplete && std::ranges::equal(results.payload, payload);
}

std::unique_ptr<CDemoDesk> CDemoDesk::Create(std::unique_ptr<IPlatform> system,
                                             const std::string& names, std::string& error,
                                             std::uint8_t modelCode, const std::string& type) {
    CDemoDevices trial;
    if (const auto problem = sim::AddDemoChargers(trial.Bench(), names, modelCode, type)) {
        error = *problem;
        return nullptr;
    }
    return std::unique_ptr<CDemoDesk>(new CDemoDesk(std::move(system), names, modelCode, type));
}

std::unique_ptr<IDevices> CDemoDesk::OpenDevices() {
    auto devices = std::make_unique<CDemoDevices>(start_);
    sim::AddDemoChargers(devices->Bench(), names_, modelCode_, type_); // understood in Create
    return devices;
}

} // namespace crenovix
