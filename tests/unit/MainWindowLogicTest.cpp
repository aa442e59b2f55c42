#include "app/MainWindowLogic.h"
#include "app/DialogTemplate.h"
#include "app/StartUp.h"
#include "app/StationWindow.h"
#include "cli/Commands.h"
#include "sim/SimBench.h"
#include "support/FakeDeviceList.h"
#include "support/FakeMainWindowView.h"
#include "support/FakeUpdateLog.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

constexpr std::array<int, 5> kRunLocked = {ctl::kPath, ctl::kOpen, ctl::kDownload, ctl::kComPorts,
                                           ctl::kDeviceList};

SSerInfo Charger(const std::string& serial) {
    return {"##" + serial, "", "Kavro USB(HID1)", 1, "", "Kelvorin K4", 1};
}

// The bench's devices, or an enumeration error while `failure` is set.
struct SBenchEnumerator final : IDeviceEnumerator {
    explicit SBenchEnumerator(sim::CSimBench& bench) : devices(bench, bench) {}
    void ListDevices(SerInfoList& list, bool probe) override {
        if (failure) {
            throw CEnumerationError(*failure);
        }
        devices.ListDevices(list, probe);
    }
    CDeviceEnumerator devices;
    std::optional<std::string> failure;
};

struct SCountingInhibitor final : ISleepInhibitor {
    void Acquire() override { ++held; }
    void Release() override { --held; }
    int held = 0;
};

class MainWindowLogicTest : public ::testing::Test {
protected:
    CMainWindowLogic MakeLogic(IDeviceEnumerator& enumerator, IUpdateLog* log = nullptr,
                               SUpdateLogSettings logSettings = {}) {
        return CMainWindowLogic(view_, devices_,
                                {enumerator, bench_, clock_, nonces_,
                                 [this](const CCancelToken&) {
                                     view_.Log("version check");
                                     return newRelease_;
                                 },
                                 [this] { view_.Log("download window"); }, &inhibitor_,
                                 [this] { return bench_.TakeDevicesChanged(); }, log,
                                 std::move(logSettings)},
                                image_);
    }
    std::string File(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        WriteBytes(dir_.File(name), bytes);
        return dir_.File(name);
    }
    std::string ValidFile(const std::string& version = "V1.05", const std::string& name = "a.bin") {
        SHeaderFields fields;
        fields.version = version;
        return File(name, Pack(EPackVariant::TripleDes, fields, PatternPayload(640, 3)).bytes);
    }
    void Type(const std::string& path) {
        view_.texts[ctl::kPath] = path;
        logic_.OnPathEdited();
    }
    bool UpdateEnabled() const { return view_.IsEnabled(ctl::kUpdate); }

    CFakeMainWindowView view_;
    SDeviceListState devices_;
    CFakeDeviceEnumerator scripted_;
    CVirtualClock clock_;
    sim::CSimBench bench_{clock_};
    CFixedNonces nonces_{{0x1234}};
    SCountingInhibitor inhibitor_;
    std::optional<std::string> newRelease_;
    std::array<std::uint8_t, kUpdateImageSize> image_{};
    CMainWindowLogic logic_ = MakeLogic(scripted_);
    CTempDir dir_;
};

TEST_F(MainWindowLogicTest, InitDialogRunsItsStepsInOrder) {
    view_.checked[ctl::kComPorts] = true;
    newRelease_ = "https://example.invalid/release";
    logic_.OnInitDialog();
    EXPECT_EQ(scripted_.probeArgs, std::vector<bool>{false}) << "the box is cleared first";
    EXPECT_EQ(view_.log, (std::vector<std::string>{
                             "untick 1006", "disable 1", "hide 1005", "hide 1015", "hide 1013",
                             "hide 1014", "hide 1012", "text 1008=", "text 1009=", "text 1010=",
                             "hide 1011", "clear list", "insert 0 Device not found!", "disable 1",
                             "select 0", "hide 1023", "hide 1025", "hide 1026", "background"}))
        << "the window shows before the version check has answered";
    view_.log.clear();
    logic_.OnDownloadClicked(); // meanwhile: the check goes on, its link is not lost
    view_.RunBackground();
    EXPECT_EQ(view_.log,
              (std::vector<std::string>{"download window", "version check",
                                        "link https://example.invalid/release", "show 1023"}));

    newRelease_.reset();
    view_.log.clear();
    scripted_.result = {Charger("A1")};
    logic_.OnInitDialog();
    view_.RunBackground();
    EXPECT_FALSE(view_.IsVisible(ctl::kReleaseLink));
    EXPECT_FALSE(UpdateEnabled()) << "no file is loaded yet";
    EXPECT_EQ(view_.lines, std::vector<std::string>{"Type: Kelvorin K4, S/N:A1"});
    EXPECT_FALSE(view_.IsVisible(ctl::kHiddenCheck));
    EXPECT_FALSE(view_.IsVisible(ctl::kCodeField));
}

TEST_F(MainWindowLogicTest, FileInformationPanelFollowsEachLoadOutcome) {
    scripted_.result = {Charger("A1")};
    logic_.OnInitDialog();
    struct SCase {
        std::string path, errorLine;
        bool valid;
    };
    const std::vector<SCase> cases = {
        {File("format.bin", PatternPayload(600, 5)), "File format error!", false},
        {ValidFile(), "", true},
        {File("big.bin", std::vector<std::uint8_t>(kUpdateImageSize + 1)), "The file is big!",
         false},
        {ValidFile(), "", true},
        {dir_.File("missing.bin"), "Error open file", false}, // a typo
        {dir_.Path().string(), "Error open file", false},     // a folder
        {"", "", false},                                      // nothing typed yet
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.path);
        Type(c.path);
        for (const int id : {ctl::kVersionLabel, ctl::kTypeLabel, ctl::kMemoLabel}) {
            EXPECT_EQ(view_.IsVisible(id), c.valid) << id;
        }
        EXPECT_EQ(view_.Text(ctl::kVersionText), c.valid ? "V1.05" : "");
        EXPECT_EQ(view_.Text(ctl::kTypeText), c.valid ? "Kelvorin Test" : "");
        EXPECT_EQ(view_.Text(ctl::kMemoText), c.valid ? "Test firmware" : "");
        EXPECT_EQ(view_.Text(ctl::kErrorLine), c.errorLine);
        EXPECT_EQ(view_.IsVisible(ctl::kErrorLine), !c.errorLine.empty());
        EXPECT_EQ(devices_.bFileValid, c.valid);
        EXPECT_EQ(UpdateEnabled(), c.valid);
    }
    EXPECT_TRUE(view_.boxes.empty()) << "loading never raises a box";
}

TEST_F(MainWindowLogicTest, UpdateIsEnabledByWhicheverComesSecond) {
    logic_.OnInitDialog();
    Type(ValidFile());
    EXPECT_FALSE(UpdateEnabled()) << "valid file, no charger";
    scripted_.result = {Charger("A1")};
    logic_.OnDeviceChange(EDeviceChange::Arrival);
    EXPECT_TRUE(UpdateEnabled());
    scripted_.result.clear();
    logic_.OnDeviceChange(EDeviceChange::RemoveComplete);
    EXPECT_FALSE(UpdateEnabled());

    Type("");
    scripted_.result = {Charger("A1")};
    logic_.OnDeviceChange(EDeviceChange::NodesChanged);
    EXPECT_FALSE(UpdateEnabled()) << "charger, no file";
    Type(ValidFile());
    EXPECT_TRUE(UpdateEnabled());
}

TEST_F(MainWindowLogicTest, EveryDeviceChangeRefreshesTheListOnce) {
    for (const EDeviceChange change :
         {EDeviceChange::NodesChanged, EDeviceChange::Arrival, EDeviceChange::RemoveComplete}) {
        const std::size_t before = scripted_.probeArgs.size();
        logic_.OnDeviceChange(change);
        EXPECT_EQ(scripted_.probeArgs.size(), before + 1) << static_cast<int>(change);
    }
}

TEST_F(MainWindowLogicTest, EnumerationErrorShowsABoxAndKeepsTheList) {
    scripted_.result = {Charger("A1")};
    logic_.OnInitDialog();
    scripted_.result = {Charger("B2"), Charger("C3")};
    scripted_.error = "Cannot list the serial ports.";
    logic_.OnComPortsClicked();
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0].text, "Cannot list the serial ports.");
    EXPECT_EQ(view_.boxes[0].title, "Error");
    EXPECT_EQ(view_.boxes[0].icon, EMessageIcon::Error);
    EXPECT_EQ(view_.lines, std::vector<std::string>{"Type: Kelvorin K4, S/N:A1"});
    EXPECT_EQ(devices_.nDeviceCount, 1);
    EXPECT_EQ(devices_.rows[0].strSerial, "A1");
}

TEST_F(MainWindowLogicTest, OpenLoadsThePickedFileEvenWhenThePathIsUnchanged) {
    const std::string path = ValidFile("V1.00");
    view_.fileDialogAnswers = {path, path, std::nullopt};
    logic_.OnOpenClicked();
    EXPECT_EQ(view_.Text(ctl::kPath), path);
    EXPECT_EQ(view_.Text(ctl::kVersionText), "V1.00");
    ValidFile("V2.00"); // the file changes on disk; the path does not
    logic_.OnOpenClicked();
    EXPECT_EQ(view_.Text(ctl::kVersionText), "V2.00");
    view_.log.clear();
    logic_.OnOpenClicked(); // cancelled
    EXPECT_TRUE(view_.log.empty());
}

TEST_F(MainWindowLogicTest, ARunLocksTheInputsAndRefusesToClose) {
    bench_.AddHidCharger({});
    SBenchEnumerator enumerator(bench_);
    CMainWindowLogic logic = MakeLogic(enumerator);
    logic.OnInitDialog();
    bench_.TakeDevicesChanged();
    logic.SetPathAndLoad(ValidFile());
    ASSERT_TRUE(UpdateEnabled());

    const std::vector<std::string> linesBefore = view_.lines;
    logic.OnUpdateClicked(); // returns at once: the run goes on on a worker thread

    // The window's thread meanwhile: the inputs locked, closing refused with a notice, the sleep
    // inhibitor held, and a device change only flagged for the run (the list stays as it is).
    std::vector<int> lockedWhileRunning;
    for (const int id : kRunLocked) {
        if (!view_.IsEnabled(id)) {
            lockedWhileRunning.push_back(id);
        }
    }
    const bool closeAllowed = logic.OnCloseRequested();
    int stationsOpened = 0;
    logic.OnStationClicked([&stationsOpened] { ++stationsOpened; }); // refused as well
    const int heldWhileRunning = inhibitor_.held;
    logic.OnDeviceChange(EDeviceChange::Arrival);
    EXPECT_EQ(view_.lines, linesBefore);
    logic.WaitForRun([this] { view_.DeliverPosted(); });

    EXPECT_EQ(lockedWhileRunning, std::vector<int>(kRunLocked.begin(), kRunLocked.end()));
    EXPECT_FALSE(closeAllowed);
    EXPECT_EQ(heldWhileRunning, 1);
    EXPECT_EQ(inhibitor_.held, 0);
    EXPECT_EQ(view_.notices, std::vector<std::string>{kCloseDuringRunText});
    EXPECT_NE(std::find(view_.log.begin(), view_.log.end(), "close notice"), view_.log.end())
        << "the notice goes when the run ends";
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0].title, "Success");
    for (const int id : kRunLocked) {
        EXPECT_TRUE(view_.IsEnabled(id)) << id;
    }
    // The charger restarts after its update: the list refilled at the end finds it away.
    EXPECT_EQ(view_.lines, std::vector<std::string>{"Device not found!"});
    EXPECT_FALSE(UpdateEnabled());
    clock_.Advance(2000);
    ASSERT_TRUE(bench_.TakeDevicesChanged());
    logic.OnDeviceChange(EDeviceChange::Arrival);
    EXPECT_TRUE(UpdateEnabled());
    EXPECT_TRUE(logic.OnCloseRequested());
    EXPECT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.notices.size(), 1u);
    EXPECT_EQ(stationsOpened, 0);
    logic.OnStationClicked([&stationsOpened] { ++stationsOpened; });
    EXPECT_EQ(stationsOpened, 1);
}

// Every run of the window is recorded, a record that cannot be kept is said on the status line,
// and "Save diagnostic..." saves the last run's trace in the form `replay` takes. The menu's log
// entries turn the record off or send it elsewhere; a place that cannot be opened changes nothing.
TEST_F(MainWindowLogicTest, ARunIsRecordedAndItsDiagnosticReplays) {
    bench_.AddHidCharger({});
    SBenchEnumerator enumerator(bench_);
    CFakeUpdateLog log;
    CFakeUpdateLog other;
    std::vector<SUpdateLogSetting> opened;
    const auto change = [&](const SUpdateLogSetting& setting) {
        SUpdateLogChange result;
        if (setting.path == "/locked/x.jsonl") {
            result.warning = LogFailureText("Permission denied");
            return result;
        }
        opened.push_back(setting);
        result.log = setting.keep ? &other : nullptr;
        result.saveError = setting.keep ? "" : "disk full";
        return result;
    };
    CMainWindowLogic logic = MakeLogic(enumerator, &log, {{"", true}, "/d/updates.jsonl", change});
    logic.OnInitDialog();
    bench_.TakeDevicesChanged();
    const std::string file = ValidFile();
    logic.SetPathAndLoad(file);
    logic.OnSaveDiagnosticClicked();
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0].text, kNoDiagnosticText);

    logic.OnUpdateClicked();
    logic.WaitForRun([this] { view_.DeliverPosted(); });
    ASSERT_EQ(log.records.size(), 1u);
    EXPECT_TRUE(log.records[0].ok);
    EXPECT_EQ(log.records[0].port, "HID0");
    EXPECT_EQ(log.records[0].serial, "SIM0001");
    EXPECT_EQ(log.records[0].file, file);
    EXPECT_EQ(log.records[0].fileVersion, "V1.05");
    EXPECT_EQ(view_.Text(ctl::kStatus), "Updated Kelvorin K4, S/N:SIM0001, on HID0 to V1.05");

    view_.diagnosticDialogAnswer = dir_.File("run.trace");
    logic.OnSaveDiagnosticClicked();
    ASSERT_TRUE(view_.background);
    view_.background(CCancelToken())(); // written off the window's thread, then its answer
    std::ostringstream out;
    std::ostringstream err;
    const std::vector<std::string> replay = {dir_.File("run.trace"), file};
    EXPECT_EQ(cli::RunReplay(replay, out, err), cli::kExitSuccess) << err.str();

    clock_.Advance(2000); // the charger is back from its restart
    ASSERT_TRUE(bench_.TakeDevicesChanged());
    logic.OnDeviceChange(EDeviceChange::Arrival);
    log.failure = "disk full";
    logic.OnUpdateClicked();
    logic.WaitForRun([this] { view_.DeliverPosted(); });
    EXPECT_EQ(view_.boxes.back().title, "Success");
    EXPECT_EQ(view_.Text(ctl::kStatus), "The update log could not be written: disk full");
    EXPECT_TRUE(view_.IsVisible(ctl::kStatus));

    const auto runAgain = [&] {
        clock_.Advance(2000);
        ASSERT_TRUE(bench_.TakeDevicesChanged());
        logic.OnDeviceChange(EDeviceChange::Arrival);
        logic.OnUpdateClicked();
        logic.OnKeepUpdateLogClicked(); // refused: the run records where it began
        logic.WaitForRun([this] { view_.DeliverPosted(); });
    };
    log.failure.clear();
    const std::size_t boxes = view_.boxes.size();
    logic.OnKeepUpdateLogClicked(); // off: used at once, though not saved
    EXPECT_FALSE(logic.KeepsUpdateLog());
    ASSERT_EQ(view_.boxes.size(), boxes + 1);
    EXPECT_EQ(view_.boxes.back().text, std::string(kSettingNotSavedText) + "disk full");
    runAgain();
    EXPECT_TRUE(log.records.size() == 1u && other.records.empty());

    view_.logFileDialogAnswer = "/locked/x.jsonl";
    logic.OnUpdateLogFileClicked();
    EXPECT_EQ(view_.boxes.back().text, LogFailureText("Permission denied"));
    EXPECT_FALSE(logic.KeepsUpdateLog());
    view_.logFileDialogAnswer = "/e/other.jsonl";
    logic.OnUpdateLogFileClicked();
    EXPECT_TRUE(logic.KeepsUpdateLog());
    EXPECT_EQ(opened, (std::vector<SUpdateLogSetting>{{"", false}, {"/e/other.jsonl", true}}));
    EXPECT_EQ(std::count(view_.log.begin(), view_.log.end(), "log file dialog at /d/updates.jsonl"),
              2);
    runAgain();
    EXPECT_EQ(log.records.size(), 1u);
    EXPECT_EQ(other.records.size(), 1u);
}

TEST(StartUp, SwitchesThatEndTheProgram) {
    const auto action = [](std::vector<std::string> arguments) {
        return StartupActionFor(arguments);
    };
    for (const char* argument : {"/Register", "-regserver", "/UNREGISTER", "-UnRegServer"}) {
        EXPECT_EQ(action({"file.bin", argument}), EStartupAction::EndAtOnce) << argument;
    }
    for (const char* argument :
         {"/Embedding", "-Automation", "Register", "--Register", "/Reg", "/", "", "+Register"}) {
        EXPECT_EQ(action({argument}), EStartupAction::Run) << argument;
    }
    EXPECT_EQ(action({}), EStartupAction::Run);

    using Args = std::vector<std::string>;
    EXPECT_EQ(StationWindowArgument(Args{"file.bin"}), std::nullopt);
    EXPECT_EQ(StationWindowArgument(Args{"--station"}), "");
    EXPECT_EQ(StationWindowArgument(Args{"--station", "box.bin"}), "box.bin");
    EXPECT_EQ(StationWindowArgument(Args{"--station", "-x"}), "") << "a switch is no file";

    EXPECT_EQ(ApplicationName("/usr/local/bin/crenovix"), "crenovix");
    EXPECT_EQ(ApplicationName("C:\\Tools\\Crenovix.exe"), "Crenovix");
    EXPECT_EQ(ApplicationName("./my.updater.bin"), "my.updater");
    EXPECT_EQ(ApplicationName("/opt/.hidden"), ".hidden");
}

// What the station's list shows of a row: the result column holds the run's status line while
// it runs, a unit never updated shows no time, and times read as minutes and seconds.
TEST(StationTexts, RowsCountersAndTimes) {
    SStationRow row;
    row.device = {"Kelvorin K4", "SIM0001", "HID1", 1};
    row.status = run_text::kConnecting;
    row.resultText = "earlier";
    EXPECT_EQ(StationRowTexts(row), (std::array<std::string, 7>{"HID1", "Kelvorin K4", "SIM0001",
                                                                "waiting", "0 %", "earlier", ""}));
    row.state = EStationState::Updating;
    row.percent = 45;
    row.elapsedMs = 61'999;
    EXPECT_EQ(StationRowTexts(row),
              (std::array<std::string, 7>{"HID1", "Kelvorin K4", "SIM0001", "updating", "45 %",
                                          "Connecting...", "1:01"}));
    EXPECT_EQ(ElapsedText(0), "0:00");
    EXPECT_EQ(ElapsedText(3'600'000), "60:00");
    EXPECT_EQ(CountersText({3, 1}), "Updated: 3    Failed: 1");
    EXPECT_EQ(DeviceCodeText(0x0A), "0x0A");
}

TEST(DialogUnits, FollowTheFontAsWindowsMeasuresIt) {
    // 312 px for 52 letters: 6 px average width; a 13 px font.
    const SDialogUnits units = DialogUnitsFromFont(312, 13);
    EXPECT_EQ(units.baseX, 6);
    EXPECT_EQ(units.X(304), 456);
    EXPECT_EQ(units.Y(191), 310);
    EXPECT_EQ(units.X(1), 2) << "rounded to nearest";
    EXPECT_EQ(DialogUnitsFromFont(337, 16).baseX, 6);
    EXPECT_EQ(DialogUnitsFromFont(364, 16).baseX, 7);
}

} // namespace
