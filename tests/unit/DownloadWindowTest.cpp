// The download window's logic against a recording view: what opening, selecting, "..." and
// "&Download" do to the controls, the main window and the downloader.
#include "online/DownloadWindow.h"
#include "support/CurrentDirectory.h"
#include "support/FakeDownloadWindowView.h"
#include "support/FakeDownloader.h"
#include "support/FakeTempFiles.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

const SServerAddresses kServers{"http://primary.test", "http://second.test"};
const std::string kNotesUrl = "http://primary.test/UploadFiles/ReleaseNotes-Kelvorin.txt";

std::string Entry(int n, const std::string& fileName, const std::string& release) {
    const std::string i = std::to_string(n);
    return "Type" + i + "=Type " + i + "\nFileName" + i + "=" + fileName + "\nURL" + i +
           "=http://files.test/f" + i + ".bin\nRelease" + i + "=" + release + "\nReleaseURL" + i +
           "=http://notes.test/" + i + "\n";
}

class DownloadWindowTest : public ::testing::Test {
protected:
    CTempDir dir_;
    CFakeDownloader downloader_;
    CIniFileReader ini_;
    CFakeTempFiles tempFiles_{dir_.Path()};
    ReleaseLinkTable links_{};
    SOnlineContext context_{downloader_, downloader_, ini_, kServers, links_, tempFiles_};
    CFakeDownloadWindowView view_;
    CDownloadWindow window_{view_, context_};

    // Entry 1 has an empty file name, entry 2 an empty release text.
    void Open(std::string catalogue = "") {
        if (catalogue.empty()) {
            catalogue = "[File List]\nCountEx=3\n" + Entry(0, "fw-k6", "K6 notes") +
                        Entry(1, "", "K7 notes") + Entry(2, "fw-k8", "");
        }
        std::ofstream(dir_.File("fetched.ini")) << catalogue;
        view_.Attach(window_);
        EXPECT_TRUE(window_.OnInitDialog(dir_.File("fetched.ini")));
    }

    void UserSelects(int row) { view_.list.SelectAndFocusRow(row); }

    static std::string ValidFile() {
        const std::vector<std::uint8_t> bytes =
            Pack(EPackVariant::TripleDes, SHeaderFields{}, PatternPayload(640, 3)).bytes;
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(DownloadWindowTest, OpeningSelectsRowZeroAndTheLinkOpensTheReleaseNotes) {
    Open();
    EXPECT_TRUE(view_.list.fullRowSelect);
    ASSERT_EQ(view_.list.columns.size(), 6u);
    EXPECT_EQ(view_.list.columns[1].heading, "File name");
    EXPECT_EQ(view_.list.columns[4].widthPx, 300);
    EXPECT_EQ(view_.list.selected, 0);
    EXPECT_EQ(view_.saveAs, "fw-k6.bin");
    EXPECT_EQ(view_.linkText, "K6 notes");
    EXPECT_EQ(view_.linkTarget, kNotesUrl); // not entry 0's own address, until reselected
    EXPECT_FALSE(view_.linkUnderlined);
    EXPECT_TRUE(view_.linkShown);
    EXPECT_FALSE(view_.statusShown);
    EXPECT_TRUE(view_.downloadEnabled);
    EXPECT_EQ(view_.columnFits, 1);

    UserSelects(2);
    UserSelects(0);
    EXPECT_EQ(view_.linkTarget, "http://notes.test/0");
    EXPECT_EQ(view_.linkText, "K6 notes");
}

// No entries, or a file of zero bytes: the window says so and has nothing to download.
TEST_F(DownloadWindowTest, AnEmptyCatalogueSaysSoAndDisablesDownload) {
    for (const std::string catalogue : {"[File List]\nCountEx=0\n", ""}) {
        std::ofstream(dir_.File("empty.ini")) << catalogue;
        CFakeDownloadWindowView view;
        CDownloadWindow window(view, context_);
        view.Attach(window);
        window.OnInitDialog(dir_.File("empty.ini"));
        EXPECT_TRUE(view.list.rows.empty());
        EXPECT_EQ(view.saveAs, "");
        EXPECT_EQ(view.linkText, kReleaseNotesCaption);
        EXPECT_EQ(view.linkTarget, kNotesUrl);
        EXPECT_TRUE(view.linkShown);
        EXPECT_TRUE(view.statusShown);
        EXPECT_EQ(view.statusText, "The server offers no update files.");
        EXPECT_FALSE(view.downloadEnabled);
        window.OnDownload(); // Enter
        EXPECT_FALSE(view.background);
    }
}

TEST_F(DownloadWindowTest, SelectingAnEntryWithoutNamesEmptiesSaveAsAndLinkText) {
    Open();
    UserSelects(1);
    EXPECT_EQ(view_.saveAs, ""); // no lone ".bin"
    EXPECT_EQ(view_.linkText, "K7 notes");
    UserSelects(2);
    EXPECT_EQ(view_.saveAs, "fw-k8.bin");
    EXPECT_EQ(view_.linkText, "");
    EXPECT_EQ(view_.linkTarget, "http://notes.test/2");
}

TEST_F(DownloadWindowTest, OnlyASelectedAndFocusedStateCounts) {
    Open();
    view_.saveAs = "typed.bin";
    view_.list.selected = 2;
    for (const unsigned state : {0u, 1u, 2u, 7u}) {
        window_.OnEntryChanged(state);
        EXPECT_EQ(view_.saveAs, "typed.bin") << state;
    }
    window_.OnEntryChanged(kItemSelectedFocused);
    EXPECT_EQ(view_.saveAs, "fw-k8.bin");
}

TEST_F(DownloadWindowTest, RowsWithoutAReleaseSlotOpenTheReleaseNotes) {
    std::string catalogue = "[File List]\nCountEx=22\n";
    for (int n = 0; n < 22; ++n) {
        catalogue += Entry(n, "fw" + std::to_string(n), "Notes " + std::to_string(n));
    }
    Open(catalogue);
    UserSelects(19);
    EXPECT_EQ(view_.linkText, "Notes 19");
    EXPECT_EQ(view_.linkTarget, "http://notes.test/19");
    UserSelects(21);
    EXPECT_EQ(view_.saveAs, "fw21.bin");
    EXPECT_EQ(view_.linkText, kReleaseNotesCaption);
    EXPECT_EQ(view_.linkTarget, kNotesUrl);
    EXPECT_TRUE(view_.linkShown);

    // A notification without a selected row reads no slot either.
    view_.list.ClearSelection();
    window_.OnEntryChanged(kItemSelectedFocused);
    EXPECT_EQ(view_.linkTarget, kNotesUrl);
}

TEST_F(DownloadWindowTest, BrowseOffersTheEntrysNameAndALaterSelectionReplacesThePath) {
    Open();
    view_.downloadsFolder = "/home/user/Downloads/"; // the suggestions go there from now on
    view_.saveDialogAnswer = "/home/user/chosen.bin";
    window_.OnBrowse();
    ASSERT_EQ(view_.saveDialogs.size(), 1u);
    EXPECT_EQ(view_.saveDialogs[0].initialName, "/home/user/Downloads/fw-k6");
    EXPECT_EQ(view_.saveDialogs[0].defaultExtension, "bin");
    EXPECT_EQ(view_.saveDialogs[0].filterLabel, "Kelvorin Update File(*.bin)");
    EXPECT_EQ(view_.saveDialogs[0].filterPattern, "*.bin");
    EXPECT_TRUE(view_.saveDialogs[0].confirmOverwrite);
    EXPECT_EQ(view_.saveAs, "/home/user/chosen.bin");

    UserSelects(2);
    EXPECT_EQ(view_.saveAs, "/home/user/Downloads/fw-k8.bin");
    UserSelects(1);
    EXPECT_EQ(view_.saveAs, ""); // no name: no folder alone either
    UserSelects(2);

    view_.saveDialogAnswer.reset(); // cancelled: nothing changes
    window_.OnBrowse();
    EXPECT_EQ(view_.saveAs, "/home/user/Downloads/fw-k8.bin");

    view_.list.ClearSelection();
    window_.OnBrowse();
    EXPECT_EQ(view_.saveDialogs.back().initialName, "");
}

TEST_F(DownloadWindowTest, ASuccessfulDownloadHandsThePathToTheMainWindowAndCloses) {
    Open();
    const CCurrentDirectory inTempDir(dir_.Path());
    UserSelects(2);
    view_.saveAs = "bare-name.bin";
    downloader_.contents["http://files.test/f2.bin"] = ValidFile();
    downloader_.onDownload = [this](const CFakeDownloader::SCall&) {
        EXPECT_TRUE(!view_.downloadEnabled && !view_.inputsEnabled && view_.cancelShown &&
                    view_.progressShown && view_.statusShown);
        EXPECT_EQ(view_.statusText, "Download:http://files.test/f2.bin");
        window_.OnDownload(); // Enter meanwhile starts nothing
    };
    window_.OnDownload();
    EXPECT_TRUE(downloader_.calls.empty()) << "nothing is downloaded on the window's thread";
    view_.RunBackground();
    ASSERT_EQ(downloader_.calls.size(), 1u);
    // Half the file of an unknown total counts against the largest update file.
    const int half = static_cast<int>(ValidFile().size() / 2 * 1000 / 524288);
    EXPECT_EQ(view_.progress, (std::vector<int>{0, half, 1000, 0}));
    EXPECT_TRUE(view_.inputsEnabled && !view_.cancelShown && !view_.progressShown);
    EXPECT_EQ(downloader_.calls[0].url, "http://files.test/f2.bin");
    EXPECT_EQ(downloader_.calls[0].path, "bare-name.bin"); // exactly as typed
    EXPECT_EQ(view_.mainWindowPath, "bare-name.bin");
    EXPECT_TRUE(view_.closedOk);
    EXPECT_TRUE(view_.downloadEnabled);
    EXPECT_FALSE(view_.statusShown);
    EXPECT_TRUE(view_.boxes.empty());
}

TEST_F(DownloadWindowTest, AFailedDownloadKeepsTheWindowOpenAndRestoresTheControls) {
    Open();
    view_.saveAs = dir_.File("fw.bin");
    downloader_.failures["http://files.test/f0.bin"] = {static_cast<std::int32_t>(0x800C0006u),
                                                        "The server does not have this file."};
    window_.OnDownload();
    view_.RunBackground();
    EXPECT_EQ(view_.statusTexts,
              (std::vector<std::string>{"Download:http://files.test/f0.bin", "Download failed."}));
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0],
              "Download failed.\n\nError = 0x800C0006\n\nThe server does not have this file.");
    EXPECT_FALSE(view_.closedOk);
    EXPECT_FALSE(view_.mainWindowPath);
    EXPECT_TRUE(view_.downloadEnabled);
    EXPECT_FALSE(view_.statusShown);

    // A body that is not an update file fails too, and the file there stays as it was.
    std::ofstream(dir_.File("fw.bin")) << "precious";
    downloader_.failures.clear();
    downloader_.contents["http://files.test/f0.bin"] = "short";
    window_.OnDownload();
    view_.RunBackground();
    ASSERT_EQ(view_.boxes.size(), 2u);
    EXPECT_EQ(view_.boxes[1], "Download failed.\n\nError = 0x800C0008\n\nThe downloaded file is "
                              "not an update file (File format error!).");
    EXPECT_FALSE(view_.closedOk);
    EXPECT_EQ(ReadBytes(dir_.File("fw.bin")),
              std::vector<std::uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));

    // Cancel during the download: no box, the file there as it was, the window ready again.
    downloader_.contents["http://files.test/f0.bin"] = ValidFile();
    downloader_.onDownload = [this](const CFakeDownloader::SCall&) { window_.OnCancelDownload(); };
    window_.OnDownload();
    view_.RunBackground();
    EXPECT_EQ(view_.boxes.size(), 2u);
    EXPECT_FALSE(view_.closedOk);
    EXPECT_EQ(ReadBytes(dir_.File("fw.bin")).size(), 8u);
    EXPECT_TRUE(view_.downloadEnabled && view_.inputsEnabled && !view_.cancelShown);

    // The user tries again, and this time it works.
    downloader_.onDownload = nullptr;
    window_.OnDownload();
    view_.RunBackground();
    EXPECT_TRUE(view_.closedOk);
    EXPECT_EQ(view_.mainWindowPath, dir_.File("fw.bin"));
}

// A catalogue's file name is offered as a bare name: never a path, never outside the folder.
TEST_F(DownloadWindowTest, SuggestedNamesKeepOnlyASafeLastComponent) {
    const std::pair<std::string, std::string> cases[] = {
        {"../../x", "x.bin"},
        {"/abs/x", "x.bin"},
        {"sub/x", "x.bin"},
        {"..", ""},
        {"..\\..\\win", "win.bin"},
        {"a:b*c?\"|<>", "a_b_c_____.bin"},
        {" .hidden. ", "hidden.bin"},
        {"fw-k6_(2)+", "fw-k6_(2)+.bin"},
        {"x/", ""},
        {"COM1", "_COM1.bin"},
        {"nul.txt", "_nul.txt.bin"},
        {"com10", "com10.bin"},
        {"K4_Fran\xC3\xA7"
         "ais",
         "K4_Fran\xC3\xA7"
         "ais.bin"},
        {"K4_\xC3\x9Cn\xC3\xAF"
         "c\xC3\xB8"
         "d\xC3\xA9_\xE5\x85\x85\xE7\x94\xB5\xE5\x99\xA8",
         "K4_\xC3\x9Cn\xC3\xAF"
         "c\xC3\xB8"
         "d\xC3\xA9_\xE5\x85\x85\xE7\x94\xB5\xE5\x99\xA8.bin"},
        // Controls, Latin-1 symbols and spaces, look-alikes of "/" and ":", invisible marks.
        {"a\tb\x7F"
         "c\xC2\x85",
         "a_b_c_.bin"},
        {"v\xC2\xA0"
         "1\xC2\xA7",
         "v_1_.bin"},
        {"x\xE2\x88\x95y\xEF\xBC\x8Fz\xEF\xBC\x9Aw", "x_y_z_w.bin"},
        {"r\xE2\x80\xAEnib.exe\xE2\x80\x8B", "r_nib.exe_.bin"},
        {"\xC3\xA9" + std::string(117, 'e') + "\xC3\xA9",
         "\xC3\xA9" + std::string(117, 'e') + ".bin"},
    };
    constexpr int kCases = static_cast<int>(std::size(cases));
    std::string catalogue = "[File List]\nCountEx=" + std::to_string(kCases) + "\n";
    for (int n = 0; n < kCases; ++n) {
        catalogue += Entry(n, cases[n].first, "");
    }
    Open(catalogue);
    for (int n = 0; n < kCases; ++n) {
        UserSelects(n);
        EXPECT_EQ(view_.saveAs, cases[n].second) << cases[n].first;
    }
    UserSelects(0);
    window_.OnBrowse();
    EXPECT_EQ(view_.saveDialogs.back().initialName, "x");
}

// The windows open before the catalogue is here: busy, then filled; or the connection failure
// and closed; closing while it is fetched leaves no temporary file.
TEST_F(DownloadWindowTest, OpeningAtOnceFetchesTheCatalogueInTheBackground) {
    downloader_.contents[kServers.PrimaryCatalogueUrl()] =
        "[File List]\nCountEx=1\n" + Entry(0, "fw-k6", "K6 notes");
    view_.Attach(window_);
    EXPECT_TRUE(window_.OnInitDialogFetching());
    EXPECT_EQ(view_.list.columns.size(), 6u);
    EXPECT_TRUE(view_.list.rows.empty());
    EXPECT_TRUE(view_.statusShown);
    EXPECT_EQ(view_.statusText, "Loading the list of updates...");
    EXPECT_FALSE(view_.downloadEnabled);
    EXPECT_TRUE(downloader_.calls.empty()) << "nothing is fetched on the window's thread";
    view_.RunBackground();
    EXPECT_EQ(view_.list.rows.size(), 1u);
    EXPECT_EQ(view_.saveAs, "fw-k6.bin");
    EXPECT_EQ(view_.linkTarget, kNotesUrl);
    EXPECT_FALSE(view_.statusShown);
    EXPECT_TRUE(view_.downloadEnabled);
    EXPECT_TRUE(tempFiles_.Live().empty());

    CFakeDownloadWindowView closing;
    CDownloadWindow early(closing, context_);
    early.OnInitDialogFetching();
    std::function<void()> unanswered = std::exchange(closing.background, nullptr)(CCancelToken{});
    EXPECT_EQ(tempFiles_.Live().size(), 1u) << "fetched, the answer not yet delivered";
    unanswered = nullptr; // the window closed first: its job drops the answer
    EXPECT_TRUE(tempFiles_.Live().empty());

    CFakeDownloadWindowView failing;
    CDownloadWindow down(failing, context_);
    downloader_.contents.clear();
    down.OnInitDialogFetching();
    failing.RunBackground();
    ASSERT_EQ(failing.boxes.size(), 1u);
    EXPECT_EQ(failing.boxes[0].rfind("Connecting server failed.\n\nError = 0x800C0004", 0), 0u);
    EXPECT_TRUE(failing.closedCancel);
    EXPECT_TRUE(tempFiles_.Live().empty());

    // The server answered, with more than a catalogue can be: said as such.
    CFakeDownloadWindowView tooLarge;
    CDownloadWindow large(tooLarge, context_);
    downloader_.failures[kServers.SecondCatalogueUrl()] = {static_cast<std::int32_t>(0x800700DFu),
                                                           "The download is too large."};
    large.OnInitDialogFetching();
    tooLarge.RunBackground();
    EXPECT_EQ(tooLarge.boxes, std::vector<std::string>{"The server's list of updates is too large "
                                                       "to be read.\n\nError = 0x800700DF\n\n"
                                                       "The download is too large."});
}

TEST_F(DownloadWindowTest, WithoutASelectionDownloadIsDisabledAndDoesNothing) {
    Open();
    view_.list.ClearSelection();
    window_.OnEntryChanged(0); // the row's notification of losing its selection
    EXPECT_FALSE(view_.downloadEnabled);
    window_.OnDownload(); // Enter
    EXPECT_FALSE(view_.background);
    EXPECT_TRUE(view_.boxes.empty());
    UserSelects(2);
    EXPECT_TRUE(view_.downloadEnabled);
}

// Texts for reading end with "…" where the catalogue's value is longer than the 124 bytes
// shown, cut between characters; names and addresses stay as read.
TEST_F(DownloadWindowTest, LongTextsEndWithAMark) {
    std::string twoByteNote;
    for (int n = 0; n < 70; ++n) {
        twoByteNote += "\xC3\xA9";
    }
    const std::string fits(124, 'n');
    Open("[File List]\nCountEx=2\n" + Entry(0, std::string(124, 'f'), "x" + twoByteNote) +
         "Note0=x" + twoByteNote + "\nVer0=" + fits + "\nUpdated0=" + fits + "u\n" +
         Entry(1, "fw", fits));
    const std::string cut = "x" + twoByteNote.substr(0, 120) + "\xE2\x80\xA6";
    EXPECT_EQ(view_.list.rows[0][5], cut);
    EXPECT_EQ(view_.linkText, cut);
    EXPECT_EQ(view_.list.rows[0][2], fits);
    EXPECT_EQ(view_.list.rows[0][3], std::string(121, 'n') + "\xE2\x80\xA6");
    EXPECT_EQ(view_.list.rows[0][1], std::string(124, 'f'));
    UserSelects(1);
    EXPECT_EQ(view_.linkText, fits);
}

} // namespace
