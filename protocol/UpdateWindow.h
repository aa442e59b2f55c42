// What an update run reports while it goes on, and the window that starts runs.
//
// A run (RunUpdate, protocol/UpdateRun.h) reports its progress as events to an IRunObserver and
// ends with a result value (SRunResult) that the caller shows: the windows as a message box, the
// command line as a line or a JSON record. IUpdateWindow is the window a run is started from on
// the window's own thread (OnUpdateClicked): the observer plus what the Update button's handler
// reads (path field, selection) and the endings it shows. The windows implement it in their
// shared logic (CMainWindowLogic, app/MainWindowLogic.h), the tests with a fake
// (tests/support/FakeUpdateWindow.h; the benchmarks with one of their own).
// DispatchPendingMessages lets whoever observes handle what happened meanwhile (device changes
// refill the device table the run reads).
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "updatefile/UpdateFile.h"

#include <cstdint>
#include <functional>
#include <string>

namespace crenovix {

class IUpdateLog;
struct SRunResult;

enum class EMessageIcon { None, Error };

// The events of a run, in the order the user is to see them. Called on the thread the run runs
// on; an observer on another thread than its window's hands them over.
class IRunObserver {
public:
    virtual ~IRunObserver() = default;

    virtual void SetUpdateEnabled(bool enabled) = 0;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowStatus(bool shown) = 0;
    virtual void SetProgressRange(std::uint16_t upper) = 0; // 0 .. upper
    virtual void SetProgressPos(int position) = 0;
    virtual void ShowProgress(bool shown) = 0;
    // Hides the Version, Type and Memo labels, empties their texts, shows `errorText` in the error
    // line (hidden when empty), clears bFileValid and disables Update.
    virtual void ResetFileInfo(const std::string& errorText) = 0;
    // Between blocks and while waiting for a charger to come back: handles what happened
    // meanwhile (device changes refill the device table the run reads); false when the program
    // was asked to quit meanwhile.
    virtual bool DispatchPendingMessages() = 0;
};

class IUpdateWindow : public IRunObserver {
public:
    virtual std::string GetPathText() = 0; // the path field
    virtual int GetCurrentSelection() = 0; // the device list's selected line, -1 for none
    virtual void SetDeviceListEnabled(bool enabled) = 0;

    // A modal box with an OK button; returns when the user has closed it.
    virtual void MessageBox(const std::string& text, const std::string& title,
                            EMessageIcon icon) = 0;
    // Hides the status line and the progress bar and enables Update.
    virtual void RestoreControls() = 0;
};

// The 15-bit pseudo-random numbers of the start frame's challenge (0..32767 on every platform).
class INonceSource {
public:
    virtual ~INonceSource() = default;
    virtual std::uint16_t NextNonce() = 0;
};

// What a run is given: whom it reports to, its clock and ports, the device table it reads (the
// row it updates, and the table again while it waits for a HID charger to come back), the image
// buffer it loads the file into, and the file and row to update.
struct SRunJob {
    IRunObserver& observer;
    IClock& clock;
    IPortOpener& ports;
    SDeviceListState& devices;
    INonceSource& nonces;
    ImageBuffer image;
    std::string path;   // the update file
    int selection = -1; // the device-table row to update
    // After the HID charger restarts, find it again by type and serial number alone, wherever
    // it now sits; false: type, serial number and port must all match, as in the window.
    bool bReconnectBySerial = false;
    // Where the run's record goes (protocol/UpdateLog.h); nothing is recorded without one.
    IUpdateLog* log = nullptr;
    // The front end's own last word on the result before it is recorded and returned: an abort
    // it caused, a check of what a simulated charger stored. Called on the run's thread.
    std::function<void(SRunResult&)> conclude = {};
    // Runs going on at once with one file share its deciphering (nothing: the run loads alone).
    CUpdateImageCache* images = nullptr;
    // Refills the device table from a listing made now, news of a change or not. A charger
    // found by serial number is opened and checked against such listings: beside other chargers
    // restarting, news can come after the positions have moved (nothing: the table as the
    // observer's news leaves it).
    std::function<void()> relist = {};
};

// A run started from a window on the window's thread: the window supplies the path and the
// selection and shows the result.
struct SUpdateContext {
    IUpdateWindow& window;
    IClock& clock;
    IPortOpener& ports;
    SDeviceListState& devices;
    INonceSource& nonces;
    ImageBuffer image = UpdateImage;
    bool bReconnectBySerial = false;
};

} // namespace crenovix
