// The program's online services on Windows, made once and kept for the program's life: a
// downloader for catalogue fetches (each attempt bounded to 2.5 s), one for
// update files, the private-profile reader, the server addresses (built in, overridden by the
// environment) and the program-wide release links. `context` is what the catalogue functions
// and the download window take.
#pragma once

#include "online/Catalogue.h"
#include "online/ServerAddresses.h"
#include "online/win32/PrivateProfileReader.h"
#include "online/win32/UrlMonDownloader.h"

namespace crenovix {

class CWin32Online {
public:
    CWin32Online()
        : context{catalogueDownloader_, fileDownloader_, iniReader_,
                  ServerAddressesFromEnvironment()} {}
    CWin32Online(const CWin32Online&) = delete;
    CWin32Online& operator=(const CWin32Online&) = delete;

private:
    // Declared before `context`, which refers to them.
    CUrlMonDownloader catalogueDownloader_{kCatalogueDownloadLimits};
    CUrlMonDownloader fileDownloader_{kFileDownloadLimits};
    CPrivateProfileReader iniReader_;

public:
    SOnlineContext context;
};

} // namespace crenovix
