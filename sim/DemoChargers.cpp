#include "sim/DemoChargers.h"

namespace crenovix::sim {

namespace {

// The faults a demo charger may be given after a colon: what goes wrong in a box of chargers.
struct SDemoFault {
    std::string_view name;
    ESimStep hidStep;
    ESimStep serialStep;
    ESimFaultKind kind;
    int index;
};

constexpr int kUnplugBlock = 10; // leaves in the middle of a transfer of the sample files
constexpr int kMovedOrder = 100; // comes back after every other HID interface
const SDemoFault kDemoFaults[] = {
    // The application firmware answers the boot request "5": the file is for another model.
    {"refuse", ESimStep::BootRequest, ESimStep::BootRequest, ESimFaultKind::Refuse, kSimAnyIndex},
    // The boot loader never comes up after the restart.
    {"noreturn", ESimStep::Reconnection, ESimStep::Reconnection, ESimFaultKind::NeverReturn,
     kSimAnyIndex},
    // The charger is unplugged half-way through the transfer.
    {"unplug", ESimStep::DataBlock, ESimStep::DataFrame, ESimFaultKind::Disappear, kUnplugBlock},
    // HID: the boot loader comes back at another position in the interface set.
    {"moved", ESimStep::Reconnection, ESimStep::Reconnection, ESimFaultKind::ReturnElsewhere,
     kSimAnyIndex},
};

// The fault `name` for a charger on `transport`, or nothing when it names none that applies.
std::optional<SFault> DemoFault(std::string_view name, ESimTransport transport) {
    for (const SDemoFault& fault : kDemoFaults) {
        const ESimStep step = transport == ESimTransport::Hid ? fault.hidStep : fault.serialStep;
        if (fault.name == name && SimFaultApplies(transport, step, fault.kind)) {
            SFault planned;
            planned.step = step;
            planned.index = fault.index;
            planned.kind = fault.kind;
            planned.count = kSimEveryTime;
            planned.nPosition = kMovedOrder;
            return planned;
        }
    }
    return std::nullopt;
}

// Milliseconds: digits only, at most nine of them.
bool ParseMs(std::string_view text, std::uint32_t& ms) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    ms = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        ms = ms * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return true;
}

// "PLUG" or "PLUG-UNPLUG", the second later than the first.
bool ParseTimes(std::string_view text, std::uint32_t& pluggedAt, std::uint32_t& unpluggedAt) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        return ParseMs(text, pluggedAt);
    }
    return ParseMs(text.substr(0, dash), pluggedAt) &&
           ParseMs(text.substr(dash + 1), unpluggedAt) && unpluggedAt > pluggedAt;
}

} // namespace

std::optional<std::string> AddDemoChargers(CSimBench& bench, std::string_view names,
                                           std::uint8_t modelCode, const std::string& type) {
    int hidChargers = 0;
    int serialChargers = 0;
    while (!names.empty()) {
        const std::size_t comma = names.find(',');
        std::string_view word = names.substr(0, comma);
        names = comma == std::string_view::npos ? std::string_view{} : names.substr(comma + 1);
        const std::size_t colon = word.find(':');
        const std::string_view faultName =
            colon == std::string_view::npos ? std::string_view{} : word.substr(colon + 1);
        word = word.substr(0, colon);
        // "@PLUG" or "@PLUG-UNPLUG": when the charger comes and goes, in ms of the desk's time.
        std::uint32_t pluggedAt = 0;
        std::uint32_t unpluggedAt = 0;
        if (const std::size_t at = word.find('@'); at != std::string_view::npos) {
            if (!ParseTimes(word.substr(at + 1), pluggedAt, unpluggedAt)) {
                return "bad times '" + std::string(word.substr(at + 1)) +
                       "' (use @PLUG or @PLUG-UNPLUG, in milliseconds)";
            }
            word = word.substr(0, at);
        }
        // Not a fault: the serial number of the charger before it on the same transport, as two
        // chargers numbered alike.
        const bool twin = faultName == "twin";
        std::vector<SFault> faults;
        if (!faultName.empty() && !twin) {
            const auto fault =
                DemoFault(faultName, word == "hid" ? ESimTransport::Hid : ESimTransport::Serial);
            if (!fault) {
                return "unknown fault '" + std::string(faultName) + "' for a " + std::string(word) +
                       " charger";
            }
            faults.push_back(*fault);
        }
        if (word == "hid") {
            if (hidChargers == 0) {
                bench.AddHidInterface({}); // a keyboard takes position 0
            }
            SSimHidConfig config;
            config.identity.byModelCode = modelCode;
            config.identity.strType = type;
            config.identity.strSerial =
                "SIM" + std::to_string(1001 + hidChargers - (twin && hidChargers > 0 ? 1 : 0));
            config.identity.nHidPosition = 1 + hidChargers++;
            config.identity.dwPluggedAtMs = pluggedAt;
            config.identity.dwUnpluggedAtMs = unpluggedAt;
            config.faults = faults;
            bench.AddHidCharger(config);
        } else if (word == "serial") {
            SSimSerialConfig config;
            config.identity.byModelCode = modelCode;
            // A USB serial charger announces itself by a bus description beginning "Kavro".
            config.identity.strType = "Kavro " + type;
            config.identity.strSerial =
                "SIM" +
                std::to_string(2001 + serialChargers - (twin && serialChargers > 0 ? 1 : 0));
            config.identity.strPortName = "simtty" + std::to_string(serialChargers++);
            config.identity.dwPluggedAtMs = pluggedAt;
            config.identity.dwUnpluggedAtMs = unpluggedAt;
            config.faults = faults;
            bench.AddSerialCharger(config);
        } else if (!word.empty()) {
            return "unknown simulated charger '" + std::string(word) + "' (use hid or serial)";
        }
    }
    return std::nullopt;
}

} // namespace crenovix::sim
