#include "app/StationWindow.h"

#include "app/DialogTemplate.h"

#include <cstdio>

namespace crenovix {

namespace st = station_ctl;

namespace {
// The file's fields, shown only for a valid file; the error line takes their place otherwise.
constexpr std::array<int, 3> kFileLabels = {st::kVersionLabel, st::kTypeLabel, st::kCodeLabel};
constexpr std::array<int, 3> kFileTexts = {st::kVersionText, st::kTypeText, st::kCodeText};

// Widths fit the texts a column usually holds at the dialog font ("Kelvorin K6 Pro",
// "unplugged", "Upgrade completion! (12.05 Sec)"); the result column is the widest, as its
// texts are the longest.
constexpr std::array<SStationColumn, 7> kColumns = {{
    {"Port", 36},
    {"Type", 56},
    {"S/N", 44},
    {"State", 36},
    {"Progress", 50},
    {"Result", 132},
    {"Time", 28},
}};
} // namespace

const std::array<SStationColumn, 7>& StationColumns() {
    return kColumns;
}

std::string ElapsedText(std::uint32_t elapsedMs) {
    const std::uint32_t seconds = elapsedMs / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u", static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
    return text;
}

std::string CountersText(const SStationCounters& counters) {
    return "Updated: " + std::to_string(counters.updated) +
           "    Failed: " + std::to_string(counters.failed);
}

std::string DeviceCodeText(std::uint8_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(code));
    return text;
}

std::array<std::string, 7> StationRowTexts(const SStationRow& row) {
    std::array<std::string, 7> texts;
    texts[kColPort] = row.device.strPort;
    texts[kColType] = row.device.strType;
    texts[kColSerial] = row.device.strSerial;
    texts[kColState] = StationStateText(row.state);
    texts[kColProgress] = std::to_string(row.percent) + " %";
    texts[kColResult] = row.state == EStationState::Updating ? row.status : row.resultText;
    // A unit not yet updated has no time to show.
    texts[kColTime] = row.runs > 0 || row.state == EStationState::Updating
                          ? ElapsedText(row.elapsedMs)
                          : std::string();
    return texts;
}

CStationWindow::CStationWindow(IStationView& view, SStationServices services) : view_(view) {
    services.observer = this;
    station_ = std::make_unique<CStation>(std::move(services));
}

// The station goes first: its end waits for runs that may still tell this window of changes.
CStationWindow::~CStationWindow() {
    station_.reset();
    if (inhibiting_ && sleepInhibitor_ != nullptr) {
        sleepInhibitor_->Release();
    }
}

void CStationWindow::OnInitDialog(const std::function<int(int)>& columnWidthPx,
                                  const std::string& path) {
    IReportListView& units = view_.Units();
    units.EnableFullRowSelect();
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        units.InsertColumn(static_cast<int>(i), kColumns[i].heading,
                           columnWidthPx(kColumns[i].widthUnits));
    }
    view_.SetText(st::kPath, path);
    LoadFile(path);
    OnDeviceChange(EDeviceChange::NodesChanged);
}

void CStationWindow::LoadFile(const std::string& path) {
    station_->ChooseFile(path);
    Refresh();
}

void CStationWindow::OnPathEdited() {
    LoadFile(view_.GetText(st::kPath));
}

void CStationWindow::OnOpenClicked() {
    if (const auto path = view_.ChooseUpdateFile()) {
        view_.SetText(st::kPath, *path);
        LoadFile(*path);
    }
}

void CStationWindow::OnUpdateAllClicked() {
    station_->UpdateAll();
    Refresh();
}

void CStationWindow::OnAutomaticClicked() {
    station_->SetAutomatic(view_.IsChecked(st::kAutomatic));
    view_.SetChecked(st::kAutomatic, station_->Automatic()); // as the station took it
    Refresh();
}

void CStationWindow::OnDeviceChange(EDeviceChange /*change*/) {
    // An enumeration error leaves the rows as they were; the next change lists again. A box here
    // would stop the window while runs go on.
    station_->OnDevicesChanged();
    Refresh();
}

void CStationWindow::OnTimer() {
    if (station_->Busy()) {
        Refresh();
    }
}

bool CStationWindow::OnCloseRequested() {
    if (station_->Busy()) {
        view_.ShowNotice(kCloseStationDuringRunText, "Info");
        return false;
    }
    station_->Stop();
    return true;
}

void CStationWindow::OnStationChanged() {
    // From a run's thread: one refresh on its way is enough, it pulls everything.
    if (!refreshPosted_.exchange(true)) {
        view_.PostToWindow([this] { Refresh(); });
    }
}

void CStationWindow::ShowFile(const SStationFile& file) {
    for (const int id : kFileLabels) {
        view_.SetVisible(id, file.bValid);
    }
    view_.SetText(st::kVersionText, file.bValid ? file.version : "");
    view_.SetText(st::kTypeText, file.bValid ? file.type : "");
    view_.SetText(st::kCodeText, file.bValid ? DeviceCodeText(file.deviceCode) : "");
    for (const int id : kFileTexts) {
        view_.SetVisible(id, file.bValid);
    }
    view_.SetText(st::kErrorLine, file.bValid ? "" : file.errorText);
    view_.SetVisible(st::kErrorLine, !file.bValid && !file.errorText.empty());
}

void CStationWindow::Refresh() {
    refreshPosted_ = false; // changes from now on post again
    const std::vector<SStationRow> rows = station_->Rows();
    IReportListView& units = view_.Units();
    // Rows stay with their units and keep their places, so row i of the list is row i of the
    // station; only texts that changed are set again.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int row = static_cast<int>(i);
        const std::array<std::string, 7> texts = StationRowTexts(rows[i]);
        if (i >= shown_.size()) {
            units.InsertRow(row, texts[0]);
            shown_.push_back({});
            shown_.back()[0] = texts[0];
            shownPercent_.push_back(-1);
        }
        for (std::size_t column = 0; column < texts.size(); ++column) {
            // The progress column is the bar's (SetRowProgress).
            if (column != kColProgress && shown_[i][column] != texts[column]) {
                units.SetItemText(row, static_cast<int>(column), texts[column]);
                shown_[i][column] = texts[column];
            }
        }
        if (shownPercent_[i] != rows[i].percent) {
            view_.SetRowProgress(row, rows[i].percent, 100, texts[kColProgress]);
            shownPercent_[i] = rows[i].percent;
        }
    }

    const SStationFile file = station_->File();
    ShowFile(file);
    view_.SetText(st::kCounters, CountersText(station_->Counters()));
    const bool busy = station_->Busy();
    bool someoneToUpdate = false;
    for (const SStationRow& row : rows) {
        someoneToUpdate = someoneToUpdate || (row.state != EStationState::Updating &&
                                              row.state != EStationState::Unplugged);
    }
    view_.SetEnabled(st::kUpdateAll, file.bValid && someoneToUpdate);
    // The file is the runs' until they end.
    view_.SetEnabled(st::kPath, !busy);
    view_.SetEnabled(st::kOpen, !busy);
    view_.SetEnabled(st::kAutomatic, file.bValid || station_->Automatic());
    if (!busy) {
        view_.CloseNotice(); // the runs it warned about are over
    }
    if (busy != inhibiting_ && sleepInhibitor_ != nullptr) {
        busy ? sleepInhibitor_->Acquire() : sleepInhibitor_->Release();
    }
    inhibiting_ = busy;
}

} // namespace crenovix
