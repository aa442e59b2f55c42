#include "app/MainWindowLogic.h"

#include "device/SerialEnumeration.h"
#include "protocol/UpdateRun.h"

#include <array>

namespace crenovix {

namespace {
// The File Information labels that show only for a valid file.
constexpr std::array<int, 3> kPanelLabels = {ctl::kVersionLabel, ctl::kTypeLabel, ctl::kMemoLabel};
constexpr std::array<int, 3> kPanelTexts = {ctl::kVersionText, ctl::kTypeText, ctl::kMemoText};
// Controls a run must not see changed: the device list it reads, and everything that could load
// another file into the image it sends or refill the list under it.
constexpr std::array<int, 5> kRunLocked = {ctl::kDeviceList, ctl::kPath, ctl::kOpen, ctl::kDownload,
                                           ctl::kComPorts};
} // namespace

CMainWindowLogic::CMainWindowLogic(IMainWindowView& view, SDeviceListState& devices,
                                   SMainWindowServices services, ImageBuffer image)
    : view_(view), devices_(devices), services_(std::move(services)), image_(image) {}

void CMainWindowLogic::OnInitDialog() {
    view_.SetChecked(ctl::kComPorts, false);
    view_.SetEnabled(ctl::kUpdate, false);
    view_.SetVisible(ctl::kProgress, false);
    view_.SetVisible(ctl::kStatus, false);
    for (const int id : kPanelLabels) {
        view_.SetVisible(id, false);
    }
    for (const int id : kPanelTexts) {
        view_.SetText(id, "");
    }
    view_.SetVisible(ctl::kErrorLine, false);
    RefreshDevices();
    view_.SetVisible(ctl::kReleaseLink, false);
    view_.SetVisible(ctl::kHiddenCheck, false);
    view_.SetVisible(ctl::kCodeField, false);
    if (services_.checkForNewRelease) {
        view_.RunInBackground(
            [this, check = services_.checkForNewRelease](const CCancelToken& cancel) {
                std::optional<std::string> newer = check(cancel);
                return [this, newer] { OnReleaseChecked(newer); };
            });
    }
}

void CMainWindowLogic::OnReleaseChecked(const std::optional<std::string>& newer) {
    if (newer) {
        view_.SetLinkTarget(*newer);
    }
    view_.SetVisible(ctl::kReleaseLink, newer.has_value());
}

std::optional<SDeviceEntry> CMainWindowLogic::SelectedRow() {
    const int line = view_.ListSelection();
    if (line < 0 || line >= devices_.nDeviceCount) {
        return std::nullopt;
    }
    return devices_.rows[static_cast<std::size_t>(line)];
}

void CMainWindowLogic::RefreshDevices(const SDeviceEntry* keep) {
    // The list keeps the charger the user chose, also while it is away for a moment (it restarts
    // after an update). Between runs the list and the table agree, so a selected line that is not
    // the one the last refresh selected is the user's new choice.
    if (keep != nullptr) {
        chosen_ = *keep;
    } else if (!running_) {
        const std::optional<SDeviceEntry> selected = SelectedRow();
        if (selected && (!shown_ || !SameCharger(*selected, *shown_))) {
            chosen_ = selected;
        }
    }
    try {
        RefreshDeviceList(devices_, *this, services_.enumerator, chosen_ ? &*chosen_ : nullptr);
        if (!running_) {
            shown_ = SelectedRow();
        }
    } catch (const CEnumerationError& error) {
        // The list stays as it was. During a run only the table would have changed, and a box
        // would stop the run's own messages, so the run goes on with the table it has.
        if (!running_) {
            view_.MessageBox(error.what(), "Error", EMessageIcon::Error);
        }
    }
}

void CMainWindowLogic::ShowPanel(bool valid, const std::string& errorText) {
    for (const int id : kPanelLabels) {
        view_.SetVisible(id, valid);
    }
    if (valid) {
        const SUpdateHeader header = ReadUpdateHeader(image_);
        view_.SetText(ctl::kVersionText, header.szVersion);
        view_.SetText(ctl::kTypeText, header.szType);
        view_.SetText(ctl::kMemoText, header.szMemo);
    } else {
        for (const int id : kPanelTexts) {
            view_.SetText(id, "");
        }
    }
    view_.SetText(ctl::kErrorLine, errorText);
    view_.SetVisible(ctl::kErrorLine, !errorText.empty());
}

void CMainWindowLogic::LoadHeader() {
    const ELoadOutcome outcome = LoadUpdateHeader(view_.GetText(ctl::kPath), image_).outcome;
    const bool valid = outcome == ELoadOutcome::Loaded;
    // An unreadable path is what a half-typed one gives: an empty panel, no text.
    const std::string_view errorText =
        outcome == ELoadOutcome::CannotOpen ? std::string_view{} : LoadOutcomeText(outcome);
    ShowPanel(valid, std::string(errorText));
    devices_.bFileValid = valid;
    view_.SetEnabled(ctl::kUpdate, valid && devices_.nDeviceCount != 0);
}

void CMainWindowLogic::OnPathEdited() {
    LoadHeader();
}

void CMainWindowLogic::SetPathAndLoad(const std::string& path) {
    view_.SetText(ctl::kPath, path);
    LoadHeader();
}

void CMainWindowLogic::OnOpenClicked() {
    if (const auto path = view_.ChooseUpdateFile()) {
        SetPathAndLoad(*path);
    }
}

void CMainWindowLogic::OnComPortsClicked() {
    RefreshDevices();
}

void CMainWindowLogic::OnDeviceChange(EDeviceChange /*change*/) {
    RefreshDevices();
}

void CMainWindowLogic::OnUpdateClicked() {
    if (running_) {
        return;
    }
    running_ = true;
    if (services_.sleepInhibitor != nullptr) {
        services_.sleepInhibitor->Acquire();
    }
    // The row as the user chose it: the table may change under the run (a HID charger restarts
    // under another port name), and the list is to select this charger again afterwards.
    const std::optional<SDeviceEntry> chosen = SelectedRow();
    SUpdateContext context{*this,    services_.clock,  services_.ports,
                           devices_, services_.nonces, image_};
    const SRunResult result = ::crenovix::OnUpdateClicked(context, [this, &chosen] {
        running_ = false; // the run is over: an enumeration error may be shown again
        RefreshDevices(chosen ? &*chosen : nullptr);
    });
    running_ = false;
    if (result.Ok()) {
        // The box keeps its own text; the status line says which charger got what.
        view_.SetText(ctl::kStatus, RunSummaryText(result));
        view_.SetVisible(ctl::kStatus, true);
    }
    if (services_.sleepInhibitor != nullptr) {
        services_.sleepInhibitor->Release();
    }
}

void CMainWindowLogic::OnDownloadClicked() {
    if (services_.openDownloadWindow && !running_) {
        services_.openDownloadWindow();
    }
}

bool CMainWindowLogic::OnCloseRequested() {
    if (running_) {
        // A modal box would stop the run until it is answered; the charger's boot loader may
        // give up waiting meanwhile.
        view_.ShowNotice(kCloseDuringRunText, "Info");
        return false;
    }
    return true;
}

std::string CMainWindowLogic::GetPathText() {
    return view_.GetText(ctl::kPath);
}

int CMainWindowLogic::GetCurrentSelection() {
    return view_.ListSelection();
}

void CMainWindowLogic::SetDeviceListEnabled(bool enabled) {
    for (const int id : kRunLocked) {
        view_.SetEnabled(id, enabled);
    }
}

void CMainWindowLogic::SetUpdateEnabled(bool enabled) {
    view_.SetEnabled(ctl::kUpdate, enabled);
}

void CMainWindowLogic::SetStatusText(const std::string& text) {
    view_.SetText(ctl::kStatus, text);
}

void CMainWindowLogic::ShowStatus(bool shown) {
    view_.SetVisible(ctl::kStatus, shown);
}

void CMainWindowLogic::SetProgressRange(std::uint16_t upper) {
    view_.SetProgressRange(upper);
}

void CMainWindowLogic::SetProgressPos(int position) {
    view_.SetProgressPos(position);
}

void CMainWindowLogic::ShowProgress(bool shown) {
    view_.SetVisible(ctl::kProgress, shown);
}

void CMainWindowLogic::MessageBox(const std::string& text, const std::string& title,
                                  EMessageIcon icon) {
    view_.MessageBox(text, title, icon);
}

void CMainWindowLogic::ResetFileInfo(const std::string& errorText) {
    ShowPanel(false, errorText);
    devices_.bFileValid = false;
    view_.SetEnabled(ctl::kUpdate, false);
}

void CMainWindowLogic::RestoreControls() {
    view_.SetVisible(ctl::kStatus, false);
    view_.SetVisible(ctl::kProgress, false);
    view_.SetEnabled(ctl::kUpdate, true);
}

bool CMainWindowLogic::DispatchPendingMessages() {
    return view_.PumpEvents();
}

bool CMainWindowLogic::IsComPortBoxTicked() {
    return view_.IsChecked(ctl::kComPorts);
}

void CMainWindowLogic::ClearLines() {
    view_.ListClear();
}

void CMainWindowLogic::InsertLine(int index, const std::string& text) {
    view_.ListInsert(index, text);
}

void CMainWindowLogic::SelectLine(int index) {
    view_.ListSelect(index);
}

} // namespace crenovix
