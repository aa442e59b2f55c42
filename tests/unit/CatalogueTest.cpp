// The catalogue: the fetch order, the version check, the "Connecting server failed." message and
// the listing of entries, against a scripted downloader and our INI reader on real files.
#include "online/Catalogue.h"
#include "online/DownloadWindow.h"
#include "support/FakeDownloadWindowView.h"
#include "support/FakeDownloader.h"
#include "support/FakeTempFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

const SServerAddresses kServers{"http://primary.test:8080", "http://second.test"};
const std::string kPrimaryCatalogue = "http://primary.test:8080/UploadFiles/KelvorinUpdateInfo.inf";
const std::string kSecondCatalogue = "http://second.test/UploadFiles/KelvorinUpdateInfo.inf";

std::string Software(const std::string& lines) {
    return "[Software]\n" + lines;
}

// A "File List" with entries first .. first + count - 1 and the given "CountEx" line.
std::string FileList(const std::string& countEx, int first, int count) {
    std::string text = "[File List]\nCountEx=" + countEx + "\n";
    for (int n = first; n < first + count; ++n) {
        const std::string i = std::to_string(n);
        text += "Type" + i + "=Type " + i + "\nFileName" + i + "=file" + i + "\nVer" + i + "=V1." +
                i + "\nUpdated" + i + "=2024-01-" + i + "\nURL" + i + "=http://files.test/f" + i +
                ".bin\nNote" + i + "=note " + i + "\nRelease" + i + "=Notes " + i + "\nReleaseURL" +
                i + "=http://notes.test/" + i + "\n";
    }
    return text;
}

class CatalogueTest : public ::testing::Test {
protected:
    CTempDir dir_;
    CFakeDownloader downloader_;
    CIniFileReader ini_;
    CFakeTempFiles tempFiles_{dir_.Path()};
    ReleaseLinkTable links_{};
    SOnlineContext context_{downloader_, downloader_, ini_, kServers, links_, tempFiles_};

    bool TempFileLeft() const { return !tempFiles_.Live().empty(); }

    // The primary server serves `catalogue`; returns what CheckForNewRelease reports.
    bool Check(const std::string& catalogue, std::string& url) {
        downloader_.contents[kPrimaryCatalogue] = catalogue;
        return CheckForNewRelease(context_, url);
    }

    CMemoryReportList LoadedList(const std::string& catalogue) {
        const std::string path = dir_.File("fetched.ini");
        std::ofstream(path) << catalogue;
        CMemoryReportList list;
        for (std::size_t c = 0; c < kDownloadColumns.size(); ++c) {
            list.InsertColumn(static_cast<int>(c), kDownloadColumns[c].heading,
                              kDownloadColumns[c].widthPx);
        }
        list.onItemChanged = [this](unsigned state) { notifications_.push_back(state); };
        EXPECT_TRUE(LoadCatalogue(list, context_, path));
        return list;
    }

    std::vector<unsigned> notifications_;
};

TEST_F(CatalogueTest, VersionsAreComparedByteWiseWithV21) {
    struct SCase {
        const char* ver;
        bool newer;
    };
    const SCase cases[] = {
        {"V2.1", false},  // equal is not greater
        {"V2.10", true},  // a longer text with the same beginning is greater
        {"V10.0", false}, // "1" sorts before "2"
        {"v2.0", true},   // lower case sorts after upper case
        {"V2.0", false},  {"V2.2", true},      {"V2", false},
        {"", false},      {"V\xC3\xA9", true}, // bytes above 127 compare as unsigned
    };
    for (const SCase& c : cases) {
        std::string url = "unchanged";
        EXPECT_EQ(Check(Software(std::string("Ver=") + c.ver + "\nURL=http://new.test\n"), url),
                  c.newer)
            << c.ver;
        EXPECT_EQ(url, c.newer ? "http://new.test" : "unchanged") << c.ver;
        EXPECT_FALSE(TempFileLeft()) << c.ver;
    }
}

TEST_F(CatalogueTest, MissingVerMeansV10AndMissingUrlThePrimaryHostName) {
    std::string url = "unchanged";
    EXPECT_FALSE(Check(Software("URL=http://new.test\n"), url));
    EXPECT_EQ(url, "unchanged");
    EXPECT_FALSE(Check("", url));

    EXPECT_TRUE(Check(Software("Ver=V3.0\n"), url));
    EXPECT_EQ(url, "primary.test:8080");
}

TEST_F(CatalogueTest, TheSecondServerIsAskedOnlyWhenThePrimaryFails) {
    downloader_.contents[kPrimaryCatalogue] = Software("Ver=V2.5\nURL=from-primary\n");
    downloader_.contents[kSecondCatalogue] = Software("Ver=V2.5\nURL=from-second\n");
    std::string url;
    EXPECT_TRUE(CheckForNewRelease(context_, url));
    EXPECT_EQ(url, "from-primary");
    ASSERT_EQ(downloader_.calls.size(), 1u);
    EXPECT_EQ(downloader_.calls[0].path, dir_.File("catalogue-1.ini")); // a private file

    downloader_.calls.clear();
    downloader_.failures[kPrimaryCatalogue] = {kFakeCannotConnect, "refused"};
    EXPECT_TRUE(CheckForNewRelease(context_, url));
    EXPECT_EQ(url, "from-second");
    ASSERT_EQ(downloader_.calls.size(), 2u);
    EXPECT_EQ(downloader_.calls[0].url, kPrimaryCatalogue);
    EXPECT_EQ(downloader_.calls[1].url, kSecondCatalogue);
    EXPECT_EQ(downloader_.calls[1].path, dir_.File("catalogue-2.ini")); // each fetch its own
    EXPECT_FALSE(TempFileLeft());
}

TEST_F(CatalogueTest, AFailedCheckShowsNothingAndLeavesNoFile) {
    std::string url = "unchanged";
    EXPECT_FALSE(CheckForNewRelease(context_, url)); // neither server answers
    EXPECT_EQ(url, "unchanged");
    EXPECT_EQ(downloader_.calls.size(), 2u);
    EXPECT_FALSE(TempFileLeft());
}

class CRecordingHost final : public IDownloadWindowHost {
public:
    std::vector<std::string> boxes;
    int runs = 0;
    std::function<void(const std::string& cataloguePath)> onRun;
    void MessageBox(const std::string& text) override { boxes.push_back(text); }
    void RunDownloadWindow(const std::string& cataloguePath) override {
        ++runs;
        if (onRun) {
            onRun(cataloguePath);
        }
    }
};

TEST_F(CatalogueTest, BothServersFailingGiveTheMessageOfTheSecondAttempt) {
    downloader_.failures[kPrimaryCatalogue] = {static_cast<std::int32_t>(0x800C0005u), "primary"};
    downloader_.failures[kSecondCatalogue] = {static_cast<std::int32_t>(0x800C000Bu),
                                              "The server did not answer in time."};
    CRecordingHost host;
    EXPECT_FALSE(OpenDownloadWindow(context_, host));
    EXPECT_EQ(host.runs, 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0], "Connecting server failed.\n\nError = 0x800C000B\n\n"
                             "The server did not answer in time.");

    downloader_.failures[kSecondCatalogue] = {-2, std::nullopt};
    EXPECT_FALSE(OpenDownloadWindow(context_, host));
    EXPECT_EQ(host.boxes.back(),
              "Connecting server failed.\n\nError = 0xFFFFFFFE\n\nNo message available.");

    // No temporary file to be had: no server is asked.
    const std::size_t calls = downloader_.calls.size();
    tempFiles_.failure = SDownloadStatus{static_cast<std::int32_t>(0x80070005u), "Denied."};
    EXPECT_FALSE(OpenDownloadWindow(context_, host));
    EXPECT_EQ(host.boxes.back(), "Connecting server failed.\n\nError = 0x80070005\n\nDenied.");
    EXPECT_EQ(downloader_.calls.size(), calls);
    EXPECT_EQ(host.runs, 0);
    EXPECT_FALSE(TempFileLeft());
}

TEST_F(CatalogueTest, TheWindowRunsWithTheSecondServersCatalogueWithoutAMessage) {
    downloader_.contents[kSecondCatalogue] = FileList("1", 0, 1);
    CRecordingHost host;
    host.onRun = [this](const std::string& path) { // kept for the window to read
        EXPECT_EQ(tempFiles_.Live(), std::set<std::string>{path});
    };
    EXPECT_TRUE(OpenDownloadWindow(context_, host));
    EXPECT_EQ(host.runs, 1);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(TempFileLeft());
}

TEST_F(CatalogueTest, EntriesBecomeRowsInKeyOrderWithSixColumnsAndReleaseLinks) {
    links_[3] = {"kept", "http://kept.test"};
    const CMemoryReportList list = LoadedList(FileList("3", 0, 3));
    ASSERT_EQ(list.rows.size(), 3u);
    for (int n = 0; n < 3; ++n) {
        const std::string i = std::to_string(n);
        EXPECT_EQ(list.rows[static_cast<std::size_t>(n)],
                  (std::vector<std::string>{"Type " + i, "file" + i, "V1." + i, "2024-01-" + i,
                                            "http://files.test/f" + i + ".bin", "note " + i}));
        EXPECT_EQ(links_[static_cast<std::size_t>(n)].strText, "Notes " + i);
        EXPECT_EQ(links_[static_cast<std::size_t>(n)].strUrl, "http://notes.test/" + i);
    }
    EXPECT_EQ(links_[3].strText, "kept"); // slots beyond the catalogue keep what they had
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(notifications_, std::vector<unsigned>{kItemSelectedFocused});
}

TEST_F(CatalogueTest, AHundredAndTwentyFourEntriesAreListedAndOnlyTwentyLinksKept) {
    const CMemoryReportList list = LoadedList(FileList("124", 0, 124));
    ASSERT_EQ(list.rows.size(), 124u);
    EXPECT_EQ(list.rows[123][0], "Type 123");
    EXPECT_EQ(list.rows[123][5], "note 123");
    EXPECT_EQ(links_[19].strText, "Notes 19");
    EXPECT_EQ(links_[19].strUrl, "http://notes.test/19");
}

TEST_F(CatalogueTest, CountsOutsideOneTo124LeaveTheListEmpty) {
    for (const std::string count : {"125", "0", "-1", "abc", "1000"}) {
        notifications_.clear();
        const CMemoryReportList list = LoadedList(FileList(count, 0, 125));
        EXPECT_TRUE(list.rows.empty()) << count;
        EXPECT_TRUE(notifications_.empty()) << count;
    }
    const CMemoryReportList list = LoadedList("[File List]\nType0=x\n");
    EXPECT_TRUE(list.rows.empty());
}

TEST_F(CatalogueTest, ACatalogueNumberedFromOneShiftsByOneRow) {
    const CMemoryReportList list = LoadedList(FileList("2", 1, 2));
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rows[0], std::vector<std::string>(6, "")); // entry 0 does not exist
    EXPECT_EQ(list.rows[1][0], "Type 1");                     // entry 2 is never read
    EXPECT_EQ(links_[0].strText, "");
}

TEST_F(CatalogueTest, LongValuesAreCutInTheList) {
    const std::string note(130, 'n');
    const CMemoryReportList list =
        LoadedList("[File List]\nCountEx=1\nNote0=" + note + "\nRelease0=\"" + note + "\"\n");
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0][5], note.substr(0, 121) + "\xE2\x80\xA6"); // "…": there is more
    EXPECT_EQ(links_[0].strText, note.substr(0, 121) + "\xE2\x80\xA6");
}

TEST_F(CatalogueTest, TheTemporaryFileIsGoneOnceTheWindowHasOpened) {
    for (const std::string count : {"2", "125"}) {
        downloader_.contents[kPrimaryCatalogue] = FileList(count, 0, 2);
        CFakeDownloadWindowView view;
        CDownloadWindow window(view, context_);
        view.Attach(window);
        CRecordingHost host;
        host.onRun = [&](const std::string& path) { window.OnInitDialog(path); };
        ASSERT_TRUE(OpenDownloadWindow(context_, host));
        EXPECT_FALSE(TempFileLeft()) << count;
        EXPECT_EQ(view.list.rows.size(), count == "2" ? 2u : 0u);
    }
}

TEST(ServerAddresses, OverridesTrailingSlashesAndTheBareHostName) {
    const SServerAddresses builtIn{"http://www.kavro.example/", "http://www2.kavro.example"};
    SServerAddresses resolved = ResolveServerAddresses(builtIn, std::nullopt, std::string());
    EXPECT_EQ(resolved.primary, "http://www.kavro.example");
    EXPECT_EQ(resolved.second, "http://www2.kavro.example"); // an empty override is no override
    EXPECT_EQ(resolved.PrimaryHostName(), "www.kavro.example");
    EXPECT_EQ(resolved.ReleaseNotesUrl(),
              "http://www.kavro.example/UploadFiles/ReleaseNotes-Kelvorin.txt");

    resolved = ResolveServerAddresses(builtIn, std::string("http://127.0.0.1:8080//"),
                                      std::string("http://user@mirror.test:81/base"));
    EXPECT_EQ(resolved.PrimaryCatalogueUrl(),
              "http://127.0.0.1:8080/UploadFiles/KelvorinUpdateInfo.inf");
    EXPECT_EQ(resolved.PrimaryHostName(), "127.0.0.1:8080");
    EXPECT_EQ((SServerAddresses{"https://user:pw@host.test:81/x", ""}.PrimaryHostName()),
              "host.test:81");
    EXPECT_EQ(resolved.SecondCatalogueUrl(),
              "http://user@mirror.test:81/base/UploadFiles/KelvorinUpdateInfo.inf");
}

} // namespace
