// The demo desk over a system platform: each user's desk of its own, the chargers the list names
// with the model and type asked for, the system's online services and shell, and the window's
// device poll only where nothing else tells of changes.
#include "platform/DemoDesk.h"
#include "platform/ProgramServices.h"
#include "support/FakeDownloader.h"
#include "support/FakeShell.h"
#include "support/FakeTempFiles.h"
#include "support/FakeUpdateLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace crenovix {
namespace {

// A system whose devices tell of nothing (as Windows to a program without a window).
class CQuietSystem final : public IPlatform {
    class CDevices final : public IDevices {
    public:
        ISerialPlatform& SerialPorts() override { return bench_; }
        IHidInterfaceSet& HidInterfaces() override { return bench_; }
        IPortOpener& Ports() override { return bench_; }
        EDeviceNotices Notices() const override { return EDeviceNotices::None; }
        bool TakeDevicesChanged() override { return false; }
        bool LastSerialOpenBusy() override { return false; }

    private:
        CVirtualClock clock_;
        sim::CSimBench bench_{clock_};
    };

public:
    int onlineMade = 0;
    int shellsMade = 0;
    std::string logPath;
    std::unique_ptr<IDevices> OpenDevices() override { return std::make_unique<CDevices>(); }
    std::unique_ptr<COnlineServices> CreateOnline() override {
        ++onlineMade;
        return std::make_unique<COnlineServices>(
            std::make_unique<testsupport::CFakeDownloader>(),
            std::make_unique<testsupport::CFakeDownloader>(), std::make_unique<CIniFileReader>(),
            std::make_unique<testsupport::CFakeTempFiles>(std::filesystem::temp_directory_path()));
    }
    std::unique_ptr<IShell> CreateShell() override {
        ++shellsMade;
        return std::make_unique<testsupport::CFakeShell>();
    }
    std::unique_ptr<IUpdateLog> OpenUpdateLog(const std::string& path,
                                              std::string& error) override {
        if (path == "/locked.jsonl") {
            error = "Permission denied";
            return nullptr;
        }
        logPath = path;
        return std::make_unique<testsupport::CFakeUpdateLog>();
    }
};

TEST(DemoDeskTest, EveryUserGetsADeskOfItsOwnWithTheListedChargers) {
    auto system = std::make_unique<CQuietSystem>();
    CQuietSystem& quiet = *system;
    std::string error;
    const auto desk =
        CDemoDesk::Create(std::move(system), "hid,serial,hid:refuse", error, 0x0B, "Kelvorin K8");
    ASSERT_NE(desk, nullptr) << error;
    const auto first = desk->OpenDevices();
    const auto second = desk->OpenDevices();
    auto& a = dynamic_cast<CDemoDevices&>(*first);
    auto& b = dynamic_cast<CDemoDevices&>(*second);
    EXPECT_EQ(a.Bench().HidChargerCount(), 2u);
    EXPECT_EQ(a.Bench().SerialChargerCount(), 1u);
    for (const char* port : {"HID1", "HID2", "simtty0"}) {
        ASSERT_NE(a.Charger(port), nullptr) << port;
        EXPECT_NE(a.Charger(port), b.Charger(port)) << port; // runs share no charger
        EXPECT_EQ(a.Charger(port)->Identity().byModelCode, 0x0B) << port;
    }
    EXPECT_EQ(a.Charger("HID2")->Identity().strSerial, "SIM1002");
    EXPECT_EQ(a.Charger("simtty0")->Identity().strType, "Kavro Kelvorin K8");
    EXPECT_EQ(a.Charger("HID3"), nullptr);
    EXPECT_EQ(a.Notices(), EDeviceNotices::Poll);
    // Known as simulated by what its devices say; a charger that stored nothing yet, or a port
    // the desk does not list, passes no payload check.
    EXPECT_TRUE(first->Simulated());
    EXPECT_FALSE(quiet.OpenDevices()->Simulated());
    EXPECT_FALSE(first->StoredPayloadIs("HID1", "SIM1001", {}));
    EXPECT_FALSE(first->StoredPayloadIs("HID3", "", {}));

    EXPECT_NE(desk->CreateOnline(), nullptr);
    EXPECT_NE(desk->CreateShell(), nullptr);
    EXPECT_EQ(quiet.onlineMade, 1);
    EXPECT_EQ(quiet.shellsMade, 1);
    EXPECT_NE(desk->OpenUpdateLog("box.jsonl", error), nullptr);
    EXPECT_EQ(quiet.logPath, "box.jsonl"); // simulated runs are recorded where real ones are
}

// A charger is its serial number where no other has it: once the first was pulled out, the one
// made at HID2 is listed at HID1 and the third at HID2, so the port the third's run started at
// names its neighbour. Twins are told apart by port.
TEST(DemoDeskTest, AChargerIsFoundByItsSerialNumberWhenPositionsMoved) {
    CDemoDevices desk(std::chrono::steady_clock::now() - std::chrono::seconds(2));
    ASSERT_FALSE(sim::AddDemoChargers(desk.Bench(), "hid@0-1000,hid,hid,hid,hid:twin"));
    ASSERT_NE(desk.Charger("HID2", "SIM1003"), nullptr);
    EXPECT_EQ(desk.Charger("HID2", "SIM1003")->Identity().strSerial, "SIM1003");
    EXPECT_EQ(desk.Charger("HID4", "SIM1004"), &desk.Bench().HidCharger(3));
    EXPECT_EQ(desk.Charger("HID5", "SIM1004"), &desk.Bench().HidCharger(4));
}

TEST(DemoDeskTest, AListNotUnderstoodMakesNoDesk) {
    std::string error;
    EXPECT_EQ(CDemoDesk::Create(std::make_unique<CQuietSystem>(), "hid,usb", error), nullptr);
    EXPECT_EQ(error, "unknown simulated charger 'usb' (use hid or serial)");
    EXPECT_EQ(CreateProgramServices(std::make_unique<CQuietSystem>(), "serial:moved", error, 1),
              nullptr);
    EXPECT_EQ(error, "unknown fault 'moved' for a serial charger");
    EXPECT_EQ(CDemoDesk::Create(std::make_unique<CQuietSystem>(), "hid@500-200", error), nullptr);
    EXPECT_EQ(error, "bad times '500-200' (use @PLUG or @PLUG-UNPLUG, in milliseconds)");
}

// The window polls the demo desk, whose first answer is taken before the window's first listing;
// the system's devices it does not poll.
TEST(DemoDeskTest, TheWindowPollsOnlyTheDemoDesk) {
    std::string error;
    const auto demo = CreateProgramServices(std::make_unique<CQuietSystem>(), "hid", error, 1);
    ASSERT_NE(demo, nullptr) << error;
    const std::function<bool()> poll = demo->DevicesChangedPoll();
    ASSERT_TRUE(poll);
    EXPECT_FALSE(poll());
    EXPECT_TRUE(demo->Simulated());
    const auto system = CreateProgramServices(std::make_unique<CQuietSystem>(), "", error, 1);
    ASSERT_NE(system, nullptr);
    EXPECT_FALSE(system->DevicesChangedPoll());
    EXPECT_FALSE(system->Simulated());
}

// The settings file chooses the log where the environment does not; the window's change is
// saved there, and one that cannot be opened keeps the log and the file as they were.
TEST(DemoDeskTest, TheUpdateLogFollowsTheSettingsFile) {
    testsupport::CTempDir dir;
    const std::string settings = dir.File("settings.ini");
    ASSERT_EQ(WriteSettingsFile(settings, "Theme=dark\nUpdateLog=/f.jsonl\nKeepUpdateLog=1\n"), "");
    auto system = std::make_unique<CQuietSystem>();
    CQuietSystem& platform = *system;
    std::string error;
    const auto services = CreateProgramServices(std::move(system), "", error, 1);
    ASSERT_NE(services, nullptr);
    EXPECT_EQ(services->UseUpdateLog(settings, "/d.jsonl", "/env.jsonl", nullptr), "");
    EXPECT_EQ(platform.logPath, "/env.jsonl");
    EXPECT_EQ(services->UseUpdateLog(settings, "/d.jsonl", nullptr, "1"), "");
    EXPECT_EQ(services->UpdateLog(), nullptr);
    EXPECT_EQ(services->UseUpdateLog(settings, "/d.jsonl", nullptr, nullptr), "");
    EXPECT_EQ(platform.logPath, "/f.jsonl");

    SUpdateLogSettings window = services->WindowServices({}, {}, nullptr).updateLogSettings;
    EXPECT_EQ(window.current, (SUpdateLogSetting{"/f.jsonl", true}));
    EXPECT_EQ(window.defaultPath, "/d.jsonl");
    IUpdateLog* const before = services->UpdateLog();
    EXPECT_EQ(services->StationServices().log, before);
    EXPECT_EQ(window.change({"/locked.jsonl", true}).warning, LogFailureText("Permission denied"));
    EXPECT_EQ(services->UpdateLog(), before);
    const SUpdateLogChange off = window.change({"/g.jsonl", false});
    EXPECT_TRUE(off.warning.empty() && off.saveError.empty() && off.log == nullptr);
    EXPECT_EQ(services->UpdateLog(), nullptr);
    EXPECT_EQ(services->StationServices().log, nullptr); // a station opened now keeps none
    EXPECT_EQ(ReadSettingsFile(settings), "Theme=dark\nUpdateLog=/g.jsonl\nKeepUpdateLog=0\n");
}

} // namespace
} // namespace crenovix
