// crenovix_serial_over_wine: the serial dialogue through the real Win32 adapter, run by
// serial-over-wine.sh against the simulated charger behind a COM port that wine maps to a
// pseudo-terminal.
//
// Usage: crenovix_serial_over_wine.exe <COMn> usb|plain
//   usb    the row of a USB serial charger (its boot loader is talked to at 128000)
//   plain  the row of a plain port (everything at 9600)
//
// First the probe of the enumeration on the port. (Wine does not keep a second open of a serial
// device out, whatever the share mode, so a port held by another program cannot be shown to be
// dropped here.) Then one update of a 3DES file with a 100-byte payload in real time. Prints
//   probe <0|1>
//   expected <length> <FNV-1a 64 of the payload, 16 hex digits>
//   box <title>|<text>       each message box of the run, in order
// and exits 0; 2 when the arguments are wrong or the file cannot be written. Whether the run
// succeeded is for the caller to judge against what the charger recorded.
#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/win32/Win32PortOpener.h"
#include "device/win32/Win32SerialPlatform.h"
#include "protocol/UpdateRun.h"
#include "sim/SimCharger.h"
#include "support/FakeUpdateWindow.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

using namespace crenovix;
using namespace crenovix::testsupport;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <COMn> usb|plain\n", argv[0]);
        return 2;
    }
    const std::string portName = argv[1];
    const std::string kind = argv[2];
    const std::optional<std::string> path = FormatComPortPath(portName);
    if (!path || (kind != "usb" && kind != "plain")) {
        std::fprintf(stderr, "usage: %s <COMn> usb|plain\n", argv[0]);
        return 2;
    }
    CWin32SerialPlatform platform;
    std::printf("probe %d\n", platform.ProbePort(*path) ? 1 : 0);

    CTempDir dir;
    const SPackedFile file = Pack(EPackVariant::TripleDes, {}, PatternPayload(100, 3));
    SDeviceListState devices;
    CFakeUpdateWindow window(devices);
    window.path = dir.File("update.bin");
    try {
        WriteBytes(window.path, file.bytes);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    devices.rows[0] = kind == "usb" ? SDeviceEntry{"Kavro Kelvorin K4", "SIM0001", portName}
                                    : SDeviceEntry{"COMx", "", portName};
    devices.nDeviceCount = 1;
    window.selection = 0;

    CSteadyClock clock;
    CWin32PortOpener opener;
    CNonceGenerator nonces(1);
    static std::array<std::uint8_t, kUpdateImageSize> image{}; // too large for the stack
    SUpdateContext context{window, clock, opener, devices, nonces, image};
    RunSerialUpdate(context);

    std::printf("expected %zu %016llx\n", file.loadedPayload.size(),
                static_cast<unsigned long long>(crenovix::sim::PayloadDigest(file.loadedPayload)));
    for (const SMessageBoxCall& box : window.boxes) {
        std::printf("box %s|%s\n", box.title.c_str(), box.text.c_str());
    }
    return 0;
}
