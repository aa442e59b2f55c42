#include "cli/Commands.h"
#include "cli/ConsoleListView.h"
#include "cli/Json.h"
#include "cli/PrintableText.h"
#include "device/SerialEnumeration.h"
#include "platform/Platform.h"

namespace crenovix::cli {

int RunList(Args args, std::ostream& out, std::ostream& err) {
    CConsoleListView view;
    bool json = false;
    for (const std::string& arg : args) {
        if (arg == "--com") {
            view.comPortsTicked = true;
        } else if (arg == "--json") {
            json = true;
        } else {
            err << "usage: crenovix-cli list [--com] [--json]\n";
            return kExitUsage;
        }
    }
    const auto platform = CreateSystemPlatform()->OpenDevices();
    CDeviceEnumerator enumerator(platform->SerialPorts(), platform->HidInterfaces());
    SDeviceListState devices;
    try {
        RefreshDeviceList(devices, view, enumerator);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return kExitUsage;
    }
    if (devices.nDeviceCount == 0) {
        (json ? err : out) << "Device not found!\n";
        return kExitNoCharger;
    }
    for (int row = 0; row < devices.nDeviceCount; ++row) {
        const SDeviceEntry& entry = devices.rows[row];
        const std::string& line = view.lines[static_cast<std::size_t>(row)];
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
