#include "protocol/UpdateRun.h"

#include "protocol/UpdateLog.h"

#include <cstdio>
#include <string>

namespace crenovix {

SRunResult RunEnding(ERunOutcome outcome, bool hid, int hidError, std::uint32_t elapsedMs) {
    SRunResult result;
    result.outcome = outcome;
    result.bHid = hid;
    result.hidError = outcome == ERunOutcome::HidCommunication ? hidError : 0;
    result.elapsedMs = elapsedMs;
    result.bRestore = true;
    auto box = [&result](std::string text, const char* title, EMessageIcon icon) {
        result.bBox = true;
        result.boxText = std::move(text);
        result.boxTitle = title;
        result.icon = icon;
    };
    using namespace run_text;
    switch (outcome) {
    case ERunOutcome::Success:
        box(hid ? CompletionText(elapsedMs) : kUpgradeCompletion, kSuccessTitle,
            EMessageIcon::None);
        break;
    case ERunOutcome::NothingSelected:
    case ERunOutcome::FileEmpty: // the run ended quietly: Update enabled again, status hidden
    case ERunOutcome::Aborted:
    case ERunOutcome::PayloadDiffers:
        result.bRestore = false;
        break;
    case ERunOutcome::FileCannotOpen:
        box(kErrorOpenFile, kErrorTitle, EMessageIcon::Error);
        break;
    case ERunOutcome::FileTooBig:
        result.errorLine = LoadOutcomeText(ELoadOutcome::TooBig);
        break;
    case ERunOutcome::FileFormatError:
        result.errorLine = LoadOutcomeText(ELoadOutcome::FormatError);
        break;
    case ERunOutcome::PortOpenFailed:
        box(hid ? kErrorOpeningHid : kErrorOpeningCom, kErrorTitle, EMessageIcon::Error);
        break;
    case ERunOutcome::Inconformity:
        box(kInconformity, kErrorTitle, EMessageIcon::Error);
        result.bRestoreFirst = true;
        break;
    case ERunOutcome::HidCommunication:
        box(CommunicationErrorText(hidError), kErrorTitle, EMessageIcon::Error);
        break;
    case ERunOutcome::DeviceNotFound:
        box(kDeviceNotFound, kInfoTitle, EMessageIcon::None);
        break;
    case ERunOutcome::KnockRefused:
    case ERunOutcome::LengthRefused:
    case ERunOutcome::FrameRefused:
    case ERunOutcome::LastFrameRefused:
        // The serial steps in their order: "\n0" for the knock to "\n3" for the last frame.
        box("Error communication.\n" + std::to_string(static_cast<int>(outcome) -
                                                      static_cast<int>(ERunOutcome::KnockRefused)),
            kErrorTitle, EMessageIcon::Error);
        break;
    }
    return result;
}

void SettleStoredPayload(SRunResult& result, std::optional<bool> stored) {
    if (result.Ok() && stored == false) {
        result.outcome = ERunOutcome::PayloadDiffers;
        result.bBox = false;
        result.errorLine = run_text::kPayloadDiffers;
    }
}

SRunResult RunUpdate(SRunJob& job) {
    const SDeviceEntry* selected = SelectedDevice(job);
    const std::uint32_t started = job.clock.TickCount();
    SRunResult result = selected == nullptr ? RunEnding(ERunOutcome::NothingSelected, false)
                        : selected->strPort.starts_with("HID") ? RunHid(job)
                                                               : RunSerial(job);
    if (job.conclude) {
        job.conclude(result);
    }
    // The port is closed: the record is on the disk before anyone shows the result as final. A
    // selection that named no row started nothing and leaves nothing to record.
    if (job.log != nullptr && selected != nullptr) {
        const SLogAppend appended =
            job.log->Append(UpdateRecordOf(job, result, job.clock.TickCount() - started));
        if (!appended.ok) {
            result.logError = LogFailureText(appended.error);
        }
    }
    return result;
}

std::string RunSummaryText(const SRunResult& result) {
    std::string text = "Updated " + result.target.strType;
    if (!result.target.strSerial.empty()) {
        text += ", S/N:" + result.target.strSerial;
    }
    return text + ", on " + result.target.strPort + " to " + result.strVersion;
}

void ShowRunResult(IUpdateWindow& window, const SRunResult& result) {
    if (result.bRestore && result.bRestoreFirst) {
        window.RestoreControls();
    }
    if (result.bBox) {
        window.MessageBox(result.boxText, result.boxTitle, result.icon);
    }
    if (result.bRestore && !result.bRestoreFirst) {
        window.RestoreControls();
    }
}

namespace {
// The window's job: its path field and selection, the window as the observer.
SRunResult RunInWindow(SUpdateContext& context, SRunResult (*run)(SRunJob&)) {
    SRunJob job{context.window,
                context.clock,
                context.ports,
                context.devices,
                context.nonces,
                context.image,
                context.window.GetPathText(),
                context.window.GetCurrentSelection(),
                context.bReconnectBySerial};
    const SRunResult result = run(job);
    ShowRunResult(context.window, result);
    return result;
}
} // namespace

SRunResult RunHidUpdate(SUpdateContext& context) {
    return RunInWindow(context, RunHid);
}

SRunResult RunSerialUpdate(SUpdateContext& context) {
    return RunInWindow(context, RunSerial);
}

SRunResult OnUpdateClicked(SUpdateContext& context,
                           const std::function<void()>& refreshDeviceList) {
    SDeviceListState& devices = context.devices;
    devices.bListRefreshEnabled = false;
    context.window.SetDeviceListEnabled(false);

    // Update is enabled only with a row selected, but a stale or missing selection must never
    // reach past the rows the table holds now.
    const SRunResult result = RunInWindow(context, RunUpdate);

    devices.bListRefreshEnabled = true;
    context.window.SetDeviceListEnabled(true);
    refreshDeviceList();
    return result;
}

const SDeviceEntry* SelectedDevice(const SRunJob& job) {
    const int selection = job.selection;
    const SDeviceListState& devices = job.devices;
    if (selection < 0 || selection >= devices.nDeviceCount || selection >= kDeviceTableRows) {
        return nullptr;
    }
    return &devices.rows[selection];
}

std::optional<SRunResult> LoadRunFile(SRunJob& job, bool aesAllowed, std::string& sha256) {
    IRunObserver& observer = job.observer;
    observer.SetUpdateEnabled(false);
    observer.ShowStatus(true);
    observer.SetStatusText(run_text::kOpenFile + job.path);
    SLoadResult loaded = job.images != nullptr ? job.images->Load(job.path, aesAllowed, job.image)
                                               : LoadUpdateImage(job.path, aesAllowed, job.image);
    sha256 = std::move(loaded.sha256);
    const bool hid = aesAllowed; // only the HID dialogue takes AES files
    SRunResult result;
    switch (loaded.outcome) {
    case ELoadOutcome::Loaded:
        return std::nullopt;
    case ELoadOutcome::CannotOpen:
        observer.ResetFileInfo("");
        result = RunEnding(ERunOutcome::FileCannotOpen, hid);
        break;
    case ELoadOutcome::TooBig:
    case ELoadOutcome::FormatError:
        result = RunEnding(loaded.outcome == ELoadOutcome::TooBig ? ERunOutcome::FileTooBig
                                                                  : ERunOutcome::FileFormatError,
                           hid);
        observer.ResetFileInfo(result.errorLine);
        break;
    case ELoadOutcome::Empty:
        // An empty file ends the run quietly; the panel keeps what it showed.
        observer.ShowStatus(false);
        observer.SetUpdateEnabled(true);
        result = RunEnding(ERunOutcome::FileEmpty, hid);
        break;
    }
    result.fileSha256 = sha256;
    return result;
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
