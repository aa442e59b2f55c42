// What the station window's logic needs of a window toolkit: controls addressed by their dialog
// ids (StationWindowTemplate()), the list of chargers with a progress bar in each row, the file
// dialog, and the queue to the window's thread. The Qt window and the native Windows window
// implement it; every decision stays in CStationWindow (app/StationWindow.h).
#pragma once

#include "app/DialogControls.h"
#include "controls/ReportList.h"

#include <functional>
#include <optional>
#include <string>

namespace crenovix {

class IStationView : public virtual IDialogControls {
public:
    // The chargers' list (station_ctl::kUnits): one row per charger, the columns of
    // StationColumns().
    virtual IReportListView& Units() = 0;
    // The bar in the progress column of `row`: `position` of 0..`upper`; the text `percent`
    // ("45 %") where the list shows no bar.
    virtual void SetRowProgress(int row, int position, int upper, const std::string& percent) = 0;

    // The file-open dialog for update files; nothing when the user cancels.
    virtual std::optional<std::string> ChooseUpdateFile() = 0;
    // Hands `call` to the window's thread, where it runs soon, after the calls posted before it.
    // Safe from any thread: the station's runs report through it.
    virtual void PostToWindow(std::function<void()> call) = 0;
    // A box that does not hold up the caller (see IMainWindowView::ShowNotice).
    virtual void ShowNotice(const std::string& text, const std::string& title) = 0;
    virtual void CloseNotice() = 0;
};

} // namespace crenovix
