// The window an update run reports to, and what else a run is given.
//
// The dialogues run to the end inside the Update button's handler and talk to the user only
// through IUpdateWindow: the status line, the progress bar, message boxes and the two steps that
// end every run (ResetFileInfo, RestoreControls). The Qt window, the command line's console
// window and the tests' fake implement it. DispatchPendingMessages lets the window handle what
// happened meanwhile (device changes refill the device table; the list box stays as it is).
#pragma once

#include "base/Clock.h"
#include "device/DevicePort.h"
#include "device/DeviceTable.h"
#include "updatefile/UpdateFile.h"

#include <cstdint>
#include <functional>
#include <string>

namespace crenovix {

enum class EMessageIcon { None, Error };

class IUpdateWindow {
public:
    virtual ~IUpdateWindow() = default;

    virtual std::string GetPathText() = 0; // the path field
    virtual int GetCurrentSelection() = 0; // the device list's selected line, -1 for none
    virtual void SetDeviceListEnabled(bool enabled) = 0;
    virtual void SetUpdateEnabled(bool enabled) = 0;

    virtual void SetStatusText(const std::string& text) = 0;
    virtual void ShowStatus(bool shown) = 0;
    virtual void SetProgressRange(std::uint16_t upper) = 0; // 0 .. upper
    virtual void SetProgressPos(int position) = 0;
    virtual void ShowProgress(bool shown) = 0;

    // A modal box with an OK button; returns when the user has closed it.
    virtual void MessageBox(const std::string& text, const std::string& title,
                            EMessageIcon icon) = 0;

    // Hides the Version, Type and Memo labels, empties their texts, shows `errorText` in the error
    // line (hidden when empty), clears bFileValid and disables Update.
    virtual void ResetFileInfo(const std::string& errorText) = 0;
    // Hides the status line and the progress bar and enables Update.
    virtual void RestoreControls() = 0;

    // Handles pending window events; false when the program was asked to quit meanwhile.
    virtual bool DispatchPendingMessages() = 0;
};

// The 15-bit pseudo-random numbers of the start frame's challenge (0..32767 on every platform).
class INonceSource {
public:
    virtual ~INonceSource() = default;
    virtual std::uint16_t NextNonce() = 0;
};

// The run's view of the program: its window, clock, ports, device table and image buffer.
struct SUpdateContext {
    IUpdateWindow& window;
    IClock& clock;
    IPortOpener& ports;
    SDeviceListState& devices;
    INonceSource& nonces;
    ImageBuffer image = UpdateImage;
    // After the HID charger restarts, find it again by type and serial number alone, wherever
    // it now sits; false: type, serial number and port must all match, as in the window.
    bool bReconnectBySerial = false;
};

} // namespace crenovix
