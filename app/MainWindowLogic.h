// CMainWindowLogic: every decision of the main window, over an abstract view.
//
// It keeps the File Information panel in step with the path field, decides when Update may be
// pressed, routes the controls' events (path edits, Open, the serial-ports box, device changes,
// Update, Download, closing) and is the window that update runs report to. The toolkit's window
// (Qt, or the native Windows one) only builds the controls and forwards their events; tests drive
// this class through a fake view without any toolkit.
#pragma once

#include "app/MainWindowView.h"
#include "app/Settings.h"
#include "base/Clock.h"
#include "device/DeviceChange.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "protocol/Trace.h"
#include "protocol/UpdateLog.h"
#include "protocol/UpdateRun.h"
#include "protocol/UpdateWindow.h"
#include "updatefile/UpdateFile.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace crenovix {

// Asks the system not to sleep while a charger is written. Acquire may do nothing where the
// system offers no such service.
class ISleepInhibitor {
public:
    virtual ~ISleepInhibitor() = default;
    virtual void Acquire() = 0;
    virtual void Release() = 0;
};

// What changing the update log's setting came to.
struct SUpdateLogChange {
    // Empty: the log now in use is `log` (nullptr: none). Otherwise the warning to show
    // (LogFailureText): the place cannot be opened and the log in use stays.
    std::string warning;
    IUpdateLog* log = nullptr;
    std::string saveError; // empty, or why the settings file was not written
};

// The update log's setting in the window: as the program started with it, and how to change it.
struct SUpdateLogSettings {
    SUpdateLogSetting current;
    std::string defaultPath; // the log's place while current.path is empty
    // Opens the log the setting names in place of the one in use and saves the setting; empty
    // where the window cannot change it.
    std::function<SUpdateLogChange(const SUpdateLogSetting&)> change;
};

struct SMainWindowServices {
    IDeviceEnumerator& enumerator;
    IPortOpener& ports;
    IClock& clock;
    INonceSource& nonces;
    // The start-up version check: the address of a newer release, or nothing. Runs off the
    // window's thread; the token ends it early.
    std::function<std::optional<std::string>(const CCancelToken& cancel)> checkForNewRelease;
    // The Download button's command.
    std::function<void()> openDownloadWindow;
    ISleepInhibitor* sleepInhibitor = nullptr;
    // Where devices are polled for changes (the demo desk) rather than reported: asked by a run
    // on its own thread whenever it looks at the table. Empty for the system's devices.
    std::function<bool()> devicesChangedPoll;
    // Where each run is recorded (the program's settings choose it); nothing without one.
    IUpdateLog* updateLog = nullptr;
    SUpdateLogSettings updateLogSettings = {};
};

inline constexpr const char* kCloseDuringRunText =
    "A charger is being updated.\n\nClosing the program now can leave the charger without "
    "working firmware. Please wait until the update has ended.";
inline constexpr const char* kNoDiagnosticText =
    "No update has run yet: there is no diagnostic to save.";
inline constexpr const char* kDiagnosticNotSavedText = "The diagnostic could not be saved to ";
inline constexpr const char* kSettingNotSavedText =
    "The setting holds until the program ends, but it could not be saved: ";

class CMainWindowLogic final : public IUpdateWindow, public IDeviceListView {
public:
    CMainWindowLogic(IMainWindowView& view, SDeviceListState& devices, SMainWindowServices services,
                     ImageBuffer image = UpdateImage);
    // Waits for a run still under way (closing is refused during one, so only the program's end
    // gets here with a run on).
    ~CMainWindowLogic() override;
    CMainWindowLogic(const CMainWindowLogic&) = delete;
    CMainWindowLogic& operator=(const CMainWindowLogic&) = delete;

    // Events from the window.
    // Hides the release link and starts the version check in the background: the window shows
    // and answers at once whatever the servers do.
    void OnInitDialog();
    // The version check's answer: a newer release's address shows the link with that target.
    void OnReleaseChecked(const std::optional<std::string>& newer);
    void OnPathEdited(); // the user typed or pasted in the path field
    void OnOpenClicked();
    void OnComPortsClicked();
    // Every kind refills the device list; during a run the run's own table instead, on the run's
    // thread.
    void OnDeviceChange(EDeviceChange change);
    // Starts the run on a worker thread of its own and returns at once: the window goes on
    // answering. The run's events come back through the view's PostToWindow, its result in
    // OnRunEnded.
    void OnUpdateClicked();
    // Blocks until a run under way has ended and its result has been shown, for tests that drive
    // the logic without an event loop: `deliver` runs what the run posted to the window.
    void WaitForRun(const std::function<void()>& deliver);
    // A version check still under way goes on beside the download window: each fetch has a
    // temporary file of its own, and its answer still shows the release link.
    void OnDownloadClicked();
    // The menu's "Station view...": `open` runs the station window over this one, not during a
    // run (the station would take the run's charger for one of its own); the list is refilled
    // afterwards, as the station's chargers restarted.
    void OnStationClicked(const std::function<void()>& open);
    // False: refused, a charger is being written; a notice says why and the run goes on.
    bool OnCloseRequested();
    // "Save diagnostic...": the last finished run's trace, in the command line's --record form,
    // saved where the file dialog says (written off the window's thread). Says so when no run
    // has finished yet.
    void OnSaveDiagnosticClicked();
    bool HasDiagnostic() const { return lastTrace_ != nullptr; }
    // The menu's "Keep update log" (checked while KeepsUpdateLog) turns the log on or off;
    // "Update log file..." asks for the log's place, starting from the current one, and keeps
    // the log there. Both are refused during a run, whose record goes to the log it began with,
    // and where the window cannot change the setting (CanChangeUpdateLog). A place that cannot
    // be opened is said and the setting stays as it was.
    bool KeepsUpdateLog() const { return services_.updateLogSettings.current.keep; }
    bool CanChangeUpdateLog() const {
        return !running_ && static_cast<bool>(services_.updateLogSettings.change);
    }
    void OnKeepUpdateLogClicked();
    void OnUpdateLogFileClicked();
    // Puts a path into the path field and loads it, as the Open button and a finished download
    // do (the file loads even when the field already held that path).
    void SetPathAndLoad(const std::string& path);

    bool IsRunning() const { return running_; }

    // IUpdateWindow.
    std::string GetPathText() override;
    int GetCurrentSelection() override;
    void SetDeviceListEnabled(bool enabled) override;
    void SetUpdateEnabled(bool enabled) override;
    void SetStatusText(const std::string& text) override;
    void ShowStatus(bool shown) override;
    void SetProgressRange(std::uint16_t upper) override;
    void SetProgressPos(int position) override;
    void ShowProgress(bool shown) override;
    void MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) override;
    void ResetFileInfo(const std::string& errorText) override;
    void RestoreControls() override;
    bool DispatchPendingMessages() override;

    // IDeviceListView.
    bool IsComPortBoxTicked() override;
    void ClearLines() override;
    void InsertLine(int index, const std::string& text) override;
    void SelectLine(int index) override;

private:
    class CRunObserver;
    // On the window's thread, after the run: the result shown, the list refilled with the
    // charger selected again, the notice taken down.
    void OnRunEnded(const SRunResult& result);

    // `keep`: the charger the list is to select afterwards (default: the one the user chose).
    void RefreshDevices(const SDeviceEntry* keep = nullptr);
    std::optional<SDeviceEntry> SelectedRow(); // the table's row at the list's selection
    void LoadHeader();
    void ChangeUpdateLog(const SUpdateLogSetting& setting);
    void ShowPanel(bool valid, const std::string& errorText);

    IMainWindowView& view_;
    SDeviceListState& devices_;
    SMainWindowServices services_;
    ImageBuffer image_;
    bool running_ = false;
    std::optional<SDeviceEntry> chosen_; // the charger the user chose, kept across refreshes
    std::optional<SDeviceEntry> shown_;  // the row the list selected at the last refresh

    // The run on its worker thread. While it runs, the device ports and the enumeration belong to
    // it: the window's thread only flags device changes (devicesChanged_), and the run refills
    // its own copy of the table (runDevices_) on its thread when it next looks.
    std::thread worker_;
    std::atomic<bool> devicesChanged_{false};
    SDeviceListState runDevices_;
    std::optional<SDeviceEntry> runChosen_;
    std::unique_ptr<CRunObserver> runObserver_;
    // The run's own nonces and its trace through recording ports; the last finished run's trace
    // is kept for "Save diagnostic...".
    std::unique_ptr<CNonceGenerator> runNonces_;
    std::unique_ptr<CTraceBuffer> runTrace_;
    std::unique_ptr<CRecordingPorts> runPorts_;
    std::unique_ptr<CTraceBuffer> lastTrace_;
    std::atomic<bool> runEnded_{false};   // the result has been shown
    std::atomic<bool> workerDone_{false}; // the run has posted its last call
};

} // namespace crenovix
