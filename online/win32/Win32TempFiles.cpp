#include "online/win32/Win32TempFiles.h"

#include "online/win32/UrlMonDownloader.h"

#include <windows.h>

namespace crenovix {

namespace {

SDownloadStatus Win32FileFailure(DWORD error) {
    const auto status = static_cast<std::int32_t>(HRESULT_FROM_WIN32(error));
    return {status, SystemMessageText(status)};
}

} // namespace

SDownloadStatus CWin32TempFiles::Create(std::string& path) {
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0) {
        return Win32FileFailure(GetLastError());
    }
    if (length > sizeof folder) {
        return Win32FileFailure(ERROR_FILENAME_EXCED_RANGE);
    }
    char name[MAX_PATH] = {};
    // 0: the system picks the number and creates the file, trying the next while one exists.
    if (GetTempFileNameA(folder, "crx", 0, name) == 0) {
        return Win32FileFailure(GetLastError());
    }
    // Wine answers a name also when the file could not be made (a folder that is not there).
    if (GetFileAttributesA(name) == INVALID_FILE_ATTRIBUTES) {
        return Win32FileFailure(GetLastError());
    }
    path = name;
    return {0, std::nullopt};
}

void CWin32TempFiles::Remove(const std::string& path) {
    DeleteFileA(path.c_str());
}

} // namespace crenovix
