// CStationWindow: every decision of the station window, over an abstract view (IStationView), as
// CMainWindowLogic is for the main window. The station itself (rows, runs, Automatic) is
// CStation (app/Station.h); this class shows it: the columns and their texts, the file's fields,
// the counters, which controls may be used, and the close guard while chargers are written.
//
// The station tells of changes from its runs' threads; they reach the window's thread through
// the view's PostToWindow, coalesced: however many come while one is on its way, the window pulls
// the rows once. The window never waits for a charger.
#pragma once

#include "app/MainWindowLogic.h"
#include "app/Station.h"
#include "app/StationView.h"
#include "device/DeviceChange.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace crenovix {

// The chargers' list's columns, in order, and the widths they start with (dialog units).
enum EStationColumn {
    kColPort,
    kColType,
    kColSerial,
    kColState,
    kColProgress,
    kColResult,
    kColTime
};
struct SStationColumn {
    const char* heading;
    int widthUnits;
};
const std::array<SStationColumn, 7>& StationColumns();

// "0:07", "12:40": minutes and seconds of a run.
std::string ElapsedText(std::uint32_t elapsedMs);
// "Updated: 3    Failed: 1".
std::string CountersText(const SStationCounters& counters);
// "0x0A".
std::string DeviceCodeText(std::uint8_t code);
// The row's texts, column by column, as the list shows them. The result column shows the run's
// status line while it runs and the run's message afterwards.
std::array<std::string, 7> StationRowTexts(const SStationRow& row);

inline constexpr const char* kCloseStationDuringRunText =
    "Chargers are being updated.\n\nClosing the station now can leave them without working "
    "firmware. Please wait until every update has ended.";

class CStationWindow final : private IStationObserver {
public:
    // The station runs on `services`; its observer is this window.
    CStationWindow(IStationView& view, SStationServices services);
    ~CStationWindow() override;
    CStationWindow(const CStationWindow&) = delete;
    CStationWindow& operator=(const CStationWindow&) = delete;

    // Columns (`columnWidthPx` turns dialog units into pixels), the first listing, and
    // `path` as the station's file when one is given (the main window's).
    void OnInitDialog(const std::function<int(int)>& columnWidthPx, const std::string& path);
    void OnPathEdited();
    void OnOpenClicked();
    void OnUpdateAllClicked();
    void OnAutomaticClicked();
    void OnDeviceChange(EDeviceChange change);
    // Every half second or so while runs go on: their times move on.
    void OnTimer();
    // False while chargers are written: a notice says why, the runs go on.
    bool OnCloseRequested();

    // Held while chargers are written, as the main window's run holds it; may be nullptr.
    void SetSleepInhibitor(ISleepInhibitor* inhibitor) { sleepInhibitor_ = inhibitor; }

    CStation& Station() { return *station_; }
    // On the window's thread: shows the station as it stands (what a posted change does).
    void Refresh();

private:
    void OnStationChanged() override;
    void LoadFile(const std::string& path);
    void ShowFile(const SStationFile& file);

    IStationView& view_;
    std::unique_ptr<CStation> station_;
    std::atomic<bool> refreshPosted_{false};
    std::vector<std::array<std::string, 7>> shown_; // the list's texts, row by row
    std::vector<int> shownPercent_;
    ISleepInhibitor* sleepInhibitor_ = nullptr;
    bool inhibiting_ = false;
};

} // namespace crenovix
