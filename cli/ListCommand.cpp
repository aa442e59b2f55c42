#include "cli/Commands.h"
#include "cli/ConsoleListView.h"
#include "cli/Platform.h"
#include "cli/PrintableText.h"
#include "device/SerialEnumeration.h"

namespace crenovix::cli {

int RunList(Args args, std::ostream& out, std::ostream& err) {
    CConsoleListView view;
    for (const std::string& arg : args) {
        if (arg == "--com") {
            view.comPortsTicked = true;
        } else {
            err << "usage: crenovix-cli list [--com]\n";
            return 2;
        }
    }
    const auto platform = CreateCliPlatform();
    CDeviceEnumerator enumerator(platform->SerialPorts(), platform->HidInterfaces());
    SDeviceListState devices;
    try {
        RefreshDeviceList(devices, view, enumerator);
    } catch (const CEnumerationError& error) {
        err << Printable(error.what()) << "\n";
        return 2;
    }
    if (devices.nDeviceCount == 0) {
        out << "Device not found!\n";
        return 0;
    }
    for (int row = 0; row < devices.nDeviceCount; ++row) {
        out << Printable(devices.rows[row].strPort) << "  "
            << Printable(view.lines[static_cast<std::size_t>(row)]) << "\n";
    }
    return 0;
}

} // namespace crenovix::cli
