// The download window ("Download Updates"): what it does when it opens, when the user selects a
// catalogue entry, presses "..." or presses "&Download".
//
// CDownloadWindow holds the decisions; the toolkit's window implements IDownloadWindowView and
// forwards its events: OnInitDialog once its controls exist, OnEntryChanged for the list's
// item-changed notification, OnBrowse for "..." (1016), OnDownload for "&Download" (1, and
// Enter), OnCancelDownload for Cancel (1026). "&Exit" (2), Escape and the close box simply close
// the window with the cancel result, which also ends a download under way (the view stops its
// background work). The window keeps no copy of the entries: it reads them back from the list.
#pragma once

#include "controls/ReportList.h"
#include "online/Background.h"
#include "online/Catalogue.h"

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace crenovix {

struct SListColumnDef {
    const char* heading;
    int widthPx;
};

// The list's columns in order, all left-aligned; each shows the catalogue key of the same name.
inline constexpr std::array<SListColumnDef, 6> kDownloadColumns{{
    {"Type", 70},
    {"File name", 135},
    {"Ver", 50},
    {"Updated", 70},
    {"URL", 300},  // wide: addresses are long and the list scrolls sideways
    {"Note", 100}, // stretched to the list's right edge by the list itself
}};
inline constexpr int kColumnFileName = 1;
inline constexpr int kColumnUrl = 4;

// The link's template caption, which it keeps while no entry has set its text.
inline constexpr const char* kReleaseNotesCaption = "Kelvorin Release Notes";

// The save-file dialog of "...".
struct SSaveDialogRequest {
    std::string initialName;              // the selected entry's suggested path, maybe empty
    std::string defaultExtension = "bin"; // appended when the user types none (no dot)
    std::string filterLabel = "Kelvorin Update File(*.bin)";
    std::string filterPattern = "*.bin";
    bool hideReadOnlyBox = true;
    bool confirmOverwrite = true; // ask before an existing file is replaced
};

namespace download_text {
inline constexpr const char* kDownloadPrefix = "Download:"; // followed directly by the URL
inline constexpr const char* kDownloadFailed = "Download failed.";
inline constexpr const char* kLoadingList = "Loading the list of updates...";
inline constexpr const char* kNoUpdateFiles = "The server offers no update files.";
} // namespace download_text

// The file name a catalogue's "FileName" suggests, safe to offer for saving: only its last
// component (after the last "/" or "\\"); letters of any script (UTF-8), digits, ".", "-", "_",
// "+", "(", ")" and blanks are kept, every other character (controls, punctuation, symbols,
// invisible and look-alike characters, each byte of invalid UTF-8) becomes "_"; leading and
// trailing dots and blanks removed (so "." and ".." give nothing); a Windows device name (CON,
// NUL, COM1...) gets a leading "_"; at most 120 bytes, never cut inside a character. Empty when
// nothing is left.
std::string SafeSaveName(std::string_view suggested);

// Where "Download" saves an entry's file unless the user says otherwise: `name` (SafeSaveName)
// in the user's downloads folder (which ends with its separator), or the bare name without one.
std::string SuggestedSavePath(const std::optional<std::string>& folder, const std::string& name);

// The check a downloaded update file passes before it replaces the target: it loads as an
// update file (LoadUpdateHeader), or the refusal says why not.
std::optional<std::string> CheckDownloadedUpdateFile(const std::string& path);

// What the window logic needs of the window. Control ids are those of the window's template.
class IDownloadWindowView {
public:
    virtual ~IDownloadWindowView() = default;

    // The catalogue list (1004). Its item-changed notification for a row that became selected
    // and focused, by the user or by SelectAndFocusRow, must reach OnEntryChanged at once.
    virtual IReportListView& UpdatesList() = 0;

    virtual std::string GetSaveAsText() = 0; // save-as box (1002), exactly as typed
    virtual void SetSaveAsText(const std::string& text) = 0;

    // Status line (1022), hidden at start.
    virtual void ShowStatusLine(bool shown) = 0;
    virtual void SetStatusText(const std::string& text) = 0;

    virtual void SetDownloadEnabled(bool enabled) = 0; // "&Download" (1)

    // Release-notes link (1024), a hyperlink control.
    virtual void SetLinkText(const std::string& text) = 0;  // the window text
    virtual void SetLinkTarget(const std::string& url) = 0; // SetTarget: refit, tooltip
    virtual void DropLinkUnderline() = 0;
    virtual void ShowLink(bool shown) = 0;

    // A modal box with an OK button and no icon.
    virtual void MessageBox(const std::string& text) = 0;
    // The save-file dialog; the chosen full path, or nothing when the user cancelled.
    virtual std::optional<std::string> RunSaveDialog(const SSaveDialogRequest& request) = 0;

    // The user's downloads folder, ending with the system's separator, when it exists (Linux:
    // the XDG user directory; Windows: the Downloads known folder); nothing: save-as names stay
    // bare, relative to the current folder (the command line).
    virtual std::optional<std::string> DownloadsFolder() { return std::nullopt; }
    // After the list is filled: columns as wide as their texts, each cell's whole text on hover.
    virtual void FitListColumns() {}

    // Sets the main window's path field (its control 1002), which makes it load that file.
    virtual void SetMainWindowPath(const std::string& path) = 0;
    // Closes the window with the OK result.
    virtual void EndDialogOk() = 0;

    // For a window that opens before its catalogue is here (OnInitDialogFetching). Runs `work`
    // off the window's thread and what it answers on the window's thread, unless the window has
    // closed by then; closing the window cancels the work and waits for it. A view without an
    // event loop may run both at once, as here.
    virtual void RunInBackground(BackgroundWork work) {
        const CCancelToken never;
        if (const std::function<void()> answer = work(never)) {
            answer();
        }
    }
    // Closes the window with the cancel result.
    virtual void EndDialogCancel() {}

    // While an update file downloads in the background. The list (1004), the save-as box (1002)
    // and "..." (1016) are locked; the progress bar (1025) shows thousandths; Cancel (1026)
    // stands in the Download button's place (shown: Download hidden). A view without an event
    // loop has none of these.
    virtual void SetInputsEnabled(bool) {}
    virtual void ShowProgress(bool) {}
    virtual void SetProgress(int) {}
    virtual void ShowCancel(bool) {}
    // Hands `call` to the window's thread, after the calls posted before it; safe from any
    // thread (the download's progress). A view without an event loop runs it at once.
    virtual void PostToWindow(std::function<void()> call) { call(); }
    // Asks the background work to end without waiting for it; its answer still comes.
    virtual void CancelBackground() {}
};

class CDownloadWindow {
public:
    CDownloadWindow(IDownloadWindowView& view, SOnlineContext& context)
        : view_(view), context_(context) {}

    // After the window's controls exist and the window icon is set: full-row selection, the six
    // columns, LoadCatalogue of the catalogue fetched into `cataloguePath` (which selects row 0
    // and so runs OnEntryChanged), then the link's target becomes the release-notes document (its
    // text stays as the entry set it), without underline, shown. Returns true (default focus).
    bool OnInitDialog(const std::string& cataloguePath);

    // The windows' opening: the window shows at once, and the catalogue is fetched meanwhile.
    // The columns, then the status line reads "Loading the list of updates..." and Download is
    // disabled while the fetch runs in the background (context.cancel is the work's token).
    // Returns true (default focus).
    bool OnInitDialogFetching();
    // The fetch's answer, on the window's thread. A failure shows the "Connecting server
    // failed." box and closes the window with the cancel result; a catalogue is listed and the
    // link set as OnInitDialog does, the status line hidden. The answer
    // holds the fetched file: it is deleted when the answer has run, or is dropped because the
    // window closed first.
    void OnCatalogueFetched(const SCatalogueFetch& fetched);

    // The list's item-changed notification with the item's new state. Download is enabled while
    // a row is selected (and neither the catalogue nor a file is on its way). Exactly
    // kItemSelectedFocused also fills the save-as box with SuggestedSavePath of the entry's file
    // name plus ".bin" (empty for an empty name) and the link with the entry's release text and
    // address.
    void OnEntryChanged(unsigned newState);

    // "...": the save dialog starts with the suggested path of the selected entry; a confirmed
    // path goes into the save-as box.
    void OnBrowse();

    // "&Download": downloads the selected entry's URL to the save-as path in the background
    // (the view's RunInBackground; its token and context.cancel both stop it); only a body that
    // loads as an update file replaces the file there (CheckDownloadedUpdateFile). Meanwhile the
    // status line shows the URL, the progress bar the bytes so far (of the announced size, else
    // of the largest update file) and Cancel replaces Download; the inputs are locked. Does
    // nothing while the catalogue or a download is under way, or while no row is selected.
    void OnDownload();
    // Cancel: asks the download to end; OnDownloaded restores the window when it has.
    void OnCancelDownload();
    // The download's answer, on the window's thread. The controls are restored and the status
    // line hidden; on success the main window gets the path and the window closes with OK; a
    // failure shows the "Download failed." message and the window stays open; a download ended
    // by Cancel shows nothing more.
    void OnDownloaded(const SDownloadStatus& status, const std::string& path);
    // A progress report, on the window's thread (ignored once the download has ended).
    void OnDownloadProgress(std::size_t received, std::optional<std::size_t> total);
    bool Downloading() const { return downloading_; }

    // The release link for `row`: its slot of the table for rows 0 to 19. A row without a slot
    // (20 and above, or none) shows the link's caption and opens the release-notes document,
    // the same as the link shows before any entry is chosen.
    ReleaseLink ReleaseLinkForRow(int row) const;

private:
    void ListCatalogue(const std::string& cataloguePath);
    void UpdateDownloadEnabled();

    void LockForDownload(bool locked);

    IDownloadWindowView& view_;
    SOnlineContext& context_;
    bool fetching_ = false;
    bool downloading_ = false;
    bool cancelRequested_ = false; // Cancel was pressed during this download
};

} // namespace crenovix
