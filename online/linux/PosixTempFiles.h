// CPosixTempFiles: the catalogue's private temporary files on Linux, in $TMPDIR (when set and not
// empty) or /tmp, named "crenovix-catalogue-XXXXXX.ini" and created with O_EXCL and mode 0600
// (mkostemps), so that no other user can read, replace or point them elsewhere. A failure has the
// status of the same file error in a download (PosixFileFailure).
#pragma once

#include "online/TempFiles.h"

namespace crenovix {

class CPosixTempFiles final : public ITempFiles {
public:
    SDownloadStatus Create(std::string& path) override;
    void Remove(const std::string& path) override;
};

} // namespace crenovix
