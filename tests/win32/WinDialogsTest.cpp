// The native windows under wine: the dialogs built from the tables every front end builds from,
// as the dialog manager makes them, and both dialogs driven through their Win32 messages (typed
// paths, clicks, device-change notifications, list-view notifications) against simulated chargers
// on a virtual clock and a scripted downloader. Message boxes and file dialogs are answered by the
// test.
//
// Windows need an X display under wine, shared by the whole wine session (its server and
// desktop process included); without one no dialog can be created and the tests say so.
// The views' headers before windows.h, whose MessageBox macro would rename their member.
#include "app/DialogTemplate.h"
#include "app/MainWindowView.h"
#include "app/StartUp.h"
#include "device/SerialEnumeration.h"
#include "online/DownloadWindow.h"
#include "sim/DemoChargers.h"
#include "support/BenchRunDevices.h"
#include "support/FakeDownloader.h"
#include "support/FakeShell.h"
#include "support/FakeTempFiles.h"
#include "support/FakeUpdateWindow.h"
#include "support/SteppedClock.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include "gui/win32/CDownLoad.h"
#include "gui/win32/CStationDlg.h"
#include "gui/win32/CrenovixDlg.h"
#include "gui/win32/DeviceChangeMessage.h"
#include "gui/win32/DialogTemplateBuilder.h"
#include "gui/win32/resource.h"

#include <commctrl.h>
#include <dbt.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace crenovix::win32 {
namespace {

using testsupport::CFakeDownloader;
using testsupport::CFakeShell;
using testsupport::CFakeTempFiles;
using testsupport::CFixedNonces;
using testsupport::CSteppedClock;
using testsupport::CTempDir;
using testsupport::SMessageBoxCall;

void EnsureCommonControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX classes{sizeof(classes), 0xFF};
        return InitCommonControlsEx(&classes) != FALSE;
    }();
    (void)done;
}

std::string ClassOf(HWND window) {
    std::array<char, 64> name{};
    GetClassNameA(window, name.data(), static_cast<int>(name.size()));
    return name.data();
}

std::string TextOf(HWND window) {
    std::array<char, 512> text{};
    GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
    return text.data();
}

bool Shown(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// A rectangle in dialog units, in pixels of the dialog's client area. Position and size are
// converted apart, as the dialog manager does when it creates the controls.
RECT DialogRect(HWND dialog, int x, int y, int w, int h) {
    RECT origin{x, y, x, y};
    MapDialogRect(dialog, &origin);
    RECT size{0, 0, w, h};
    MapDialogRect(dialog, &size);
    return {origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
}

RECT RectInDialog(HWND dialog, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Describe(const RECT& rect) {
    return std::to_string(rect.left) + "," + std::to_string(rect.top) + "-" +
           std::to_string(rect.right) + "," + std::to_string(rect.bottom);
}

::testing::AssertionResult Made(HWND dialog) {
    if (dialog != nullptr) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "no dialog could be created (error " << GetLastError()
           << "): the wine session, its server included, must run under an X display";
}

// What a control of kind `kind` must be on Windows: its window class and style.
void ExpectKind(HWND control, EControlKind kind, const std::string& where) {
    const std::string className = ClassOf(control);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    const auto isClass = [&](const char* expected) {
        return lstrcmpiA(className.c_str(), expected) == 0;
    };
    const LONG staticType = style & SS_TYPEMASK;
    const LONG buttonType = style & BS_TYPEMASK;
    switch (kind) {
    case EControlKind::Picture:
        EXPECT_TRUE(isClass("Static") && staticType == SS_BITMAP && (style & SS_SUNKEN) != 0)
            << where;
        break;
    case EControlKind::Label:
        EXPECT_TRUE(isClass("Static") && staticType == SS_LEFT) << where;
        break;
    case EControlKind::Text: // shown as it is: an "&" from a file is no mnemonic
        EXPECT_TRUE(isClass("Static") && staticType == SS_LEFT && (style & SS_NOPREFIX) != 0)
            << where;
        break;
    case EControlKind::CenteredText: // one line; a long path loses its middle
        EXPECT_TRUE(isClass("Static") && staticType == SS_CENTER &&
                    (style & SS_ELLIPSISMASK) == SS_PATHELLIPSIS)
            << where;
        break;
    case EControlKind::Link:
        EXPECT_TRUE(isClass("Static") && staticType == SS_LEFT) << where;
        break;
    case EControlKind::CheckBox:
        EXPECT_TRUE(isClass("Button") && buttonType == BS_AUTOCHECKBOX) << where;
        break;
    case EControlKind::GroupBox:
        EXPECT_TRUE(isClass("Button") && buttonType == BS_GROUPBOX) << where;
        break;
    case EControlKind::Button:
        EXPECT_TRUE(isClass("Button") && buttonType == BS_PUSHBUTTON) << where;
        break;
    case EControlKind::DefaultButton:
        EXPECT_TRUE(isClass("Button") && buttonType == BS_DEFPUSHBUTTON) << where;
        break;
    case EControlKind::Edit:
        EXPECT_TRUE(isClass("Edit") && (style & ES_AUTOHSCROLL) != 0) << where;
        break;
    case EControlKind::ListBox:
        // Unsorted, so that line i stays row i of the device table; the template's height.
        EXPECT_TRUE(isClass("ListBox") && (style & LBS_SORT) == 0 &&
                    (style & LBS_NOINTEGRALHEIGHT) != 0)
            << where;
        // The scroll bar shows once the lines do not fit.
        for (int line = 0; line < 20; ++line) {
            SendMessageA(control, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("line"));
        }
        EXPECT_NE(GetWindowLongA(control, GWL_STYLE) & WS_VSCROLL, 0) << where;
        break;
    case EControlKind::ReportList:
        EXPECT_TRUE(isClass(WC_LISTVIEWA) && (style & LVS_TYPEMASK) == LVS_REPORT &&
                    (style & LVS_SINGLESEL) != 0 && (style & LVS_SHOWSELALWAYS) != 0)
            << where;
        break;
    case EControlKind::ProgressBar:
        EXPECT_TRUE(isClass(PROGRESS_CLASSA)) << where;
        break;
    }
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// A window as the program makes it, with no behaviour of its own.
HWND MakePlainDialog(EDialog which) {
    const std::vector<WORD> built = BuildDialogTemplate(which);
    return CreateDialogIndirectParamA(GetModuleHandleA(nullptr), AsTemplate(built), nullptr,
                                      PlainDialogProc, 0);
}

TEST(WinDialogs, BuiltTemplatesFollowTheTables) {
    EnsureCommonControls();
    const std::array<std::pair<EDialog, const SDialogTemplate*>, 4> dialogs{{
        {EDialog::Main, &MainWindowTemplate()},
        {EDialog::Download, &DownloadWindowTemplate()},
        {EDialog::Notice, &NoticeTemplate()},
        {EDialog::Station, &StationWindowTemplate()},
    }};
    for (const auto& [which, table] : dialogs) {
        const int resource = static_cast<int>(which);
        const HWND dialog = MakePlainDialog(which);
        ASSERT_TRUE(Made(dialog)) << "template " << resource;
        if (!table->caption.empty()) {
            EXPECT_EQ(TextOf(dialog), table->caption);
        }
        RECT client{};
        GetClientRect(dialog, &client);
        const RECT size = DialogRect(dialog, 0, 0, table->w, table->h);
        EXPECT_EQ(Describe(client), Describe(size)) << "template " << resource;

        std::vector<HWND> children;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            children.push_back(child);
        }
        ASSERT_EQ(children.size(), table->controls.size()) << "template " << resource;
        for (std::size_t i = 0; i < children.size(); ++i) {
            const SControlTemplate& control = table->controls[i];
            const HWND child = children[i];
            const std::string where = "template " + std::to_string(resource) + ", control " +
                                      std::to_string(i) + " (id " + std::to_string(control.id) +
                                      ")";
            const int id = GetDlgCtrlID(child);
            EXPECT_EQ(id == -1 || id == 0xFFFF ? 0 : id, control.id) << where;
            ExpectKind(child, control.kind, where);
            EXPECT_EQ(TextOf(child), control.caption) << where;
            EXPECT_EQ(Describe(RectInDialog(dialog, child)),
                      Describe(DialogRect(dialog, control.x, control.y, control.w, control.h)))
                << where;
            EXPECT_EQ(Shown(child), !control.hidden) << where;
        }
        DestroyWindow(dialog);
    }
}

// The static texts of `dialog` (hidden ones too) that the dialog font does not fit into the
// control's client area: one line measured with GetTextExtentPoint32W, a control of several lines
// by its wrapped height.
std::vector<std::string> CutStatics(HWND dialog) {
    std::vector<std::string> cut;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(GetWindowTextW(child, text.data(), text.size())));
        if (lstrcmpiA(ClassOf(child).c_str(), "Static") != 0 ||
            (style & SS_TYPEMASK) == SS_BITMAP || text.empty()) {
            continue;
        }
        if ((style & SS_NOPREFIX) == 0) {
            std::erase(text, L'&'); // the mnemonic's mark is not drawn
        }
        const HDC dc = GetDC(child);
        const HGDIOBJ font =
            SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(child, WM_GETFONT, 0, 0)));
        RECT client{};
        GetClientRect(child, &client);
        SIZE line{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &line);
        RECT wrapped{0, 0, client.right, 0};
        DrawTextW(dc, text.c_str(), -1, &wrapped, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, font);
        ReleaseDC(child, dc);
        const bool oneLine = client.bottom < 2 * line.cy;
        if (oneLine ? line.cx > client.right || line.cy > client.bottom
                    : wrapped.bottom > client.bottom) {
            cut.push_back(TextOf(child) + " (" + std::to_string(line.cx) + " px in " +
                          std::to_string(client.right) + ")");
        }
    }
    return cut;
}

// Every label, link and message of the windows shows whole in the dialog font wine gives them
// (wider than the one of Windows), each message label with every message it can show.
TEST(WinDialogs, EveryStaticTextFitsItsControl) {
    EnsureCommonControls();
    for (const EDialog which :
         {EDialog::Main, EDialog::Download, EDialog::Notice, EDialog::Station}) {
        const HWND dialog = MakePlainDialog(which);
        ASSERT_TRUE(Made(dialog));
        EXPECT_EQ(CutStatics(dialog), std::vector<std::string>{}) << static_cast<int>(which);
        const auto fits = [&](int id, std::initializer_list<const char*> texts) {
            for (const char* text : texts) {
                SetDlgItemTextA(dialog, id, text);
                EXPECT_EQ(CutStatics(dialog), std::vector<std::string>{}) << text;
            }
        };
        if (which == EDialog::Main) { // the status line's path, too long, loses its middle

            fits(ctl::kErrorLine, {"Error open file", "The file is big!", "File format error!"});
            fits(ctl::kStatus,
                 {run_text::kConnecting, run_text::kConnectingAgain, run_text::kUpgrading});
        } else if (which == EDialog::Notice) {
            fits(notice_ctl::kText, {kCloseDuringRunText, kCloseStationDuringRunText});
        } else if (which == EDialog::Station) {
            fits(station_ctl::kCodeText, {"0xFF"});
            fits(station_ctl::kVersionText, {"V10.99"});
        }
        DestroyWindow(dialog);
    }
}

// A window of the test's own that runs `action` when a message posted to it is dispatched: the
// test's way of acting inside the window's nested message loop during an update run.
class CPostedAction {
public:
    CPostedAction() {
        static const ATOM windowClass = [] {
            WNDCLASSA description{};
            description.lpfnWndProc = Proc;
            description.hInstance = GetModuleHandleA(nullptr);
            description.lpszClassName = "CrenovixPostedAction";
            return RegisterClassA(&description);
        }();
        (void)windowClass;
        hwnd_ = CreateWindowExA(0, "CrenovixPostedAction", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~CPostedAction() { DestroyWindow(hwnd_); }
    CPostedAction(const CPostedAction&) = delete;
    CPostedAction& operator=(const CPostedAction&) = delete;

    void Post(std::function<void()> action) {
        action_ = std::move(action);
        PostMessageA(hwnd_, WM_APP, 0, 0);
    }
    bool Ran() const { return ran_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_APP) {
            auto* self = reinterpret_cast<CPostedAction*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
            self->ran_ = true;
            self->action_();
            return 0;
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }

    HWND hwnd_ = nullptr;
    std::function<void()> action_;
    bool ran_ = false;
};

// The run's clock: virtual time in step with the window's loop, and after each wait the
// device-change notification the system would post to the window when chargers came or went
// meanwhile. The run calls it on its worker thread.
class CNotifyingClock final : public IClock {
public:
    CNotifyingClock(CSteppedClock& clock, sim::CSimBench& bench) : clock_(clock), bench_(bench) {}
    std::uint32_t TickCount() override { return clock_.TickCount(); }
    void Sleep(std::uint32_t ms) override {
        clock_.Sleep(ms);
        const HWND target = window.load();
        if (target != nullptr && bench_.TakeDevicesChanged()) {
            PostMessageA(target, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        }
    }
    std::atomic<HWND> window{nullptr};

private:
    CSteppedClock& clock_;
    sim::CSimBench& bench_;
};

// The main window on a desk of simulated chargers whose clock moves only when the run waits.
class WinMainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureCommonControls();
        window_.messageBoxHandler = [this](const std::string& text, const std::string& title,
                                           EMessageIcon icon) {
            boxes_.push_back({text, title, icon, 0});
        };
        window_.fileDialogHandler = [] { return std::nullopt; };
    }
    void TearDown() override { clock_.Release(); } // a run still under way ends without the loop

    HWND Control(int id) { return window_.Control(id); }
    bool Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }
    bool Visible(int id) { return Shown(Control(id)); }
    std::string Text(int id) { return TextOf(Control(id)); }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        const HWND list = Control(ctl::kDeviceList);
        const auto count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::array<char, 256> line{};
            SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(line.data()));
            lines.emplace_back(line.data());
        }
        return lines;
    }
    LRESULT DeviceChange(WPARAM eventCode) {
        return SendMessageA(window_.Handle(), WM_DEVICECHANGE, eventCode, 0);
    }
    // Serves the thread's messages as the dialog manager's modal loop does, the run's clock one
    // step further each turn, until `done`; false after `limitMs`.
    bool PumpUntil(const std::function<bool()>& done, ULONGLONG limitMs = 20000) {
        const ULONGLONG deadline = GetTickCount64() + limitMs;
        while (!done()) {
            if (GetTickCount64() > deadline) {
                return false;
            }
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!IsDialogMessageA(window_.Handle(), &message)) {
                    TranslateMessage(&message);
                    DispatchMessageA(&message);
                }
            }
            clock_.Turn();
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
        }
        return true;
    }
    std::string ValidFile() {
        testsupport::SHeaderFields fields;
        fields.version = "V1.05";
        const std::string path = dir_.File("fw.bin");
        const auto packed = testsupport::Pack(testsupport::EPackVariant::TripleDes, fields,
                                              testsupport::PatternPayload(640, 7));
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(packed.bytes.data()),
                   static_cast<std::streamsize>(packed.bytes.size()));
        return path;
    }

    // The station's services on the same desk and clock.
    SStationServices StationServices() {
        return {
            enumerator_, [this] { return std::make_unique<testsupport::CBenchRunDevices>(bench_); },
            runClock_,   [] { return 7u; },
            nullptr,     {}};
    }

    CTempDir dir_;
    CSteppedClock clock_;
    sim::CSimBench bench_{clock_};
    CNotifyingClock runClock_{clock_, bench_};
    CDeviceEnumerator enumerator_{bench_, bench_};
    CFixedNonces nonces_{{0x1234, 0x0042, 0x7FFF}};
    SDeviceListState devices_;
    CFakeShell shell_;
    // No poll: the run learns of device changes through the window's WM_DEVICECHANGE.
    CrenovixDlg window_{
        devices_, {enumerator_, bench_, runClock_, nonces_, {}, {}, nullptr, {}}, shell_};
    std::vector<SMessageBoxCall> boxes_;
};

TEST_F(WinMainWindowTest, TypedFileAndArrivingChargerEnableUpdate) {
    ASSERT_TRUE(Made(window_.Create()));
    EXPECT_EQ(TextOf(window_.Handle()), kWindowTitle);
    EXPECT_EQ(Lines(), std::vector<std::string>{"Device not found!"});
    EXPECT_FALSE(Enabled(ctl::kUpdate));
    EXPECT_FALSE(Visible(ctl::kProgress));
    EXPECT_FALSE(Visible(ctl::kStatus));
    EXPECT_FALSE(Visible(ctl::kReleaseLink)); // no newer release announced

    // The side picture is drawn at the size the template gives it.
    HWND picture = GetWindow(window_.Handle(), GW_CHILD);
    const auto bitmap =
        reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    GetObjectA(bitmap, sizeof(info), &info);
    RECT client{};
    GetClientRect(picture, &client);
    EXPECT_EQ(info.bmWidth, client.right);
    EXPECT_EQ(info.bmHeight, client.bottom);
    EXPECT_EQ(Describe(RectInDialog(window_.Handle(), picture)),
              Describe(DialogRect(window_.Handle(), 7, 7, 81, 150)));

    // Typing (here: setting the field's text from outside) loads the header.
    SetWindowTextA(Control(ctl::kPath), dir_.File("f").c_str());
    EXPECT_EQ(Text(ctl::kErrorLine), "Error open file"); // no such file
    EXPECT_TRUE(Visible(ctl::kErrorLine));
    SetWindowTextA(Control(ctl::kPath), ValidFile().c_str());
    EXPECT_EQ(Text(ctl::kVersionText), "V1.05");
    EXPECT_FALSE(Visible(ctl::kErrorLine));
    EXPECT_TRUE(Visible(ctl::kVersionLabel));
    EXPECT_FALSE(Enabled(ctl::kUpdate)); // no charger yet

    sim::AddDemoChargers(bench_, "hid");
    EXPECT_EQ(DeviceChange(DBT_CONFIGCHANGED), TRUE); // answered, otherwise ignored
    EXPECT_EQ(Lines(), std::vector<std::string>{"Device not found!"});
    EXPECT_EQ(DeviceChange(DBT_DEVICEARRIVAL), TRUE);
    EXPECT_EQ(Lines(), std::vector<std::string>{"Type: Kelvorin K4, S/N:SIM1001"});
    EXPECT_EQ(SendMessageA(Control(ctl::kDeviceList), LB_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(Enabled(ctl::kUpdate));
    EXPECT_TRUE(boxes_.empty());

    // While the station window is open over it, device changes are the station's: this list
    // and the access hint behind it wait until the station closes.
    int hints = 0;
    window_.afterDeviceChange = [&] { ++hints; };
    std::vector<std::string> duringStation;
    window_.openStationWindow = [&] {
        sim::SSimHidConfig other;
        other.identity.strSerial = "SIM9009";
        other.identity.nHidPosition = 1;
        bench_.AddHidCharger(other);
        DeviceChange(DBT_DEVICEARRIVAL);
        duringStation = Lines();
    };
    SendMessageA(window_.Handle(), WM_SYSCOMMAND, kStationViewCommand, 0);
    EXPECT_EQ(duringStation, std::vector<std::string>{"Type: Kelvorin K4, S/N:SIM1001"});
    EXPECT_EQ(hints, 0);
    EXPECT_EQ(Lines().size(), 2u);

    // Exit closes the window when nothing runs.
    SendMessageA(Control(ctl::kExit), BM_CLICK, 0, 0);
    EXPECT_EQ(window_.Handle(), nullptr);
}

// The keyboard on the window itself: focus marks show on every control Tab reaches, Alt with a
// label's letter moves the focus to the control it names and with any other letter types nothing; a
// second start restores the minimised window.
TEST_F(WinMainWindowTest, KeyboardAndASecondStartReachTheWindow) {
    ASSERT_TRUE(Made(window_.Create()));
    const HWND dialog = window_.Handle();
    // Started by the mouse, the window hides focus marks; Tab shows them on each control.
    SendMessageA(dialog, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
    std::vector<int> reached;
    for (int i = 0; i < 6; ++i) {
        MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
        IsDialogMessageA(dialog, &tab);
        reached.push_back(GetDlgCtrlID(GetFocus()));
        EXPECT_EQ(SendMessageA(GetFocus(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0);
    }
    EXPECT_EQ(reached, (std::vector<int>{ctl::kDeviceList, ctl::kPath, ctl::kOpen, ctl::kDownload,
                                         ctl::kExit, ctl::kComPorts}));
    const auto alt = [&](char letter) {
        MSG message{GetFocus(), WM_SYSCHAR, static_cast<WPARAM>(letter), LPARAM{1} << 29, 0, {}};
        if (!IsDialogMessageA(dialog, &message)) {
            DispatchMessageA(&message);
        }
    };
    SetFocus(Control(ctl::kExit));
    alt('l');
    EXPECT_EQ(GetFocus(), Control(ctl::kDeviceList));
    alt('f');
    EXPECT_EQ(GetFocus(), Control(ctl::kPath));
    alt('q');
    EXPECT_EQ(GetFocus(), Control(ctl::kPath));
    EXPECT_EQ(Text(ctl::kPath), "");

    ShowWindow(dialog, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(dialog));
    ShowRunningInstance(ProgramName() + "-other"); // another program's copy: not this window
    PumpUntil([] { return false; }, 200);
    EXPECT_TRUE(IsIconic(dialog));
    ShowRunningInstance(ProgramName());
    EXPECT_TRUE(PumpUntil([&] { return IsIconic(dialog) == FALSE; }, 5000));
}

// Only node changes, arrivals and completed removals change the devices present.
TEST(WinDeviceChange, OnlyNodeArrivalAndRemovalEventsAreDeviceChanges) {
    EXPECT_EQ(DeviceChangeFromMessage(0x0007), EDeviceChange::NodesChanged);
    EXPECT_EQ(DeviceChangeFromMessage(0x8000), EDeviceChange::Arrival);
    EXPECT_EQ(DeviceChangeFromMessage(0x8004), EDeviceChange::RemoveComplete);
    for (const WPARAM code : {0x0000u, 0x0018u, 0x8001u, 0x8003u, 0x8005u, 0x8006u}) {
        EXPECT_EQ(DeviceChangeFromMessage(code), std::nullopt) << code;
    }
}

// Also: what closing the window, logging off and a device change do in the middle of a run on
// its worker thread, while the window goes on serving its messages. The refusal is a notice that
// stays up until the run ends, and its keys work under the dialog manager's loop.
TEST_F(WinMainWindowTest, WholeUpdateThroughTheWindowsMessages) {
    sim::AddDemoChargers(bench_, "hid");
    bench_.TakeDevicesChanged();
    ASSERT_TRUE(Made(window_.Create()));
    runClock_.window = window_.Handle();
    SetWindowTextA(Control(ctl::kPath), ValidFile().c_str());
    ASSERT_TRUE(Enabled(ctl::kUpdate));
    const std::vector<std::string> before = Lines();

    constexpr std::array<int, 5> kRunLocked = {ctl::kPath, ctl::kOpen, ctl::kDownload,
                                               ctl::kComPorts, ctl::kDeviceList};
    std::vector<std::string> problems;
    LRESULT positionAtNotice = -1;
    CPostedAction duringRun;
    duringRun.Post([&] {
        if (!window_.Logic().IsRunning()) {
            problems.push_back("not running");
            return;
        }
        if (!Visible(ctl::kStatus)) {
            problems.push_back("status line hidden");
        }
        for (const int id : kRunLocked) {
            if (Enabled(id)) {
                problems.push_back("control " + std::to_string(id) + " enabled");
            }
        }
        if (Enabled(ctl::kUpdate)) {
            problems.push_back("Update enabled");
        }
        SendMessageA(window_.Handle(), WM_CLOSE, 0, 0);
        const HWND first = window_.Notice();
        SendMessageA(Control(ctl::kExit), BM_CLICK, 0, 0);
        if (window_.Handle() == nullptr) {
            problems.push_back("closed");
            return;
        }
        SendMessageA(window_.Handle(), WM_QUERYENDSESSION, 0, 0);
        if (GetWindowLongPtrA(window_.Handle(), DWLP_MSGRESULT) != FALSE) {
            problems.push_back("log-off allowed");
        }
        const HWND notice = window_.Notice();
        if (notice == nullptr || notice != first || !Shown(notice) || TextOf(notice) != "Info" ||
            TextOf(GetDlgItem(notice, IDC_NOTICE_TEXT)) != kCloseDuringRunText) {
            problems.push_back("not one notice, as it should be, for three refusals");
        }
        positionAtNotice = SendMessageA(Control(ctl::kProgress), PBM_GETPOS, 0, 0);
        // A charger arriving meanwhile: the run's own table takes it in; the window's table and
        // the list stay as the run found them.
        sim::SSimHidConfig other;
        other.identity.strSerial = "SIM9009";
        other.identity.nHidPosition = 5;
        bench_.AddHidCharger(other);
        DeviceChange(DBT_DEVICEARRIVAL);
        const auto& rows = devices_.rows;
        if (std::any_of(rows.begin(), rows.begin() + devices_.nDeviceCount,
                        [](const SDeviceEntry& row) { return row.strSerial == "SIM9009"; })) {
            problems.push_back("window's table refilled under the run");
        }
        if (Lines() != before) {
            problems.push_back("list box changed");
        }
    });
    SendMessageA(Control(ctl::kUpdate), BM_CLICK, 0, 0);
    EXPECT_TRUE(window_.Logic().IsRunning()); // the button's handler returned at once
    ASSERT_TRUE(PumpUntil([&] { return !window_.Logic().IsRunning(); }));

    EXPECT_TRUE(duringRun.Ran());
    EXPECT_EQ(problems, std::vector<std::string>{});
    ASSERT_NE(window_.Handle(), nullptr);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.rfind("Upgrade completion!", 0), 0u) << boxes_[0].text;
    EXPECT_EQ(boxes_[0].title, "Success");
    EXPECT_EQ(window_.Notice(), nullptr); // the run it warned about is over

    // 640 bytes in 64-byte blocks; block k sets position k before it goes, and the blocks after
    // the notice went on.
    EXPECT_EQ(SendMessageA(Control(ctl::kProgress), PBM_GETRANGE, FALSE, 0), 10);
    EXPECT_EQ(SendMessageA(Control(ctl::kProgress), PBM_GETPOS, 0, 0), 9);
    EXPECT_LT(positionAtNotice, 9);
    const std::string status = Text(ctl::kStatus);
    EXPECT_TRUE(Visible(ctl::kStatus));
    EXPECT_EQ(status.rfind("Updated Kelvorin K4, S/N:SIM1001, on HID", 0), 0u) << status;
    EXPECT_TRUE(status.ends_with(" to V1.05")) << status;
    EXPECT_FALSE(Visible(ctl::kProgress));
    for (const int id : kRunLocked) {
        EXPECT_TRUE(Enabled(id)) << id;
    }
    EXPECT_TRUE(Enabled(ctl::kUpdate));
    const std::vector<std::string> after = Lines();
    EXPECT_NE(std::find(after.begin(), after.end(), "Type: Kelvorin K4, S/N:SIM9009"), after.end());

    // Enter closes the notice under the main window's loop, which serves only the main window.
    window_.ShowNotice(kCloseDuringRunText, "Info");
    ASSERT_NE(window_.Notice(), nullptr);
    PostMessageA(GetDlgItem(window_.Notice(), IDOK), WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(PumpUntil([&] { return window_.Notice() == nullptr; }, 2000));
}

// The run's events reach the window as kRunEvents: on the window's thread, in the order the run
// posted them, however many it posts before the window comes round.
// The same for the station window, whose runs post their changes.
TEST_F(WinMainWindowTest, RunEventsArriveOnTheWindowsThreadInOrder) {
    ASSERT_TRUE(Made(window_.Create()));
    CStationDlg station(StationServices(), "");
    ASSERT_TRUE(Made(station.Create()));
    for (IStationView* stationView :
         {static_cast<IStationView*>(nullptr), static_cast<IStationView*>(&station)}) {
        std::vector<int> order; // -1: delivered on another thread
        std::thread run([&, windowThread = GetCurrentThreadId()] {
            for (int i = 0; i < 200; ++i) {
                auto call = [&order, windowThread, i] {
                    order.push_back(GetCurrentThreadId() == windowThread ? i : -1);
                };
                if (stationView != nullptr) {
                    stationView->PostToWindow(call);
                } else {
                    window_.PostToWindow(call);
                }
            }
        });
        EXPECT_TRUE(PumpUntil([&] { return order.size() == 200; }, 5000));
        run.join();
        std::vector<int> expected(200);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(order, expected);
    }
}

// The station window's list view has every column and a row per charger; "Update all" writes
// both chargers at once, and each row ends done with what its charger stored the file's payload.
TEST_F(WinMainWindowTest, StationListsEveryColumnAndUpdatesAll) {
    ASSERT_FALSE(sim::AddDemoChargers(bench_, "hid,serial"));
    bench_.TakeDevicesChanged();
    namespace st = station_ctl;
    CStationDlg station(StationServices(), ValidFile());
    ASSERT_TRUE(Made(station.Create()));
    runClock_.window = station.Handle();
    const HWND list = station.Control(st::kUnits);
    std::vector<std::string> headings;
    for (int column = 0; column < 8; ++column) {
        std::array<char, 64> text{};
        LVCOLUMNA item{};
        item.mask = LVCF_TEXT;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        if (SendMessageA(list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&item))) {
            headings.emplace_back(text.data());
        }
    }
    EXPECT_EQ(headings, (std::vector<std::string>{"Port", "Type", "S/N", "State", "Progress",
                                                  "Result", "Time"}));
    EXPECT_EQ(TextOf(station.Control(st::kUpdateAll)), "Update &all");
    EXPECT_EQ(TextOf(station.Control(st::kClose)), "&Close");
    EXPECT_EQ(TextOf(station.Control(st::kCodeText)), "0x0A");
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 2);
    EXPECT_EQ(station.List().GetItemText(0, kColState), "waiting");

    int mostAtOnce = 0;
    std::string refusal; // closing and logging off while both are written
    SendMessageA(station.Handle(), WM_COMMAND, MAKEWPARAM(st::kUpdateAll, BN_CLICKED),
                 reinterpret_cast<LPARAM>(station.Control(st::kUpdateAll)));
    EXPECT_TRUE(PumpUntil([&] {
        const int updating = (station.List().GetItemText(0, kColState) == "updating") +
                             (station.List().GetItemText(1, kColState) == "updating");
        mostAtOnce = std::max(mostAtOnce, updating);
        if (updating == 2 && refusal.empty()) {
            SendMessageA(station.Handle(), WM_CLOSE, 0, 0);
            SendMessageA(station.Handle(), WM_QUERYENDSESSION, 0, 0);
            refusal = GetWindowLongPtrA(station.Handle(), DWLP_MSGRESULT) != FALSE ? "log-off"
                      : station.Notice() == nullptr
                          ? "no notice"
                          : TextOf(GetDlgItem(station.Notice(), IDC_NOTICE_TEXT));
        }
        return !station.Logic().Station().Busy();
    }));
    station.Logic().Refresh();
    EXPECT_EQ(mostAtOnce, 2);
    EXPECT_EQ(refusal, kCloseStationDuringRunText);
    EXPECT_EQ(station.Notice(), nullptr); // the runs it warned about are over
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(station.List().GetItemText(row, kColState), "done") << row;
        EXPECT_EQ(station.List().GetItemText(row, kColProgress), "100 %") << row;
    }
    testsupport::SHeaderFields fields;
    fields.version = "V1.05";
    const auto payload = testsupport::Pack(testsupport::EPackVariant::TripleDes, fields,
                                           testsupport::PatternPayload(640, 7))
                             .loadedPayload;
    EXPECT_EQ(bench_.HidCharger(0).Results().payload, payload);
    EXPECT_EQ(bench_.SerialCharger(0).Results().payload, payload);
    EXPECT_EQ(TextOf(station.Control(st::kCounters)), "Updated: 2    Failed: 0");
    runClock_.window = nullptr;
}

// The download window over a scripted catalogue and downloader.
class WinDownloadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureCommonControls();
        std::ofstream(dir_.File("fetched.ini"))
            << "[File List]\nCountEx=3\n"
            << Entry(0, "fw-k6", "K6 notes") << Entry(1, "", "K7") << Entry(2, "fw-k8", "K8 notes");
        window_.messageBoxHandler = [this](const std::string& text) { boxes_.push_back(text); };
        window_.fetchedCatalogue = dir_.File("fetched.ini");
        window_.saveDialogHandler = [](const SSaveDialogRequest&) { return std::nullopt; };
    }

    static std::string Entry(int n, const std::string& fileName, const std::string& release) {
        const std::string i = std::to_string(n);
        return "Type" + i + "=Type " + i + "\nFileName" + i + "=" + fileName + "\nURL" + i +
               "=http://files.test/f" + i + ".bin\nRelease" + i + "=" + release + "\nReleaseURL" +
               i + "=http://notes.test/" + i + "\n";
    }

    HWND Control(int id) { return window_.Control(id); }
    // Dispatches the window's messages until its download's answer has been handled (5 s).
    bool DownloadEnds() {
        MSG message;
        for (int waited = 0; window_.Fetching() && waited < 5000; waited += 5) {
            Sleep(5);
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&message);
            }
        }
        return !window_.Fetching();
    }
    // While a download runs: Cancel in Download's place, the progress bar, the inputs locked.
    bool LockedForDownload() {
        namespace dl = download_ctl;
        return Shown(Control(dl::kCancel)) && !Shown(Control(dl::kDownload)) &&
               Shown(Control(dl::kProgress)) && GetFocus() == Control(dl::kCancel) &&
               !IsWindowEnabled(Control(dl::kUpdatesList)) &&
               !IsWindowEnabled(Control(dl::kSaveAs)) && !IsWindowEnabled(Control(dl::kBrowse));
    }
    int SelectedRow() {
        return static_cast<int>(SendMessageA(Control(download_ctl::kUpdatesList), LVM_GETNEXTITEM,
                                             static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    // As a click on a row does it.
    void UserSelects(int row) {
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(Control(download_ctl::kUpdatesList), LVM_SETITEMSTATE,
                     static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }

    CTempDir dir_;
    CFakeDownloader downloader_;
    CIniFileReader ini_;
    ReleaseLinkTable links_{};
    CFakeTempFiles tempFiles_{dir_.Path()};
    SOnlineContext context_{downloader_, downloader_,
                            ini_,        {"http://primary.test", "http://second.test"},
                            links_,      tempFiles_};
    CFakeShell shell_;
    std::vector<std::string> mainWindowPaths_;
    CDownLoad window_{context_, shell_,
                      [this](const std::string& path) { mainWindowPaths_.push_back(path); }};
    std::vector<std::string> boxes_;
};

TEST_F(WinDownloadWindowTest, SelectionAndDownloadThroughTheWindowsMessages) {
    ASSERT_TRUE(Made(window_.Create(nullptr)));
    EXPECT_EQ(SendMessageA(Control(download_ctl::kUpdatesList), LVM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(SelectedRow(), 0);
    // Suggested in the user's Downloads known folder, which exists.
    const std::string suggested = TextOf(Control(download_ctl::kSaveAs));
    const std::size_t name = suggested.rfind("\\fw-k6.bin");
    ASSERT_TRUE(name != std::string::npos && name + 10 == suggested.size()) << suggested;
    EXPECT_TRUE(std::filesystem::is_directory(suggested.substr(0, name))) << suggested;
    EXPECT_EQ(TextOf(Control(download_ctl::kReleaseNotesLink)), "K6 notes");
    EXPECT_FALSE(Shown(Control(download_ctl::kStatus)));

    UserSelects(2);
    EXPECT_EQ(SelectedRow(), 2);
    EXPECT_EQ(TextOf(Control(download_ctl::kSaveAs)), suggested.substr(0, name) + "\\fw-k8.bin");
    EXPECT_EQ(TextOf(Control(download_ctl::kReleaseNotesLink)), "K8 notes");

    // The server does not hold it: the window stays, ready to try again.
    const std::string target = dir_.File("saved.bin");
    SetWindowTextA(Control(download_ctl::kSaveAs), target.c_str());
    SendMessageA(Control(download_ctl::kDownload), BM_CLICK, 0, 0);
    EXPECT_TRUE(LockedForDownload());
    ASSERT_TRUE(DownloadEnds());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].rfind("Download failed.\n\nError = 0x800C0004", 0), 0u) << boxes_[0];
    ASSERT_NE(window_.Handle(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(Control(download_ctl::kDownload)));
    EXPECT_FALSE(Shown(Control(download_ctl::kStatus)));
    EXPECT_TRUE(mainWindowPaths_.empty());

    // Cancel while the server is slow: no box, nothing written, the window ready again.
    std::atomic<bool> cancelled{false};
    downloader_.onDownload = [&cancelled](const CFakeDownloader::SCall&) {
        for (int waited = 0; !cancelled && waited < 2000; waited += 5) {
            Sleep(5);
        }
    };
    SendMessageA(Control(download_ctl::kDownload), BM_CLICK, 0, 0);
    EXPECT_TRUE(LockedForDownload());
    SendMessageA(Control(download_ctl::kCancel), BM_CLICK, 0, 0);
    cancelled = true;
    ASSERT_TRUE(DownloadEnds());
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(Shown(Control(download_ctl::kDownload)) && IsWindowEnabled(Control(1002)));
    EXPECT_FALSE(Shown(Control(download_ctl::kCancel)) || Shown(Control(download_ctl::kProgress)));
    downloader_.onDownload = nullptr;

    const std::vector<std::uint8_t> firmware =
        testsupport::Pack(testsupport::EPackVariant::TripleDes, testsupport::SHeaderFields{},
                          testsupport::PatternPayload(640, 3))
            .bytes;
    downloader_.contents["http://files.test/f2.bin"] =
        std::string(firmware.begin(), firmware.end());
    SendMessageA(Control(download_ctl::kDownload), BM_CLICK, 0, 0);
    ASSERT_TRUE(DownloadEnds());
    EXPECT_EQ(window_.Handle(), nullptr);
    EXPECT_EQ(window_.Result(), IDOK);
    EXPECT_EQ(mainWindowPaths_, std::vector<std::string>{target});
    EXPECT_TRUE(std::filesystem::exists(target));
    ASSERT_EQ(downloader_.calls.size(), 3u);
    EXPECT_EQ(downloader_.calls[2].path, target);
}

// Catalogue text of any script reaches the list and the save-as box unchanged (the front end's
// code page is UTF-8 by the manifest, the list takes wide texts); the window grows.
TEST_F(WinDownloadWindowTest, TextsOfAnyScriptAndAWindowThatGrows) {
    const std::string name = "K4_\xC3\x9Cn\xC3\xAF"
                             "c\xC3\xB8"
                             "d\xC3\xA9_\xE5\x85\x85\xE7\x94\xB5\xE5\x99\xA8";
    std::ofstream(dir_.File("fetched.ini"))
        << "[File List]\nCountEx=1\nType0=" << name << "\nFileName0=" << name << "\n";
    ASSERT_TRUE(Made(window_.Create(nullptr)));
    const std::wstring wide = L"K4_\u00DCn\u00EFc\u00F8d\u00E9_\u5145\u7535\u5668";
    wchar_t cell[64] = {};
    LVITEMW item{};
    item.pszText = cell;
    item.cchTextMax = 64;
    SendMessageW(Control(download_ctl::kUpdatesList), LVM_GETITEMTEXTW, 0,
                 reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(std::wstring(cell), wide);
    EXPECT_EQ(window_.List().GetItemText(0, 0), name);
    // Its notifications are wide, so the whole cell's tip (LVN_GETINFOTIPW) reaches the window.
    EXPECT_TRUE(SendMessageA(Control(download_ctl::kUpdatesList), CCM_GETUNICODEFORMAT, 0, 0));
    wchar_t saveAs[MAX_PATH] = {};
    GetWindowTextW(Control(download_ctl::kSaveAs), saveAs, MAX_PATH);
    EXPECT_TRUE(std::wstring(saveAs).ends_with(L"\\" + wide + L".bin"));

    const auto place = [this](int id) {
        RECT at{};
        GetWindowRect(Control(id), &at);
        return at;
    };
    const RECT list = place(download_ctl::kUpdatesList);
    const RECT exit = place(download_ctl::kExit);
    RECT frame{};
    GetWindowRect(window_.Handle(), &frame);
    SetWindowPos(window_.Handle(), nullptr, 0, 0, frame.right - frame.left + 120,
                 frame.bottom - frame.top + 60, SWP_NOMOVE | SWP_NOZORDER);
    const RECT grownList = place(download_ctl::kUpdatesList);
    const RECT movedExit = place(download_ctl::kExit);
    EXPECT_EQ(grownList.right - list.right, 120);
    EXPECT_EQ(grownList.bottom - list.bottom, 60);
    EXPECT_EQ(movedExit.left - exit.left, 120);
    EXPECT_EQ(movedExit.top - exit.top, 60);
}

// Tab reaches the controls in reading order, and the labels' mnemonics lead to the controls
// they name.
TEST(WinDialogs, TabOrderFollowsReadingOrder) {
    EnsureCommonControls();
    namespace dl = download_ctl;
    namespace st = station_ctl;
    const std::array<std::pair<EDialog, std::vector<int>>, 3> dialogs{{
        {EDialog::Main,
         {ctl::kComPorts, ctl::kDeviceList, ctl::kPath, ctl::kOpen, ctl::kDownload, ctl::kUpdate,
          ctl::kExit}},
        {EDialog::Download, {dl::kUpdatesList, dl::kSaveAs, dl::kBrowse, dl::kDownload, dl::kExit}},
        {EDialog::Station,
         {st::kPath, st::kOpen, st::kUnits, st::kAutomatic, st::kUpdateAll, st::kClose}},
    }};
    for (const auto& [which, expected] : dialogs) {
        const int resource = static_cast<int>(which);
        const HWND dialog = MakePlainDialog(which);
        ASSERT_TRUE(Made(dialog)) << "template " << resource;
        std::vector<int> order;
        HWND control = GetNextDlgTabItem(dialog, nullptr, FALSE);
        for (std::size_t i = 0; i < expected.size() && control != nullptr; ++i) {
            order.push_back(GetDlgCtrlID(control));
            control = GetNextDlgTabItem(dialog, control, FALSE);
        }
        EXPECT_EQ(order, expected) << "template " << resource;
        DestroyWindow(dialog);
    }
}

TEST(WinSingleInstance, SecondLockOfTheSameNameIsRefused) {
    const std::string name = "crenovix-windialog-test-" + std::to_string(GetCurrentProcessId());
    auto first = AcquireSingleInstanceLock(name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(AcquireSingleInstanceLock(name), nullptr);
    EXPECT_NE(AcquireSingleInstanceLock(name + "-renamed"), nullptr);
    first.reset();
    EXPECT_NE(AcquireSingleInstanceLock(name), nullptr);
}

} // namespace
} // namespace crenovix::win32
