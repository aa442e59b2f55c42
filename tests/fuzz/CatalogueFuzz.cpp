// The catalogue on arbitrary text: the INI reader on the text in memory and as a file, the
// start-up version check (the fake downloader serves the text from the primary server, or from
// the second when the primary fails) and the download window's listing of the fetched file.
//
// Besides not crashing: lookups are cut to their buffers; integer values are never negative; the
// check announces exactly what the "Software" section says and leaves the URL alone otherwise; the
// listing has one row per entry when "CountEx" is 1 to 124 and none otherwise, every cell its
// entry's value (read from the file as from the text) within the 124-byte buffer, the release links
// of the first 20 entries and no others, row 0 selected when it exists; the version check leaves
// no temporary file.
#include "online/Catalogue.h"
#include "online/DownloadWindow.h"
#include "support/FakeDownloader.h"
#include "support/FakeTempFiles.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

using namespace crenovix;
using testsupport::CFakeDownloader;
using testsupport::CFakeTempFiles;
using testsupport::kFakeCannotConnect;

namespace {

const SServerAddresses kServers{"http://primary.test:8080", "http://second.test"};
constexpr int kDefaultInt = -7; // no real value reads as negative
constexpr const char* kUntouched = "\x01untouched";
// The file reader reads the first 1 MiB only; beyond it file and text rightly differ.
constexpr std::size_t kMaxIniCompared = 1024 * 1024;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "catalogue fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

// A value read whole, past what a cell holds.
std::string WholeValue(crenovix::IIniSource& ini, const std::string& key) {
    return ini.GetString("File List", key, "", 1 << 16);
}

// A text the window only shows: the whole value when it fits a cell; otherwise a start of it, then
// the cut mark, within a cell.
bool IsShownFormOf(const std::string& cell, const std::string& whole) {
    const std::size_t fits = crenovix::kIniValueBufferBytes - 1;
    if (whole.size() <= fits) {
        return cell == whole;
    }
    const std::string mark = "\xE2\x80\xA6";
    if (cell.size() > fits || cell.size() < mark.size() ||
        cell.compare(cell.size() - mark.size(), mark.size(), mark) != 0) {
        return false;
    }
    const std::size_t kept = cell.size() - mark.size();
    return whole.compare(0, kept, cell, 0, kept) == 0;
}

void Require(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

// A value read into a buffer of limit + 1 bytes, against the same value read whole: a beginning
// of it that ends between characters, of at most `limit` characters, and no shorter than the cut
// allows: UTF-8 text is cut by bytes (the next character would pass the limit), text read as
// Windows-1252 by characters (there are `limit` of them).
bool StartsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}
std::size_t Characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), StartsCharacter));
}
void RequireCut(const std::string& value, const std::string& whole, std::size_t limit) {
    const auto starts = StartsCharacter;
    const auto characters = Characters;
    Require(std::string_view(whole).starts_with(value) &&
                (value.size() == whole.size() || starts(whole[value.size()])),
            "a value not cut to its buffer: not a beginning, or cut inside a character");
    Require(characters(value) <= limit, "a value not cut to its buffer: too long");
    if (value.size() < whole.size()) {
        std::size_t next = value.size() + 1;
        while (next < whole.size() && !starts(whole[next])) {
            ++next;
        }
        Require(characters(value) == limit || next > limit,
                "a value not cut to its buffer: cut too short");
    }
}

// The per-process directory that stands for the system's folder of temporary files.
class CWorkDir {
public:
    CWorkDir()
        : dir_(std::filesystem::temp_directory_path() /
               ("crenovix-fuzz-catalogue-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(dir_);
    }
    ~CWorkDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    CWorkDir(const CWorkDir&) = delete;
    CWorkDir& operator=(const CWorkDir&) = delete;
    const std::filesystem::path& Path() const { return dir_; }
    std::string File(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

// The product's parser on a file's bytes. CIniFileReader reads through a 1 MiB buffer, which
// under the address sanitizer costs about a millisecond per file; the version check reads
// through this reader and the listing through CIniFileReader, so every input passes through
// both while paying for the buffer once.
class CTextFileIniReader final : public IIniReader {
public:
    std::unique_ptr<IIniSource> Open(const std::string& path) override {
        std::ifstream file(path, std::ios::binary);
        return ParseIniText(std::string(std::istreambuf_iterator<char>(file), {}));
    }
};

// Lookups on the text: the names the program asks for, with blanks and other letter case, and
// names that are not there, cut to buffers of several sizes.
void CheckLookups(IIniSource& ini) {
    static const std::array<std::array<const char*, 2>, 12> kLookups{{
        {"Software", "Ver"},
        {"Software", "URL"},
        {"File List", "CountEx"},
        {"file list", "countex"},
        {" File List ", " CountEx "},
        {"File List", "Type0"},
        {"File List", "URL0"},
        {"File List", "ReleaseURL19"},
        {"File List", "Note123"},
        {"", ""},
        {"Software", ""},
        {"[Software]", "Ver"},
    }};
    for (const auto& [section, key] : kLookups) {
        const std::string whole = ini.GetString(section, key, "default value", 1u << 20);
        for (const std::size_t buffer :
             {std::size_t{0}, std::size_t{1}, std::size_t{2}, kIniValueBufferBytes}) {
            const std::string value = ini.GetString(section, key, "default value", buffer);
            RequireCut(value, whole, buffer == 0 ? 0 : buffer - 1);
        }
        const int number = ini.GetInt(section, key, kDefaultInt);
        Require(number == kDefaultInt || number >= 0, "a negative integer value");
    }
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    Require(static_cast<bool>(file), "cannot write the temporary file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxIniCompared) {
        return 0;
    }
    static const CWorkDir dir;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::unique_ptr<IIniSource> memory = ParseIniText(text);

    CheckLookups(*memory);

    CFakeDownloader downloader;
    CTextFileIniReader textReader;
    CIniFileReader fileReader;
    ReleaseLinkTable links;
    links.fill({kUntouched, kUntouched});
    CFakeTempFiles tempFiles(dir.Path());
    SOnlineContext context{downloader, downloader, textReader, kServers, links, tempFiles};

    // Start-up's version check; odd lengths come from the second server.
    const std::string primary = kServers.PrimaryCatalogueUrl();
    if (size % 2 == 0) {
        downloader.contents[primary] = text;
    } else {
        downloader.failures[primary] = {kFakeCannotConnect, "refused"};
        downloader.contents[kServers.SecondCatalogueUrl()] = text;
    }
    std::string url = kUntouched;
    const bool newer = CheckForNewRelease(context, url);
    const SReleaseCheck expected = ReadNewRelease(*memory, kServers);
    Require(newer == expected.newer, "the version check disagrees with the catalogue");
    Require(url == (newer ? expected.url : std::string(kUntouched)),
            "the version check gives the wrong address");
    Require(tempFiles.Live().empty(), "the version check left its file");

    // The download window's listing, through our file reader.
    SOnlineContext listing{downloader, downloader, fileReader, kServers, links, tempFiles};
    const std::string fetched = dir.File("fetched.ini");
    WriteText(fetched, text);
    CMemoryReportList list;
    for (std::size_t c = 0; c < kDownloadColumns.size(); ++c) {
        list.InsertColumn(static_cast<int>(c), kDownloadColumns[c].heading,
                          kDownloadColumns[c].widthPx);
    }
    int notifications = 0;
    list.onItemChanged = [&](unsigned state) {
        Require(state == kItemSelectedFocused, "another item state");
        ++notifications;
    };
    Require(LoadCatalogue(list, listing, fetched), "LoadCatalogue answered false");

    const int count = memory->GetInt("File List", "CountEx", 0);
    const std::size_t rows =
        count >= 1 && count <= kMaxCatalogueEntries ? static_cast<std::size_t>(count) : 0;
    Require(list.rows.size() == rows, "the listing has the wrong number of rows");
    for (std::size_t row = 0; row < list.rows.size(); ++row) {
        Require(list.rows[row].size() == kDownloadColumns.size(), "a row with missing columns");
        for (const std::string& cell : list.rows[row]) {
            Require(Characters(cell) < kIniValueBufferBytes, "a cell longer than its buffer");
        }
        static const std::array<const char*, 6> kColumnKeys = {"Type",    "FileName", "Ver",
                                                               "Updated", "URL",      "Note"};
        for (std::size_t column = 0; column < kColumnKeys.size(); ++column) {
            const std::string key = kColumnKeys[column] + std::to_string(row);
            const bool used = column == 1 || column == 4; // FileName and URL are used, not shown
            Require(used ? list.rows[row][column] == memory->GetString("File List", key, "")
                         : IsShownFormOf(list.rows[row][column], WholeValue(*memory, key)),
                    "a cell is not its entry's value");
        }
    }
    for (std::size_t slot = 0; slot < links.size(); ++slot) {
        const std::string n = std::to_string(slot);
        if (slot < rows) {
            Require(IsShownFormOf(links[slot].strText, WholeValue(*memory, "Release" + n)) &&
                        links[slot].strUrl == memory->GetString("File List", "ReleaseURL" + n, ""),
                    "a release link is not its entry's");
        } else {
            Require(links[slot].strText == kUntouched && links[slot].strUrl == kUntouched,
                    "a release link beyond the entries changed");
        }
    }
    Require(list.selected == (rows > 0 ? 0 : -1), "the wrong row is selected");
    Require(notifications == (rows > 0 ? 1 : 0), "the wrong number of item notifications");
    return 0;
}
