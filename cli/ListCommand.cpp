#include "app/RunTable.h"
#include "cli/Commands.h"
#include "device/SerialEnumeration.h"
#include "platform/Platform.h"
#include "text/Json.h"
#include "text/PrintableText.h"

#include <algorithm>

namespace crenovix::cli {

int RunList(Args args, std::ostream& out, std::ostream& err) {
    bool comPorts = false;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--com") {
            comPorts = true;
        } else if (arg == "--json") {
            json = true;
        } else {
            err << "usage: crenovix-cli list [--com] [--json]\n";
            return kExitUsage;
        }
    }
    const auto platform = CreateSystemPlatform()->OpenDevices();
    CDeviceEnumerator enumerator(platform->SerialPorts(), platform->HidInterfaces());
    std::vector<SListedRow> rows;
    try {
        rows = ListRows(enumerator, comPorts);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return kExitUsage;
    }
    // The list is the window's: the rows its table holds.
    rows.resize(std::min<std::size_t>(rows.size(), kDeviceTableRows));
    if (rows.empty()) {
        (json ? err : out) << "Device not found!\n";
        return kExitNoCharger;
    }
    for (const auto& [entry, line] : rows) {
        if (json) {
            out << CJsonObject()
                       .Add("port", entry.strPort)
                       .Add("type", entry.strType)
                       .Add("serial", entry.strSerial)
                       .Add("line", line)
                       .Text()
                << "\n";
        } else {
            out << Printable(entry.strPort) << "  " << Printable(line) << "\n";
        }
    }
    return kExitSuccess;
}

} // namespace crenovix::cli
