// CMainWindowLogic: every decision of the main window, over an abstract view.
//
// It keeps the File Information panel in step with the path field, decides when Update may be
// pressed, routes the controls' events (path edits, Open, the serial-ports box, device changes,
// Update, Download, closing) and is the window that update runs report to. The toolkit's window
// (Qt, or the native Windows one) only builds the controls and forwards their events; tests drive
// this class through a fake view without any toolkit.
#pragma once

#include "app/MainWindowView.h"
#include "base/Clock.h"
#include "device/DeviceChange.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "protocol/UpdateWindow.h"
#include "updatefile/UpdateFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace crenovix {

// Asks the system not to sleep while a charger is written. Acquire may do nothing where the
// system offers no such service.
class ISleepInhibitor {
public:
    virtual ~ISleepInhibitor() = default;
    virtual void Acquire() = 0;
    virtual void Release() = 0;
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
};

inline constexpr const char* kCloseDuringRunText =
    "A charger is being updated.\n\nClosing the program now can leave the charger without "
    "working firmware. Please wait until the update has ended.";

class CMainWindowLogic final : public IUpdateWindow, public IDeviceListView {
public:
    CMainWindowLogic(IMainWindowView& view, SDeviceListState& devices, SMainWindowServices services,
                     ImageBuffer image = UpdateImage);

    // Events from the window.
    // Hides the release link and starts the version check in the background: the window shows
    // and answers at once whatever the servers do.
    void OnInitDialog();
    // The version check's answer: a newer release's address shows the link with that target.
    void OnReleaseChecked(const std::optional<std::string>& newer);
    void OnPathEdited(); // the user typed or pasted in the path field
    void OnOpenClicked();
    void OnComPortsClicked();
    void OnDeviceChange(EDeviceChange change); // every kind refills the device list
    void OnUpdateClicked();
    // A version check still under way goes on beside the download window: each fetch has a
    // temporary file of its own, and its answer still shows the release link.
    void OnDownloadClicked();
    // False: refused, a charger is being written; a notice says why and the run goes on.
    bool OnCloseRequested();
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
    // `keep`: the charger the list is to select afterwards (default: the one the user chose).
    void RefreshDevices(const SDeviceEntry* keep = nullptr);
    std::optional<SDeviceEntry> SelectedRow(); // the table's row at the list's selection
    void LoadHeader();
    void ShowPanel(bool valid, const std::string& errorText);

    IMainWindowView& view_;
    SDeviceListState& devices_;
    SMainWindowServices services_;
    ImageBuffer image_;
    bool running_ = false;
    std::optional<SDeviceEntry> chosen_; // the charger the user chose, kept across refreshes
    std::optional<SDeviceEntry> shown_;  // the row the list selected at the last refresh
};

} // namespace crenovix
