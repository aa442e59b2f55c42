#include "doctor/PortReport.h"

#include "device/ChargerIdentity.h"
#include "device/DeviceTable.h"
#include "device/SerialEnumeration.h"
#include "doctor/Doctor.h"
#include "text/Json.h"
#include "text/PrintableText.h"

#include <algorithm>
#include <cstdio>

namespace crenovix::doctor {

namespace {

// The baud rate a run first opens a serial port at.
constexpr std::uint32_t kFirstBaud = 9600;

std::string HidDescription(IHidScanDevice& device, bool& charger) {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (!device.GetAttributes(vendorId, productId)) {
        return "attributes unreadable";
    }
    charger = IsChargerUsbId(vendorId, productId);
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vendorId, productId);
    const auto product = device.GetProductString();
    return product ? std::string(ids) + " " + HidStringToText(*product) : std::string(ids);
}

} // namespace

std::vector<SPortLine> ListHidAccess(IHidInterfaceSet& hid, IPortOpener& opener) {
    std::vector<SPortLine> lines;
    for (int position = 0; position < kHidMaxPositions; ++position) {
        std::unique_ptr<IHidScanDevice> device;
        const EHidScanOpen scan = hid.OpenHidForScan(position, device);
        if (scan == EHidScanOpen::NoInterface) {
            break;
        }
        SPortLine line{"HID" + std::to_string(position), "held by the system", false, false, {}};
        if (scan == EHidScanOpen::Opened) {
            line.description = HidDescription(*device, line.charger);
            device.reset();
            line.opens = opener.OpenHid(position) != nullptr;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<SPortLine> ListPortAccess(IHidInterfaceSet& hid, ISerialPlatform& serial,
                                      IPortOpener& opener) {
    std::vector<SPortLine> lines = ListHidAccess(hid, opener);
    SerInfoList ports;
    ListDevices(serial, hid, ports, false);
    for (const SSerInfo& record : ports) {
        if (record.nHidIndex >= 0) {
            continue; // HID chargers are listed above
        }
        SPortLine line{PortNameFromFriendly(record.strFriendly),
                       record.strFriendly,
                       record.bCharger == 1,
                       false,
                       {}};
        if (const auto path = opener.SerialPathFor(line.port)) {
            line.opens = opener.OpenSerial(*path, kFirstBaud) != nullptr;
        }
        if (line.charger) {
            line.latencyTimerMs = serial.LatencyTimerMs(line.port);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

SDoctorReport PortAccessReport(const std::vector<SPortLine>& lines) {
    SDoctorReport report;
    for (const SPortLine& line : lines) {
        if (!line.charger) {
            continue;
        }
        SChargerNode charger;
        charger.node = line.port;
        charger.product = line.description;
        charger.open = line.opens ? ENodeOpen::Opened : ENodeOpen::Failed;
        charger.latencyTimerMs = line.latencyTimerMs;
        report.chargers.push_back(charger);
        // The bridge's driver reads its setting when the port is installed.
        if (auto note = LatencyTimerNote(
                charger, "In Device Manager, open the Properties of " + line.port +
                             ", Port Settings, Advanced..., set Latency Timer (msec) to 1, then "
                             "unplug the charger and plug it in again.")) {
            report.findings.push_back(std::move(*note));
        }
        if (!line.opens) {
            report.findings.push_back(
                {ESeverity::Problem, "charger-access", line.port,
                 "The charger at " + line.port + " (" + line.description +
                     ") does not open: another program holds it.",
                 "Close the other program that uses " + line.port +
                     " (a terminal or another updater), or unplug the charger and plug it in "
                     "again."});
        }
    }
    return report;
}

int PrintPortAccess(const std::vector<SPortLine>& lines, bool json, std::ostream& out) {
    const SDoctorReport report = PortAccessReport(lines);
    const auto problems = static_cast<int>(
        std::count_if(report.findings.begin(), report.findings.end(),
                      [](const SFinding& f) { return f.severity == ESeverity::Problem; }));
    if (json) {
        out << "{\"ok\":" << (problems == 0 ? "true" : "false") << ",\"ports\":[";
        for (std::size_t i = 0; i < lines.size(); ++i) {
            out << (i == 0 ? "" : ",") << "{\"port\":" << JsonString(lines[i].port)
                << ",\"description\":" << JsonString(lines[i].description)
                << ",\"charger\":" << (lines[i].charger ? "true" : "false")
                << ",\"opens\":" << (lines[i].opens ? "true" : "false");
            if (lines[i].latencyTimerMs) {
                out << ",\"latency_timer_ms\":" << *lines[i].latencyTimerMs;
            }
            out << "}";
        }
        out << "]}\n";
        return problems == 0 ? 0 : 1;
    }
    if (lines.empty()) {
        out << "No HID interfaces and no serial ports found.\n";
    }
    for (const SPortLine& line : lines) {
        out << Printable(line.port) << "  " << Printable(line.description)
            << (line.charger ? " (charger)" : "") << ": "
            << (line.opens ? "opens" : "does not open") << "\n";
        if (line.latencyTimerMs) {
            out << "  latency timer: " << *line.latencyTimerMs << " ms\n";
        }
    }
    PrintFindings(report, out);
    return problems == 0 ? 0 : 1;
}

} // namespace crenovix::doctor
