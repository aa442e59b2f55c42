// Dialog templates as data: every control of a window with its id, kind, caption and position in
// dialog units, so each front end (Qt and the native Windows one) builds the same window from one
// table, and tests can check it.
#pragma once

#include <span>
#include <string_view>

namespace crenovix {

enum class EControlKind {
    Picture, // bitmap with a sunken edge
    Label,   // static text; "&" marks the mnemonic
    Text,    // static text set at run time from update files, the catalogue or messages: "&" shows
    CenteredText,
    CheckBox,
    ListBox,    // with a vertical scroll bar when the lines overflow
    ReportList, // list view in report mode
    GroupBox,
    Edit, // single line, scrolls horizontally
    Button,
    DefaultButton,
    ProgressBar,
    Link, // static text made a hyperlink
};

struct SControlTemplate {
    int id; // 0 for controls without an id of their own
    EControlKind kind;
    std::string_view caption;
    int x, y, w, h;      // dialog units
    bool hidden = false; // hidden when the window is created
};

struct SDialogTemplate {
    std::string_view caption;
    int w, h;                                   // dialog units
    std::span<const SControlTemplate> controls; // in tab order
};

// Main window; the caption is set at run time with the program's version.
const SDialogTemplate& MainWindowTemplate();

// Control ids of the download window.
namespace download_ctl {
inline constexpr int kDownload = 1; // default button: Enter downloads too
inline constexpr int kExit = 2;
inline constexpr int kSaveAs = 1002;
inline constexpr int kUpdatesList = 1004;
inline constexpr int kBrowse = 1016;
inline constexpr int kStatus = 1022;
inline constexpr int kReleaseNotesLink = 1024;
// Shown while an update file downloads: its progress, and Cancel in the Download button's place.
inline constexpr int kProgress = 1025;
inline constexpr int kCancel = 1026;
} // namespace download_ctl

// Download window ("Download Updates").
const SDialogTemplate& DownloadWindowTemplate();

// A control's place in a front end's own units (pixels).
struct SControlBox {
    int x, y, w, h;
};
// Where a control of the download window goes when the window is (dx, dy) larger than its
// template: the list takes the growth; what lies below it moves down, its buttons to the right
// and its other controls (save-as box, status line, progress bar) widen; what lies above or
// beside the list (picture, heading, link) stays. `box` is the control's place at the
// template's size.
SControlBox GrownDownloadControl(const SControlTemplate& control, SControlBox box, int dx, int dy);

// Control ids of the notice: a box like a message box that does not stop the window while a run
// goes on (the Windows front end's ShowNotice; the Qt one uses its own message box).
namespace notice_ctl {
inline constexpr int kOk = 1;
inline constexpr int kText = 1001;
} // namespace notice_ctl

// The notice ("Info"); its title and text are set when it is shown.
const SDialogTemplate& NoticeTemplate();

// Control ids of the station window: many chargers updated with one file, one row each.
namespace station_ctl {
inline constexpr int kUpdateAll = 1; // default button
inline constexpr int kClose = 2;
inline constexpr int kPath = 1002;
inline constexpr int kOpen = 1003;
inline constexpr int kUnits = 1004; // one row per charger
inline constexpr int kAutomatic = 1006;
inline constexpr int kVersionText = 1008;
inline constexpr int kTypeText = 1009;
inline constexpr int kCodeText = 1010;
inline constexpr int kErrorLine = 1011;
inline constexpr int kCodeLabel = 1012;
inline constexpr int kVersionLabel = 1013;
inline constexpr int kTypeLabel = 1014;
inline constexpr int kCounters = 1015;
} // namespace station_ctl

// The station window ("Station"): a window of its own, opened from the main window's menu or by
// "--station", so the main window's fixed layout stays as it is.
const SDialogTemplate& StationWindowTemplate();

// Pixels per dialog unit come from the dialog font: horizontal units are a quarter of the
// font's average character width, vertical units an eighth of its height. The average width is
// measured as Windows does: the width of "A".."Z" "a".."z" over 26, plus one, halved.
struct SDialogUnits {
    int baseX; // average character width in pixels
    int baseY; // character height in pixels

    int X(int units) const { return (units * baseX + 2) / 4; }
    int Y(int units) const { return (units * baseY + 4) / 8; }
};

// `alphabetWidth`: the pixel width of the 52 letters in the dialog font.
SDialogUnits DialogUnitsFromFont(int alphabetWidth, int height);

} // namespace crenovix
