#include "gui/win32/DialogTemplateBuilder.h"

#include "app/DialogTemplate.h"
#include "app/StartUp.h"
#include "base/Utf8.h"

#include <commctrl.h>

#include <optional>
#include <string_view>

namespace crenovix::win32 {

namespace {

// MS Shell Dlg stands for the system's dialog font; 8 points, as every dialog of the program.
constexpr WORD kFontPoints = 8;
constexpr std::string_view kFontFace = "MS Shell Dlg";

struct SWindowClass {
    std::string_view name; // class names are case-blind: written as the resource compiler did
    DWORD style;           // besides WS_CHILD and WS_VISIBLE
};

// What each kind of control is on Windows. Texts set at run time are SS_NOPREFIX, so a "&" in
// them is shown, not taken for a mnemonic; links are static texts that report clicks. The
// centred status line names the update file: a path too long for it loses its middle to "...",
// so that its start ("Open file:") and the file's name stay.
SWindowClass ClassOf(EControlKind kind) {
    switch (kind) {
    case EControlKind::Picture:
        return {"STATIC", SS_BITMAP | SS_REALSIZECONTROL | SS_SUNKEN};
    case EControlKind::Label:
        return {"STATIC", SS_LEFT};
    case EControlKind::Text:
        return {"STATIC", SS_LEFT | SS_NOPREFIX};
    case EControlKind::CenteredText:
        return {"STATIC", SS_CENTER | SS_NOPREFIX | SS_PATHELLIPSIS};
    case EControlKind::Link:
        return {"STATIC", SS_LEFT | SS_NOTIFY | SS_NOPREFIX};
    case EControlKind::CheckBox:
        return {"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP};
    // Not sorted: line i of the list is row i of the device table.
    case EControlKind::ListBox:
        return {"LISTBOX", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP};
    case EControlKind::ReportList:
        return {"SYSLISTVIEW32",
                LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP};
    case EControlKind::GroupBox:
        return {"BUTTON", BS_GROUPBOX};
    case EControlKind::Edit:
        return {"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP};
    case EControlKind::Button:
        return {"BUTTON", BS_PUSHBUTTON | WS_TABSTOP};
    case EControlKind::DefaultButton:
        return {"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP};
    case EControlKind::ProgressBar:
        return {"MSCTLS_PROGRESS32", WS_BORDER};
    }
    return {"STATIC", SS_LEFT};
}

// Appends the parts of a template in the layout the dialog manager reads.
class CTemplateWriter {
public:
    void Word(WORD value) { words_.push_back(value); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    // UTF-16, ended by a zero: templates hold wide strings whichever function reads them. The
    // tables' texts are the program's own; a byte that starts no valid sequence becomes U+FFFD.
    void Text(std::string_view utf8) {
        for (std::size_t at = 0; at < utf8.size();) {
            char32_t code = 0xFFFD;
            const std::optional<std::size_t> length = Utf8Sequence(utf8.substr(at), code);
            at += length.value_or(1);
            if (!length) {
                code = 0xFFFD;
            }
            if (code >= 0x10000) {
                Word(static_cast<WORD>(0xD800 + ((code - 0x10000) >> 10)));
                Word(static_cast<WORD>(0xDC00 + ((code - 0x10000) & 0x3FF)));
            } else {
                Word(static_cast<WORD>(code));
            }
        }
        Word(0);
    }
    // Every item starts on a DWORD boundary.
    void Align() {
        if (words_.size() % 2 != 0) {
            Word(0);
        }
    }
    std::vector<WORD> Take() { return std::move(words_); }

private:
    std::vector<WORD> words_;
};

struct SWindowFrame {
    const SDialogTemplate& layout;
    std::string_view caption;
    DWORD style; // besides DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
    DWORD exStyle;
};

// The main window is the program's own window on the task bar and shows as soon as it is made;
// the others are centred over it or placed by their owner.
SWindowFrame FrameOf(EDialog dialog) {
    switch (dialog) {
    case EDialog::Main:
        return {MainWindowTemplate(), kWindowTitle, DS_CENTER | WS_VISIBLE, WS_EX_APPWINDOW};
    case EDialog::Download:
        return {DownloadWindowTemplate(), DownloadWindowTemplate().caption, 0, 0};
    case EDialog::Notice:
        return {NoticeTemplate(), NoticeTemplate().caption, DS_CENTER, 0};
    case EDialog::Station: // the program's window when started with --station
        return {StationWindowTemplate(), StationWindowTemplate().caption, DS_CENTER,
                WS_EX_APPWINDOW};
    }
    return {NoticeTemplate(), NoticeTemplate().caption, DS_CENTER, 0};
}

} // namespace

std::vector<WORD> BuildDialogTemplate(EDialog dialog) {
    const SWindowFrame frame = FrameOf(dialog);
    const SDialogTemplate& layout = frame.layout;
    CTemplateWriter out;
    out.Word(1);      // version of the extended template
    out.Word(0xFFFF); // its signature
    out.Dword(0);     // help id
    out.Dword(frame.exStyle);
    out.Dword(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | frame.style);
    out.Word(static_cast<WORD>(layout.controls.size()));
    for (const int value : {0, 0, layout.w, layout.h}) {
        out.Word(static_cast<WORD>(value));
    }
    out.Word(0); // no menu
    out.Word(0); // the dialog class
    out.Text(frame.caption);
    out.Word(kFontPoints);
    out.Word(0); // weight: the font's own
    out.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));
    out.Text(kFontFace);

    for (const SControlTemplate& control : layout.controls) {
        const SWindowClass windowClass = ClassOf(control.kind);
        out.Align();
        out.Dword(0); // help id
        out.Dword(0); // extended style
        out.Dword(WS_CHILD | windowClass.style | (control.hidden ? 0 : WS_VISIBLE));
        for (const int value : {control.x, control.y, control.w, control.h}) {
            out.Word(static_cast<WORD>(value));
        }
        // Controls without an id of their own have -1, as a resource script gives them.
        out.Dword(control.id == 0 ? static_cast<DWORD>(-1) : static_cast<DWORD>(control.id));
        out.Text(windowClass.name);
        out.Text(control.caption);
        out.Word(0); // no creation data
    }
    return out.Take();
}

} // namespace crenovix::win32
