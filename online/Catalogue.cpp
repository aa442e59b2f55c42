#include "online/Catalogue.h"

#include "base/Utf8.h"

#include <algorithm>
#include <cstdio>

namespace crenovix {

ReleaseLinkTable releaseLinks{};

namespace {

constexpr const char* kFileList = "File List";
constexpr const char* kSoftware = "Software";

// The six list columns in order, each from its per-entry key, and whether it is only read.
struct SColumnKey {
    const char* key;
    bool shown;
};
constexpr std::array<SColumnKey, 6> kColumnKeys{{{"Type", true},
                                                 {"FileName", false},
                                                 {"Ver", true},
                                                 {"Updated", true},
                                                 {"URL", false},
                                                 {"Note", true}}};
constexpr std::string_view kCutMark = "\xE2\x80\xA6"; // "…"

std::string EntryKey(const char* name, int entry) {
    return name + std::to_string(entry);
}

} // namespace

SCatalogueFetch FetchCatalogue(const SOnlineContext& context) {
    std::string path;
    if (const SDownloadStatus made = context.tempFiles.Create(path); made.Failed()) {
        return {made, nullptr};
    }
    auto file = std::make_shared<const CCatalogueFile>(context.tempFiles, std::move(path));
    SDownloadOptions options;
    options.cancel = context.cancel;
    SDownloadStatus status = context.catalogueDownloader.DownloadToFile(
        context.servers.PrimaryCatalogueUrl(), file->Path(), options);
    if (status.Failed() && status.status != download_status::kCancelled) {
        status = context.catalogueDownloader.DownloadToFile(context.servers.SecondCatalogueUrl(),
                                                            file->Path(), options);
    }
    if (status.Failed()) {
        return {status, nullptr}; // the file goes with `file`
    }
    return {status, std::move(file)};
}

bool IsNewerThanTool(const std::string& version) {
    const std::string_view tool = kToolVersion;
    return std::lexicographical_compare(
        tool.begin(), tool.end(), version.begin(), version.end(), [](char a, char b) {
            return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
        });
}

SReleaseCheck ReadNewRelease(IIniSource& catalogue, const SServerAddresses& servers) {
    SReleaseCheck check;
    check.ver = catalogue.GetString(kSoftware, "Ver", "V1.0");
    check.newer = IsNewerThanTool(check.ver);
    if (check.newer) {
        check.url = catalogue.GetString(kSoftware, "URL", servers.PrimaryHostName());
    }
    return check;
}

std::optional<std::string> NewReleaseAddress(const SOnlineContext& context,
                                             const CCancelToken& cancel) {
    SOnlineContext own = context;
    own.cancel = &cancel;
    std::string url;
    if (CheckForNewRelease(own, url)) {
        return url;
    }
    return std::nullopt;
}

bool CheckForNewRelease(const SOnlineContext& context, std::string& url) {
    const SCatalogueFetch fetched = FetchCatalogue(context);
    if (fetched.status.Failed()) {
        return false;
    }
    SReleaseCheck check;
    {
        const std::unique_ptr<IIniSource> catalogue = context.ini.Open(fetched.file->Path());
        check = ReadNewRelease(*catalogue, context.servers);
    }
    if (check.newer) {
        url = check.url;
    }
    return check.newer;
}

std::string FailureMessage(const std::string& heading, const SDownloadStatus& status) {
    char code[32];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status.status));
    return heading + "\n\nError = " + code + "\n\n" +
           (status.text ? *status.text : std::string("No message available."));
}

std::string CatalogueFailureMessage(const SDownloadStatus& status) {
    return FailureMessage(status.status == download_status::kTooLarge ? kCatalogueTooLarge
                                                                      : kConnectingFailed,
                          status);
}

std::string ShownText(IIniSource& catalogue, const std::string& key) {
    constexpr std::size_t kShownBytes = kIniValueBufferBytes - 1;
    // Room for one more character of any length tells whether the value goes on.
    std::string text = catalogue.GetString(kFileList, key, "", kShownBytes + 5);
    if (text.size() > kShownBytes) {
        text.resize(Utf8Boundary(text, kShownBytes - kCutMark.size()));
        text += kCutMark;
    }
    return text;
}

bool OpenDownloadWindow(const SOnlineContext& context, IDownloadWindowHost& host) {
    const SCatalogueFetch fetched = FetchCatalogue(context);
    if (fetched.status.Failed()) {
        host.MessageBox(CatalogueFailureMessage(fetched.status));
        return false;
    }
    host.RunDownloadWindow(fetched.file->Path());
    return true;
}

bool LoadCatalogue(IReportListView& updatesList, const SOnlineContext& context,
                   const std::string& cataloguePath) {
    {
        const std::unique_ptr<IIniSource> catalogue = context.ini.Open(cataloguePath);
        const int count = catalogue->GetInt(kFileList, "CountEx", 0);
        if (count >= 1 && count <= kMaxCatalogueEntries) {
            for (int entry = 0; entry < count; ++entry) {
                for (int column = 0; column < static_cast<int>(kColumnKeys.size()); ++column) {
                    const SColumnKey& entryKey = kColumnKeys[static_cast<std::size_t>(column)];
                    const std::string key = EntryKey(entryKey.key, entry);
                    const std::string text = entryKey.shown
                                                 ? ShownText(*catalogue, key)
                                                 : catalogue->GetString(kFileList, key, "");
                    if (column == 0) {
                        updatesList.InsertRow(entry, text);
                    } else {
                        updatesList.SetItemText(entry, column, text);
                    }
                }
                if (static_cast<std::size_t>(entry) < context.links.size()) {
                    ReleaseLink& link = context.links[static_cast<std::size_t>(entry)];
                    link.strText = ShownText(*catalogue, EntryKey("Release", entry));
                    link.strUrl =
                        catalogue->GetString(kFileList, EntryKey("ReleaseURL", entry), "");
                }
            }
        }
    }
    updatesList.SelectAndFocusRow(0);
    return true;
}

} // namespace crenovix
