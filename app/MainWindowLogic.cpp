#include "app/MainWindowLogic.h"

#include "device/SerialEnumeration.h"
#include "protocol/UpdateRun.h"

#include <array>
#include <fstream>

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

// The run's observer, on the run's thread: every event goes to the window's thread in order,
// and the run's own table is refilled here when devices changed.
class CMainWindowLogic::CRunObserver final : public IRunObserver, public IDeviceListView {
public:
    CRunObserver(CMainWindowLogic& logic, bool comPortsTicked)
        : logic_(logic), comPortsTicked_(comPortsTicked) {}

    void SetUpdateEnabled(bool enabled) override {
        Post([enabled](CMainWindowLogic& logic) { logic.SetUpdateEnabled(enabled); });
    }
    void SetStatusText(const std::string& text) override {
        Post([text](CMainWindowLogic& logic) { logic.SetStatusText(text); });
    }
    void ShowStatus(bool shown) override {
        Post([shown](CMainWindowLogic& logic) { logic.ShowStatus(shown); });
    }
    void SetProgressRange(std::uint16_t upper) override {
        Post([upper](CMainWindowLogic& logic) { logic.SetProgressRange(upper); });
    }
    void SetProgressPos(int position) override {
        Post([position](CMainWindowLogic& logic) { logic.SetProgressPos(position); });
    }
    void ShowProgress(bool shown) override {
        Post([shown](CMainWindowLogic& logic) { logic.ShowProgress(shown); });
    }
    void ResetFileInfo(const std::string& errorText) override {
        Post([errorText](CMainWindowLogic& logic) { logic.ResetFileInfo(errorText); });
    }
    bool DispatchPendingMessages() override {
        bool changed = logic_.devicesChanged_.exchange(false);
        if (logic_.services_.devicesChangedPoll && logic_.services_.devicesChangedPoll()) {
            changed = true;
        }
        if (changed) {
            try {
                RefreshDeviceList(logic_.runDevices_, *this, logic_.services_.enumerator);
            } catch (const CEnumerationError&) {
                // The run goes on with the table it has, as it always did.
            }
        }
        return true;
    }

    // The run's table is refilled without a list (the list stays as the run found it).
    bool IsComPortBoxTicked() override { return comPortsTicked_; }
    void ClearLines() override {}
    void InsertLine(int /*index*/, const std::string& /*text*/) override {}
    void SelectLine(int /*index*/) override {}

private:
    template <typename Call>
    void Post(Call call) {
        CMainWindowLogic& logic = logic_;
        logic.view_.PostToWindow([&logic, call = std::move(call)] { call(logic); });
    }

    CMainWindowLogic& logic_;
    bool comPortsTicked_;
};

CMainWindowLogic::CMainWindowLogic(IMainWindowView& view, SDeviceListState& devices,
                                   SMainWindowServices services, ImageBuffer image)
    : view_(view), devices_(devices), services_(std::move(services)), image_(image) {}

CMainWindowLogic::~CMainWindowLogic() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

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
    const std::string path = view_.GetText(ctl::kPath);
    const ELoadOutcome outcome = LoadUpdateHeader(path, image_).outcome;
    const bool valid = outcome == ELoadOutcome::Loaded;
    // An empty field names no file yet; any other path that cannot be opened (a typo, a folder)
    // says so, or the user would not know why the panel stays empty.
    const std::string_view errorText = path.empty() ? std::string_view{} : LoadOutcomeText(outcome);
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
    if (running_) {
        devicesChanged_ = true; // the run refills its table on its own thread
        return;
    }
    RefreshDevices();
}

void CMainWindowLogic::OnUpdateClicked() {
    if (running_) {
        return;
    }
    if (worker_.joinable()) {
        worker_.join(); // the run before has ended: its result has been shown
    }
    running_ = true;
    runEnded_ = false;
    workerDone_ = false;
    if (services_.sleepInhibitor != nullptr) {
        services_.sleepInhibitor->Acquire();
    }
    // The row as the user chose it: the table may change under the run (a HID charger restarts
    // under another port name), and the list is to select this charger again afterwards.
    runChosen_ = SelectedRow();
    devices_.bListRefreshEnabled = false;
    SetDeviceListEnabled(false);
    // What the run shows first, shown at once: the button pressed must not look pressable while
    // the run's own first events are on their way.
    SetUpdateEnabled(false);
    ShowStatus(true);
    SetStatusText(run_text::kOpenFile + GetPathText());
    // The run reads a table of its own; the window's stays with the list it shows.
    runDevices_ = devices_;
    devicesChanged_ = false;
    runObserver_ = std::make_unique<CRunObserver>(*this, view_.IsChecked(ctl::kComPorts));
    // Each run draws its challenges from a generator of its own, seeded from the program's, so
    // that its trace names the seed a replay needs.
    const std::uint32_t seed =
        std::uint32_t{services_.nonces.NextNonce()} << 15 | services_.nonces.NextNonce();
    runNonces_ = std::make_unique<CNonceGenerator>(seed);
    runTrace_ = std::make_unique<CTraceBuffer>(services_.clock);
    const SDeviceEntry target = runChosen_.value_or(SDeviceEntry{});
    runTrace_->Start(target.strPort, target.strType, target.strSerial, seed);
    runPorts_ = std::make_unique<CRecordingPorts>(services_.ports, *runTrace_, target.strPort);
    SRunJob job{
        *runObserver_, services_.clock,       *runPorts_, runDevices_,        *runNonces_, image_,
        GetPathText(), view_.ListSelection(), false,      services_.updateLog};
    worker_ = std::thread([this, job]() mutable {
        const SRunResult result = RunUpdate(job);
        view_.PostToWindow([this, result] { OnRunEnded(result); });
        workerDone_ = true;
    });
}

void CMainWindowLogic::OnRunEnded(const SRunResult& result) {
    if (worker_.joinable()) {
        worker_.join();
    }
    runPorts_.reset();
    lastTrace_ = std::move(runTrace_);
    view_.CloseNotice(); // the run it warned about is over
    ShowRunResult(*this, result);
    devices_.bListRefreshEnabled = true;
    SetDeviceListEnabled(true);
    running_ = false; // an enumeration error may be shown again
    RefreshDevices(runChosen_ ? &*runChosen_ : nullptr);
    if (result.Ok()) {
        // The box keeps its own text; the status line says which charger got what.
        view_.SetText(ctl::kStatus, RunSummaryText(result));
        view_.SetVisible(ctl::kStatus, true);
    }
    if (!result.logError.empty()) {
        // The box told the update's result; the status line tells what the record missed.
        view_.SetText(ctl::kStatus, result.logError);
        view_.SetVisible(ctl::kStatus, true);
    }
    if (services_.sleepInhibitor != nullptr) {
        services_.sleepInhibitor->Release();
    }
    runEnded_ = true;
}

void CMainWindowLogic::WaitForRun(const std::function<void()>& deliver) {
    // As long as the run itself (its waits are bounded), and one delivery after it posted its
    // last call: a `deliver` that runs nothing cannot hold this loop.
    while (running_ && !runEnded_) {
        const bool posted = workerDone_;
        deliver();
        if (posted) {
            return;
        }
        std::this_thread::yield();
    }
}

void CMainWindowLogic::OnDownloadClicked() {
    if (services_.openDownloadWindow && !running_) {
        services_.openDownloadWindow();
    }
}

void CMainWindowLogic::OnStationClicked(const std::function<void()>& open) {
    if (open && !running_) {
        open();
        RefreshDevices();
    }
}

void CMainWindowLogic::OnSaveDiagnosticClicked() {
    if (lastTrace_ == nullptr) {
        view_.MessageBox(kNoDiagnosticText, "Info", EMessageIcon::None);
        return;
    }
    const std::optional<std::string> path = view_.ChooseDiagnosticFile();
    if (!path) {
        return;
    }
    // A whole update's trace is about 10 MiB: written off the window's thread.
    view_.RunInBackground([this, path = *path, text = lastTrace_->Text()](const CCancelToken&) {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.close();
        const bool saved = !file.fail();
        return std::function<void()>([this, path, saved] {
            if (!saved) {
                view_.MessageBox(kDiagnosticNotSavedText + path + ".", "Error",
                                 EMessageIcon::Error);
            }
        });
    });
}

void CMainWindowLogic::OnKeepUpdateLogClicked() {
    SUpdateLogSetting setting = services_.updateLogSettings.current;
    setting.keep = !setting.keep;
    ChangeUpdateLog(setting);
}

void CMainWindowLogic::OnUpdateLogFileClicked() {
    if (!CanChangeUpdateLog()) {
        return;
    }
    const SUpdateLogSettings& settings = services_.updateLogSettings;
    const std::optional<std::string> path = view_.ChooseUpdateLogFile(
        settings.current.path.empty() ? settings.defaultPath : settings.current.path);
    if (path && !path->empty()) {
        ChangeUpdateLog({*path, true}); // a place chosen is a log wanted
    }
}

void CMainWindowLogic::ChangeUpdateLog(const SUpdateLogSetting& setting) {
    if (!CanChangeUpdateLog()) {
        return;
    }
    const SUpdateLogChange change = services_.updateLogSettings.change(setting);
    if (!change.warning.empty()) {
        view_.MessageBox(change.warning, "Error", EMessageIcon::Error);
        return;
    }
    services_.updateLogSettings.current = setting;
    services_.updateLog = change.log;
    if (!change.saveError.empty()) {
        std::string text(kSettingNotSavedText);
        text.append(change.saveError);
        view_.MessageBox(text, "Error", EMessageIcon::Error);
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

// Runs report through CRunObserver on their own thread, which refills their table; the window's
// own loop handles its events, never a loop nested in a handler.
bool CMainWindowLogic::DispatchPendingMessages() {
    return true;
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
