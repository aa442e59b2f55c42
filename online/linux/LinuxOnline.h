// The program's online services on Linux, made once and kept for the program's life: a
// downloader for catalogue fetches (each attempt bounded to 2.5 s), one for
// update files, our INI reader, the server addresses (built in, overridden by the environment)
// and the program-wide release links. `context` is what the catalogue functions and the
// download window take.
#pragma once

#include "online/Catalogue.h"
#include "online/IniFile.h"
#include "online/ServerAddresses.h"
#include "online/linux/CurlDownloader.h"

namespace crenovix {

class CLinuxOnline {
public:
    CLinuxOnline()
        : context{catalogueDownloader_, fileDownloader_, iniReader_,
                  ServerAddressesFromEnvironment()} {}
    CLinuxOnline(const CLinuxOnline&) = delete;
    CLinuxOnline& operator=(const CLinuxOnline&) = delete;

private:
    // Declared before `context`, which refers to them.
    CCurlDownloader catalogueDownloader_{kCatalogueDownloadLimits};
    CCurlDownloader fileDownloader_{kFileDownloadLimits};
    CIniFileReader iniReader_;

public:
    SOnlineContext context;
};

} // namespace crenovix
