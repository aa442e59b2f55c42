#include "sim/DemoChargers.h"

namespace crenovix::sim {

std::optional<std::string> AddDemoChargers(CSimBench& bench, std::string_view names,
                                           std::uint8_t modelCode, const std::string& type) {
    int hidChargers = 0;
    int serialChargers = 0;
    while (!names.empty()) {
        const std::size_t comma = names.find(',');
        const std::string_view word = names.substr(0, comma);
        names = comma == std::string_view::npos ? std::string_view{} : names.substr(comma + 1);
        if (word == "hid") {
            if (hidChargers == 0) {
                bench.AddHidInterface({}); // a keyboard takes position 0
            }
            SSimHidConfig config;
            config.identity.byModelCode = modelCode;
            config.identity.strType = type;
            config.identity.strSerial = "SIM" + std::to_string(1001 + hidChargers);
            config.identity.nHidPosition = 1 + hidChargers++;
            bench.AddHidCharger(config);
        } else if (word == "serial") {
            SSimSerialConfig config;
            config.identity.byModelCode = modelCode;
            // A USB serial charger announces itself by a bus description beginning "Kavro".
            config.identity.strType = "Kavro " + type;
            config.identity.strSerial = "SIM" + std::to_string(2001 + serialChargers);
            config.identity.strPortName = "simtty" + std::to_string(serialChargers++);
            bench.AddSerialCharger(config);
        } else if (!word.empty()) {
            return "unknown simulated charger '" + std::string(word) + "' (use hid or serial)";
        }
    }
    return std::nullopt;
}

} // namespace crenovix::sim
