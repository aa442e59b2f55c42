// Open file descriptors before and after a series of update runs and device-list refills: a run
// that ends, however it ends, and a refill must give back every descriptor they took.
//
// Each series runs once first, so that whatever a library opens once for the life of the process
// is open before the count; then it runs kRounds more times and the count must be the same. A
// leak of even one descriptor per run shows as kRounds more.
//
// The serial runs go through the real termios adapter against the simulated charger behind a
// pseudo-terminal, in real time: one successful run (about a second), one refused at the boot
// request (a plain port's charger given a file for another model: its "5" ends the run at once)
// and one whose port cannot be opened. The HID runs use the simulated bench on a virtual clock.
#include "device/SerialEnumeration.h"
#include "device/linux/HidApiDevices.h"
#include "device/linux/LinuxPortOpener.h"
#include "device/linux/UdevSerialPlatform.h"
#include "protocol/UpdateRun.h"
#include "sim/SimBench.h"
#include "sim/linux/SimPtyHost.h"
#include "support/FakeDeviceList.h"
#include "support/FakeUpdateWindow.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

constexpr int kRounds = 2;

// The entries of /proc/self/fd with what each refers to, for the failure message. The listing's
// own descriptor is among them every time.
std::vector<std::string> OpenDescriptors() {
    std::vector<std::string> fds;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(entry.path(), ec);
        fds.push_back(entry.path().filename().string() + " -> " +
                      (ec ? std::string("?") : target.string()));
    }
    return fds;
}

std::string Describe(const std::vector<std::string>& fds) {
    std::string text;
    for (const std::string& fd : fds) {
        text += "  " + fd + "\n";
    }
    return text;
}

// Runs `series` once to let one-off descriptors open, then kRounds times, and compares.
void ExpectNoGrowth(const std::function<void()>& series) {
    series();
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    const std::vector<std::string> before = OpenDescriptors();
    for (int round = 0; round < kRounds; ++round) {
        series();
    }
    const std::vector<std::string> after = OpenDescriptors();
    EXPECT_EQ(after.size(), before.size()) << "before:\n"
                                           << Describe(before) << "after:\n"
                                           << Describe(after);
}

// The update file, written once per test.
class DescriptorLeakTest : public ::testing::Test {
protected:
    DescriptorLeakTest() {
        const SPackedFile file = Pack(EPackVariant::TripleDes, {}, PatternPayload(100, 7));
        path_ = dir_.File("update.bin");
        WriteBytes(path_, file.bytes);
    }

    CTempDir dir_;
    std::string path_;
};

// One HID run on a fresh simulated bench; `faults` shape the charger.
void RunHidOnBench(const std::string& path, std::vector<sim::SFault> faults,
                   const std::string& expectedStart) {
    CVirtualClock clock;
    sim::CSimBench bench(clock);
    bench.AddHidInterface({});
    sim::SSimHidConfig config;
    config.identity.nHidPosition = 1;
    config.faults = std::move(faults);
    bench.AddHidCharger(config);

    SDeviceListState devices;
    CFakeUpdateWindow window(devices, &clock);
    CFakeDeviceListView listView;
    CDeviceEnumerator enumerator(bench, bench);
    RefreshDeviceList(devices, listView, enumerator);
    bench.TakeDevicesChanged();
    window.onDispatch = [&] {
        if (bench.TakeDevicesChanged()) {
            RefreshDeviceList(devices, listView, enumerator);
        }
    };
    window.path = path;
    window.selection = 0;
    CFixedNonces nonces({1, 2, 3, 4, 5});
    std::array<std::uint8_t, kUpdateImageSize> image{};
    SUpdateContext context{window, clock, bench, devices, nonces, image};
    OnUpdateClicked(context, [&] { RefreshDeviceList(devices, listView, enumerator); });

    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_TRUE(window.boxes[0].text.starts_with(expectedStart)) << window.boxes[0].text;
    EXPECT_EQ(bench.OpenChannels(), 0);
}

TEST_F(DescriptorLeakTest, HidRunsOnTheSimulatedBench) {
    ExpectNoGrowth([this] {
        RunHidOnBench(path_, {}, "Upgrade completion!");
        RunHidOnBench(
            path_,
            {{sim::ESimStep::Reconnection, sim::kSimAnyIndex, sim::ESimFaultKind::NeverReturn}},
            "Error opening USB HID");
        RunHidOnBench(
            path_,
            {{sim::ESimStep::DataBlock, 1, sim::ESimFaultKind::Disappear, sim::kSimEveryTime}},
            "1008: Error communication.");
    });
}

// One serial run through the termios adapter. Without a charger the row names `portPath`.
void RunSerialOnPty(const std::string& path, const sim::SSimSerialConfig* charger,
                    const std::string& portPath, bool plainPort, const std::string& expected) {
    CSteadyClock chargerClock;
    std::unique_ptr<sim::CSimPtyHost> host;
    std::string port = portPath;
    if (charger != nullptr) {
        int error = 0;
        host = sim::CSimPtyHost::Start(chargerClock, *charger, error);
        ASSERT_NE(host, nullptr) << "pseudo-terminal: errno " << error;
        port = host->SlavePath();
    }
    CSteadyClock clock;
    CLinuxPortOpener opener;
    SDeviceListState devices;
    CFakeUpdateWindow window(devices);
    devices.rows[0] = plainPort ? SDeviceEntry{"COMx", "", port}
                                : SDeviceEntry{"Kavro Kelvorin K4", "SIM0001", port};
    devices.nDeviceCount = 1;
    window.path = path;
    window.selection = 0;
    CNonceGenerator nonces(1);
    std::array<std::uint8_t, kUpdateImageSize> image{};
    SUpdateContext context{window, clock, opener, devices, nonces, image};
    RunSerialUpdate(context);

    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, expected);
}

TEST_F(DescriptorLeakTest, SerialRunsThroughTheTermiosAdapter) {
    sim::SSimSerialConfig usb;
    usb.identity.strType = "Kavro Kelvorin K4";
    sim::SSimSerialConfig otherModel;
    otherModel.bUsb = false;
    otherModel.identity.strType = "";
    otherModel.identity.byModelCode = 0x0B; // the file is for 0x0A
    const std::string missingPort = dir_.File("no-such-port");

    ExpectNoGrowth([&] {
        RunSerialOnPty(path_, &usb, "", false, "Upgrade completion!");
        RunSerialOnPty(path_, &otherModel, "", true,
                       "The update file is in inconformity with the device.");
        RunSerialOnPty(path_, nullptr, missingPort, true, "Error opening COM port");
    });
}

TEST_F(DescriptorLeakTest, DeviceListRefillsThroughUdevAndHidapi) {
    CUdevSerialPlatform serialPorts;
    CHidApiInterfaceSet hidInterfaces;
    CDeviceEnumerator enumerator(serialPorts, hidInterfaces);
    ExpectNoGrowth([&] {
        for (const bool comPorts : {false, true}) { // with the box ticked every port is probed
            SDeviceListState devices;
            CFakeDeviceListView view;
            view.boxTicked = comPorts;
            try {
                RefreshDeviceList(devices, view, enumerator);
            } catch (const CEnumerationError& error) {
                ADD_FAILURE() << "enumeration: " << error.what();
            }
        }
    });
}

} // namespace
