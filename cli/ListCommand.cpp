#include "cli/Commands.h"
#include "cli/ConsoleListView.h"
#include "device/SerialEnumeration.h"
#include "device/linux/HidApiDevices.h"
#include "device/linux/UdevSerialPlatform.h"

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
    CUdevSerialPlatform serialPorts;
    CHidApiInterfaceSet hidInterfaces;
    CDeviceEnumerator enumerator(serialPorts, hidInterfaces);
    SDeviceListState devices;
    try {
        RefreshDeviceList(devices, view, enumerator);
    } catch (const CEnumerationError& error) {
        err << error.what() << "\n";
        return 2;
    }
    if (devices.nDeviceCount == 0) {
        out << "Device not found!\n";
        return 0;
    }
    for (int row = 0; row < devices.nDeviceCount; ++row) {
        out << devices.rows[row].strPort << "  " << view.lines[static_cast<std::size_t>(row)]
            << "\n";
    }
    return 0;
}

} // namespace crenovix::cli
