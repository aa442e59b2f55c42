// The update catalogue: the maker's list of released update files and of the newest version of
// this tool, an INI file on its web servers.
//
// Every fetch copies the catalogue into a private temporary file of its own (online/TempFiles.h;
// primary server first, then the second), which goes when the fetch's last holder lets go of it,
// however that fetch ends. CheckForNewRelease reads the "Software" section at start-up;
// OpenDownloadWindow (the command line) or the download window itself
// (CDownloadWindow::OnInitDialogFetching, the windows) fetches it for the download window, which
// lists it with LoadCatalogue.
//
// Everything the catalogue needs of the program comes in SOnlineContext; the program keeps one
// (in the COnlineServices its platform makes), tests make their own. The release links of the
// entries go into the program-wide `releaseLinks` table of 20 slots.
#pragma once

#include "controls/ReportList.h"
#include "crenovix/Version.h"
#include "online/Downloader.h"
#include "online/IniFile.h"
#include "online/ServerAddresses.h"
#include "online/TempFiles.h"

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace crenovix {

inline constexpr const char* kToolVersion = CRENOVIX_VERSION_TEXT;
inline constexpr int kMaxCatalogueEntries = 124; // "CountEx" is accepted from 1 to this
inline constexpr std::size_t kReleaseLinkSlots = 20;

// The release-notes link of catalogue entry n, shown while entry n is selected.
struct ReleaseLink {
    std::string strText; // "Release%d"
    std::string strUrl;  // "ReleaseURL%d"
};
using ReleaseLinkTable = std::array<ReleaseLink, kReleaseLinkSlots>;

// The program's table, empty from start to end of the program; each load overwrites the slots
// its entries reach. Entries 20 and above have no slot: their release link is not kept.
extern ReleaseLinkTable releaseLinks;

struct SOnlineContext {
    // Catalogue fetches, each attempt bounded (kCatalogueDownloadLimits).
    IDownloader& catalogueDownloader;
    IDownloader& fileDownloader; // the download window's downloads
    IIniReader& ini;
    SServerAddresses servers;
    ReleaseLinkTable& links = releaseLinks;
    ITempFiles& tempFiles; // where each fetch puts its catalogue
    // Set by whoever may stop the fetches and downloads under way (a closing window, an
    // interrupted command); nothing: they run until done or a limit.
    const CCancelToken* cancel = nullptr;
};

// A fetched catalogue in its private temporary file, deleted with the last holder.
class CCatalogueFile {
public:
    CCatalogueFile(ITempFiles& files, std::string path) : files_(files), path_(std::move(path)) {}
    ~CCatalogueFile() { files_.Remove(path_); }
    CCatalogueFile(const CCatalogueFile&) = delete;
    CCatalogueFile& operator=(const CCatalogueFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    ITempFiles& files_;
    std::string path_;
};

struct SCatalogueFetch {
    SDownloadStatus status;
    // The catalogue when the fetch succeeded; shared, so that an answer of background work can
    // carry it to the window (and delete it if the window has gone).
    std::shared_ptr<const CCatalogueFile> file;
};

// Copies the catalogue into a new private temporary file (context.tempFiles) from the primary
// server, or, when that fails, from the second. Answers the status of the last attempt (a
// cancelled first attempt is the last; a file that cannot be made ends it at once) and, on
// success, the file. On failure no file is left.
SCatalogueFetch FetchCatalogue(const SOnlineContext& context);

// True when `version` is greater than "V2.1", compared byte by byte as unsigned characters (a
// proper beginning of the other text is the smaller).
bool IsNewerThanTool(const std::string& version);

// What the "Software" section announces: "Ver" (default "V1.0") and, only when that is newer,
// "URL" (default: the primary server's bare host name).
struct SReleaseCheck {
    bool newer = false;
    std::string ver;
    std::string url; // empty unless newer
};
SReleaseCheck ReadNewRelease(IIniSource& catalogue, const SServerAddresses& servers);

// Start-up's version check: fetch, read, delete the temporary file. True when a newer version
// is announced; then `url` is the address to offer. A failed fetch answers false and shows
// nothing. False leaves `url` unchanged.
bool CheckForNewRelease(const SOnlineContext& context, std::string& url);
// CheckForNewRelease as the main window asks it, off its thread: the newer release's address, or
// nothing. `cancel` ends the fetch early (then: nothing, and no file is left).
std::optional<std::string> NewReleaseAddress(const SOnlineContext& context,
                                             const CCancelToken& cancel);

// "<heading>\n\nError = 0x<status as 8 upper-case hex digits>\n\n<text>", with "No message
// available." when the status has no text.
std::string FailureMessage(const std::string& heading, const SDownloadStatus& status);

inline constexpr const char* kConnectingFailed = "Connecting server failed.";
// The server answered, with more than a catalogue can be (kMaxCatalogueBytes).
inline constexpr const char* kCatalogueTooLarge =
    "The server's list of updates is too large to be read.";

// FailureMessage for a failed catalogue fetch: under kCatalogueTooLarge for an answer over the
// limit, else under kConnectingFailed.
std::string CatalogueFailureMessage(const SDownloadStatus& status);

// A catalogue text for showing, at most kIniValueBufferBytes - 1 bytes: a longer one is cut
// between characters and ends with "…", so the reader sees that more was there.
std::string ShownText(IIniSource& catalogue, const std::string& key);

// What OpenDownloadWindow needs of the main window.
class IDownloadWindowHost {
public:
    virtual ~IDownloadWindowHost() = default;
    // A modal box with an OK button and no icon.
    virtual void MessageBox(const std::string& text) = 0;
    // Creates the download window on the catalogue fetched into `cataloguePath`, runs it
    // modally and destroys it; its result is not used. The file is deleted after it returns.
    virtual void RunDownloadWindow(const std::string& cataloguePath) = 0;
};

// The main window's "&Download..." command: fetches the catalogue, then runs the download window;
// when both servers fail it shows the "Connecting server failed." message instead. Returns
// whether the window ran. No temporary file is left either way.
bool OpenDownloadWindow(const SOnlineContext& context, IDownloadWindowHost& host);

// Lists the catalogue fetched into `cataloguePath`: reads "File List" "CountEx"; when it is 1 to
// 124, inserts one row per entry (columns Type, FileName, Ver, Updated, URL, Note) and stores the
// release links of entries 0 to 19 in context.links. The texts the user only reads (all but
// FileName, URL and ReleaseURL, which are used) come through ShownText. Then selects and focuses
// row 0 (which raises the window's OnEntryChanged when the row exists). Always returns true.
bool LoadCatalogue(IReportListView& updatesList, const SOnlineContext& context,
                   const std::string& cataloguePath);

} // namespace crenovix
