// The update run: what the Update button starts, and the two boot-loader dialogues.
//
// OnUpdateClicked freezes the device list, hands the selected device-table row to the HID
// dialogue (port names beginning "HID") or the serial dialogue, and afterwards refills the list.
// Each dialogue loads the file, talks to the charger and ends with the port closed, a message
// where one is due, and RestoreControls. All waits go through the context's clock.
#pragma once

#include "protocol/UpdateWindow.h"
#include "updatefile/UpdateFile.h"

#include <cstdint>
#include <functional>
#include <string>

namespace crenovix {

// Runs the update for the selected row; `refreshDeviceList` refills the list afterwards (it may
// throw what RefreshDeviceList throws, which the caller handles). A selection that names no row
// of the table starts no dialogue.
void OnUpdateClicked(SUpdateContext& context, const std::function<void()>& refreshDeviceList);

void RunHidUpdate(SUpdateContext& context);
void RunSerialUpdate(SUpdateContext& context);

// Ends a run whose file did not load: the panel reset, the message and RestoreControls as the
// outcome requires. Returns true when the file loaded and the run goes on.
bool HandleRunLoadOutcome(IUpdateWindow& window, ELoadOutcome outcome);

// The start of both dialogues: the Update button disabled, "Open file: <path>" on the status line
// and the window's file loaded into the context's image (`aesAllowed` as for LoadUpdateImage),
// a load that failed ended by HandleRunLoadOutcome. Returns true when the run goes on.
bool LoadRunFile(SUpdateContext& context, bool aesAllowed);

// The device-table row at the list's selection, or nullptr when the selection names no row the
// table holds now.
const SDeviceEntry* SelectedDevice(SUpdateContext& context);

// "Upgrade completion! (12.05 Sec)" for 12,050 ms.
std::string CompletionText(std::uint32_t elapsedMs);

// The run's error box for codes 1001 to 1009: "<code>: Error communication.\n".
std::string CommunicationErrorText(int code);

// The program's nonce generator: 15-bit values from a linear congruential generator, so the
// range is the same on every platform whatever the C library's RAND_MAX.
class CNonceGenerator final : public INonceSource {
public:
    explicit CNonceGenerator(std::uint32_t seed) : state_(seed) {}
    std::uint16_t NextNonce() override {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<std::uint16_t>((state_ >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t state_;
};

// Texts the user sees; shared with the windows and the tests.
namespace run_text {
inline constexpr const char* kOpenFile = "Open file: ";
inline constexpr const char* kConnecting = "Connecting...";
inline constexpr const char* kConnectingAgain = "Connecting again...";
inline constexpr const char* kUpgrading = "Upgrading ...";
inline constexpr const char* kErrorTitle = "Error";
inline constexpr const char* kInfoTitle = "Info";
inline constexpr const char* kSuccessTitle = "Success";
inline constexpr const char* kErrorOpenFile = "Error open file";
inline constexpr const char* kErrorOpeningHid = "Error opening USB HID";
inline constexpr const char* kErrorOpeningCom = "Error opening COM port";
inline constexpr const char* kInconformity = "The update file is in inconformity with the device.";
inline constexpr const char* kDeviceNotFound = "Device not found.";
inline constexpr const char* kUpgradeCompletion = "Upgrade completion!";
} // namespace run_text

} // namespace crenovix
