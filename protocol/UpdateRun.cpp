#include "protocol/UpdateRun.h"

#include <cstdio>

namespace crenovix {

void OnUpdateClicked(SUpdateContext& context, const std::function<void()>& refreshDeviceList) {
    SDeviceListState& devices = context.devices;
    devices.bListRefreshEnabled = false;
    context.window.SetDeviceListEnabled(false);

    // Update is enabled only with a row selected, but a stale or missing selection must never
    // reach past the rows the table holds now.
    if (const SDeviceEntry* selected = SelectedDevice(context)) {
        if (selected->strPort.starts_with("HID")) {
            RunHidUpdate(context);
        } else {
            RunSerialUpdate(context);
        }
    }

    devices.bListRefreshEnabled = true;
    context.window.SetDeviceListEnabled(true);
    refreshDeviceList();
}

const SDeviceEntry* SelectedDevice(SUpdateContext& context) {
    const int selection = context.window.GetCurrentSelection();
    const SDeviceListState& devices = context.devices;
    if (selection < 0 || selection >= devices.nDeviceCount || selection >= kDeviceTableRows) {
        return nullptr;
    }
    return &context.devices.rows[selection];
}

bool HandleRunLoadOutcome(IUpdateWindow& window, ELoadOutcome outcome) {
    switch (outcome) {
    case ELoadOutcome::Loaded:
        return true;
    case ELoadOutcome::CannotOpen:
        window.ResetFileInfo("");
        window.MessageBox(run_text::kErrorOpenFile, run_text::kErrorTitle, EMessageIcon::Error);
        window.RestoreControls();
        return false;
    case ELoadOutcome::TooBig:
    case ELoadOutcome::FormatError:
        window.ResetFileInfo(std::string(LoadOutcomeText(outcome)));
        window.RestoreControls();
        return false;
    case ELoadOutcome::Empty:
        // An empty file ends the run quietly; the panel keeps what it showed.
        window.ShowStatus(false);
        window.SetUpdateEnabled(true);
        return false;
    }
    return false;
}

bool LoadRunFile(SUpdateContext& context, bool aesAllowed) {
    IUpdateWindow& window = context.window;
    window.SetUpdateEnabled(false);
    const std::string path = window.GetPathText();
    window.ShowStatus(true);
    window.SetStatusText(run_text::kOpenFile + path);
    return HandleRunLoadOutcome(window, LoadUpdateImage(path, aesAllowed, context.image).outcome);
}

std::string CompletionText(std::uint32_t elapsedMs) {
    char text[64];
    std::snprintf(text, sizeof text, "%s (%u.%02u Sec)", run_text::kUpgradeCompletion,
                  static_cast<unsigned>(elapsedMs / 1000),
                  static_cast<unsigned>(elapsedMs % 1000 / 10));
    return text;
}

std::string CommunicationErrorText(int code) {
    return std::to_string(code) + ": Error communication.\n";
}

} // namespace crenovix
