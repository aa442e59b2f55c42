#include "online/Catalogue.h"

#include <algorithm>
#include <cstdio>

namespace crenovix {

ReleaseLinkTable releaseLinks{};

namespace {

constexpr const char* kFileList = "File List";
constexpr const char* kSoftware = "Software";

// The six list columns in order, each from its per-entry key.
constexpr std::array<const char*, 6> kColumnKeys{"Type",    "FileName", "Ver",
                                                 "Updated", "URL",      "Note"};

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

bool OpenDownloadWindow(const SOnlineContext& context, IDownloadWindowHost& host) {
    const SCatalogueFetch fetched = FetchCatalogue(context);
    if (fetched.status.Failed()) {
        host.MessageBox(FailureMessage(kConnectingFailed, fetched.status));
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
                updatesList.InsertRow(entry,
                                      catalogue->GetString(kFileList, EntryKey("Type", entry), ""));
                for (int column = 1; column < static_cast<int>(kColumnKeys.size()); ++column) {
                    updatesList.SetItemText(
                        entry, column,
                        catalogue->GetString(
                            kFileList,
                            EntryKey(kColumnKeys[static_cast<std::size_t>(column)], entry), ""));
                }
                if (static_cast<std::size_t>(entry) < context.links.size()) {
                    ReleaseLink& link = context.links[static_cast<std::size_t>(entry)];
                    link.strText = catalogue->GetString(kFileList, EntryKey("Release", entry), "");
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
