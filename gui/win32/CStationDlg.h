// CStationDlg: the station window on Windows, a dialog built from the station's table
// (StationWindowTemplate(), app/DialogTemplate.cpp) with a report-mode list view of the chargers,
// whose progress column shows each run's percentage. It carries out what CStationWindow asks of
// the view and forwards the controls' notifications to it: path edits, Open, Automatic, Update
// all, device changes (WM_DEVICECHANGE, or `devicesChangedPoll` for simulated chargers), and the
// close guard for Close, Escape and the close box. The station's runs go on worker threads;
// their changes come back to the window's thread as kRunEvents.
//
// Run modally over the main window (its system menu's "Station view...") or as the program's
// window ("crenovix --station").
#pragma once

// The views' headers before windows.h, whose MessageBox macro would rename their member (the
// main window's header undoes the macro).
#include "app/StationView.h"
#include "app/StationWindow.h"
#include "gui/win32/CrenovixDlg.h"
#include "online/Background.h"

#include "gui/win32/CMyListCtrl.h"
#include "gui/win32/DialogWindow.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::win32 {

class CStationDlg final : public CDialogWindow, public IStationView {
public:
    // `path`: the station's file to begin with (the main window's), or empty.
    CStationDlg(SStationServices services, std::string path);
    ~CStationDlg() override;

    CStationWindow& Logic() { return logic_; }
    CMyListCtrl& List() { return list_; }

    // Asked every 100 ms while the window is open when set: true means devices came or went.
    std::function<bool()> devicesChangedPoll;
    // Replace this to answer the file dialog without a person.
    std::function<std::optional<std::string>()> fileDialogHandler;

    // IStationView.
    IReportListView& Units() override { return list_; }
    void SetRowProgress(int row, int position, int upper, const std::string& percent) override;
    std::optional<std::string> ChooseUpdateFile() override;
    void PostToWindow(std::function<void()> call) override;
    void ShowNotice(const std::string& text, const std::string& title) override;
    void CloseNotice() override;

private:
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL OnInitDialog();
    void OnCommand(int id, int code);
    void OnDestroy();

    std::string path_;
    CMyListCtrl list_;
    std::vector<HDEVNOTIFY> notifications_;
    CStationWindow logic_;
};

} // namespace crenovix::win32
