#include "app/DialogTemplate.h"

#include "app/MainWindowView.h"

#include <array>

namespace crenovix {

namespace {
using K = EControlKind;

// Positions in dialog units, in tab order, which is the order a reader meets the controls: rows
// from the top, left to right, except that a label with a mnemonic comes right before the control
// it names. Ids follow the window's control ids; captions are the window's own texts, with "&"
// before a label's (or group box's) mnemonic, which moves the focus to the control after it.
// Widths leave room for the widest dialog font the texts meet (wine's Tahoma is wider than the
// MS Sans Serif of Windows). The error line spans the File Information box, so its longest
// message fits.
constexpr std::array<SControlTemplate, 23> kMainControls = {{
    {0, K::Picture, "", 7, 7, 81, 150},
    {ctl::kComPorts, K::CheckBox, "Include &COMx Port", 152, 7, 76, 10},
    {0, K::Label, "Device &List", 97, 7, 50, 8},
    {ctl::kDeviceList, K::ListBox, "", 96, 17, 201, 30},
    {0, K::GroupBox, "Select Update &File", 96, 51, 201, 105},
    {ctl::kPath, K::Edit, "", 102, 65, 157, 13},
    {ctl::kOpen, K::Button, "&Open...", 261, 65, 29, 14},
    {ctl::kDownload, K::Button, "&Download...", 102, 81, 54, 14},
    {0, K::GroupBox, "File Information", 103, 101, 187, 51},
    {ctl::kVersionLabel, K::Label, "Version:", 119, 113, 27, 8},
    {ctl::kVersionText, K::Text, "", 149, 113, 41, 8},
    {ctl::kTypeLabel, K::Label, "Type:", 195, 113, 20, 8},
    {ctl::kTypeText, K::Text, "", 217, 113, 70, 8},
    {ctl::kMemoLabel, K::Label, "Memo:", 119, 124, 22, 8},
    {ctl::kMemoText, K::Text, "", 149, 124, 137, 22},
    {ctl::kErrorLine, K::Text, "", 119, 113, 167, 8},
    {ctl::kReleaseLink, K::Link, "Please download the newly released version", 150, 156, 147, 8},
    {ctl::kStatus, K::CenteredText, "Updating...", 7, 158, 141, 8},
    {ctl::kProgress, K::ProgressBar, "", 6, 168, 140, 16},
    {ctl::kUpdate, K::DefaultButton, "&Update...", 171, 168, 50, 16},
    {ctl::kExit, K::Button, "&Exit", 242, 168, 50, 16},
    {ctl::kHiddenCheck, K::CheckBox, "", 205, 85, 16, 10, true},
    {ctl::kCodeField, K::Edit, "", 218, 83, 68, 14, true},
}};

// Group boxes come before the controls they frame, so front ends that stack controls in
// creation order draw them behind.
constexpr SDialogTemplate kMainTemplate{"", 304, 191, kMainControls};

namespace dl = download_ctl;
// The progress bar and Cancel (our own caption) show only while a file downloads.
constexpr std::array<SControlTemplate, 12> kDownloadControls = {{
    {0, K::Picture, "", 7, 16, 41, 133},
    {0, K::Label, "Updates &List", 62, 7, 80, 8}, // room for wider fonts: a cut caption wraps
    {dl::kReleaseNotesLink, K::Link, "Kelvorin Release Notes", 156, 7, 79, 10},
    {dl::kUpdatesList, K::ReportList, "", 61, 16, 230, 93},
    {0, K::Label, "&Save as", 62, 111, 60, 8},
    {dl::kSaveAs, K::Edit, "", 62, 119, 208, 15},
    {dl::kBrowse, K::Button, "...", 271, 119, 20, 14},
    {dl::kStatus, K::Text, "Downloading: ", 62, 135, 200, 8, true},
    {dl::kProgress, K::ProgressBar, "", 62, 152, 110, 16, true},
    {dl::kDownload, K::DefaultButton, "&Download", 180, 152, 50, 16},
    {dl::kCancel, K::Button, "Cancel", 180, 152, 50, 16, true},
    {dl::kExit, K::Button, "&Exit", 241, 152, 50, 16},
}};
constexpr SDialogTemplate kDownloadTemplate{"Download Updates", 298, 175, kDownloadControls};

constexpr std::array<SControlTemplate, 2> kNoticeControls = {{
    {notice_ctl::kText, K::Text, "", 10, 10, 206, 40},
    {notice_ctl::kOk, K::DefaultButton, "OK", 88, 56, 50, 14},
}};
constexpr SDialogTemplate kNoticeTemplate{"Info", 226, 78, kNoticeControls};
namespace st = station_ctl;
// The file once for all chargers above, its fields under it, the chargers' list, then the
// counters and what starts updates. The error line takes the fields' place for a file that
// cannot be used.
constexpr std::array<SControlTemplate, 15> kStationControls = {{
    {0, K::Label, "Update &file:", 7, 9, 44, 8},
    {st::kPath, K::Edit, "", 52, 7, 280, 13},
    {st::kOpen, K::Button, "&Open...", 336, 6, 57, 14},
    {st::kVersionLabel, K::Label, "Version:", 52, 25, 28, 8},
    {st::kVersionText, K::Text, "", 82, 25, 44, 8},
    {st::kTypeLabel, K::Label, "Type:", 132, 25, 20, 8},
    {st::kTypeText, K::Text, "", 154, 25, 120, 8},
    {st::kCodeLabel, K::Label, "Device code:", 276, 25, 56, 8}, // room for wine's wider font
    {st::kCodeText, K::Text, "", 334, 25, 40, 8},
    {st::kErrorLine, K::Text, "", 52, 25, 300, 8, true},
    {st::kUnits, K::ReportList, "", 7, 38, 386, 150},
    {st::kCounters, K::Text, "", 7, 194, 250, 8},
    {st::kAutomatic, K::CheckBox, "A&utomatic", 7, 210, 80, 10},
    {st::kUpdateAll, K::DefaultButton, "Update &all", 262, 207, 62, 16},
    {st::kClose, K::Button, "&Close", 331, 207, 62, 16},
}};
constexpr SDialogTemplate kStationTemplate{"Station", 400, 230, kStationControls};
} // namespace

const SDialogTemplate& StationWindowTemplate() {
    return kStationTemplate;
}

const SDialogTemplate& MainWindowTemplate() {
    return kMainTemplate;
}

const SDialogTemplate& DownloadWindowTemplate() {
    return kDownloadTemplate;
}

SControlBox GrownDownloadControl(const SControlTemplate& control, SControlBox box, int dx, int dy) {
    const SControlTemplate& list = kDownloadControls[3];
    static_assert(kDownloadControls[3].id == dl::kUpdatesList);
    if (control.id == dl::kUpdatesList) {
        return {box.x, box.y, box.w + dx, box.h + dy};
    }
    if (control.y < list.y + list.h) {
        return box;
    }
    box.y += dy;
    if (control.kind == K::Button || control.kind == K::DefaultButton) {
        box.x += dx;
    } else {
        box.w += dx;
    }
    return box;
}

const SDialogTemplate& NoticeTemplate() {
    return kNoticeTemplate;
}

SDialogUnits DialogUnitsFromFont(int alphabetWidth, int height) {
    return {(alphabetWidth / 26 + 1) / 2, height};
}

} // namespace crenovix
