// The update run: what the Update button starts, and the two boot-loader dialogues.
//
// RunUpdate is the one engine every front end runs: it hands the job's row to the HID dialogue
// (port names beginning "HID") or the serial dialogue, which load the file, talk to the charger,
// report their progress to the job's observer and end with the port closed and a result value:
// the outcome, and the box, error line and control changes the user is to see. All waits go
// through the job's clock. OnUpdateClicked is the window's form of it on the window's thread:
// it freezes the device list, runs, shows the result and refills the list.
#pragma once

#include "protocol/UpdateWindow.h"
#include "updatefile/UpdateFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace crenovix {

// How a run ended. Each failure of the dialogues' failure tables has its own value.
enum class ERunOutcome {
    Success,
    NothingSelected,  // the selection named no row of the table: nothing was started
    FileEmpty,        // ends quietly
    FileCannotOpen,   // "Error open file"
    FileTooBig,       // "The file is big!" in the error line
    FileFormatError,  // "File format error!" in the error line (also an AES file on serial)
    PortOpenFailed,   // "Error opening USB HID" / "Error opening COM port"
    Inconformity,     // the charger refused the file at the boot request
    HidCommunication, // "<code>: Error communication.\n", code 1001 to 1009 in hidError
    DeviceNotFound,   // serial: no boot loader answered the knock, seven times
    // The serial steps' refusals, in this order (their box texts count on it).
    KnockRefused,     // serial "Error communication.\n0"
    LengthRefused,    // serial "Error communication.\n1"
    FrameRefused,     // serial "Error communication.\n2"
    LastFrameRefused, // serial "Error communication.\n3"
    Aborted,          // ended on the user's demand (set by the front end that aborted it)
    PayloadDiffers    // "Upgrade completion!", but a simulated charger stored something else
                      // (set by the front end that asked it)
};

// A run's ending as a value: what happened, and what the user is to see of it.
struct SRunResult {
    ERunOutcome outcome = ERunOutcome::NothingSelected;
    bool bHid = false;
    int hidError = 0;       // HidCommunication: 1001 to 1009
    SDeviceEntry target;    // the row the run was for (empty when nothing was started)
    std::string strVersion; // the update file's version, once it loaded
    std::string fileSha256; // of the bytes the run loaded, lower-case hex; empty before a load
    std::uint32_t elapsedMs = 0;
    // The message box that ends the run, if any.
    bool bBox = false;
    std::string boxText;
    std::string boxTitle;
    EMessageIcon icon = EMessageIcon::None;
    // The File Information panel's error line, when the file did not load as an update file.
    std::string errorLine;
    // RestoreControls ends the run; the inconformity ending restores before its box.
    bool bRestore = false;
    bool bRestoreFirst = false;
    // Why the update log did not keep the run's record (LogFailureText); empty when it did or
    // when the job named no log. The update's own outcome stands.
    std::string logError;

    bool Ok() const { return outcome == ERunOutcome::Success; }
    // What records call the result's code: 0 for success, the HID error number, else -1.
    int Code() const { return Ok() ? 0 : hidError > 0 ? hidError : -1; }
};

// The result of `outcome` with its box, error line and controls as the failure tables give them.
SRunResult RunEnding(ERunOutcome outcome, bool hid, int hidError = 0, std::uint32_t elapsedMs = 0);

// A success settled against what its charger stored, where the charger can be asked (`stored`,
// nothing for a real charger): one that holds anything but the file's payload makes the run
// PayloadDiffers, without its box, its error line saying so.
void SettleStoredPayload(SRunResult& result, std::optional<bool> stored);

// The run engine: the job's row updated through the dialogue its port name asks for.
SRunResult RunUpdate(SRunJob& job);
SRunResult RunHid(SRunJob& job);
SRunResult RunSerial(SRunJob& job);

// What a success wrote, for the status line: "Updated Kelvorin K4, S/N:SIM0001, on HID1 to
// V1.05" (a charger without a serial number: no "S/N" part).
std::string RunSummaryText(const SRunResult& result);

// Shows a result in a window: the box, and RestoreControls before or after it.
void ShowRunResult(IUpdateWindow& window, const SRunResult& result);

// The window's forms, on the window's thread: the job is the window's path and selection, and
// the result is shown in the window (and returned).
SRunResult RunHidUpdate(SUpdateContext& context);
SRunResult RunSerialUpdate(SUpdateContext& context);

// Runs the update for the selected row; `refreshDeviceList` refills the list afterwards (it may
// throw what RefreshDeviceList throws, which the caller handles). A selection that names no row
// of the table starts no dialogue.
SRunResult OnUpdateClicked(SUpdateContext& context, const std::function<void()>& refreshDeviceList);

// The start of both dialogues: the Update button disabled, "Open file: <path>" on the status line
// and the job's file loaded into its image (`aesAllowed` as for LoadUpdateImage). Nothing when the
// file loaded and the run goes on; otherwise the run's ending, the panel reset as it requires.
// `sha256` names the bytes read (empty when none were).
std::optional<SRunResult> LoadRunFile(SRunJob& job, bool aesAllowed, std::string& sha256);

// The device-table row the job names, or nullptr when it names no row the table holds now.
const SDeviceEntry* SelectedDevice(const SRunJob& job);

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
inline constexpr const char* kPayloadDiffers =
    "Verification failed: the charger's stored payload differs from the file's";
} // namespace run_text

} // namespace crenovix
