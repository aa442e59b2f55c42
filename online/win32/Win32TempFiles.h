// CWin32TempFiles: the catalogue's private temporary files on Windows, in the user's temporary
// folder (GetTempPathA), each a new file "crx<hex>.tmp" that GetTempFileNameA creates only under
// a name no file has, so nothing of the user's is replaced. A failure is the system error's
// HRESULT with the system's text, as the download call's file errors are.
#pragma once

#include "online/TempFiles.h"

namespace crenovix {

class CWin32TempFiles final : public ITempFiles {
public:
    SDownloadStatus Create(std::string& path) override;
    void Remove(const std::string& path) override;
};

} // namespace crenovix
