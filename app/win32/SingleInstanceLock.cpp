// The single-instance lock on Windows: a named mutex in the session's namespace, owned by the
// process. The system drops it when the process ends, however it ends, so a crashed copy keeps
// nothing locked. A second start finds the running copy's main window by its property and asks it
// to come to the front.
#include "app/StartUp.h"

#include <windows.h>

#include <array>

namespace crenovix {

namespace {
class CMutexLock final : public CSingleInstanceLock {
public:
    explicit CMutexLock(HANDLE mutex) : mutex_(mutex) {}
    ~CMutexLock() override {
        if (mutex_ != nullptr) {
            CloseHandle(mutex_);
        }
    }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

private:
    HANDLE mutex_;
};
} // namespace

std::unique_ptr<CSingleInstanceLock> AcquireSingleInstanceLock(const std::string& name) {
    // Kernel object names may not hold a backslash beyond the namespace prefix.
    std::string objectName = name;
    for (char& c : objectName) {
        if (c == '\\') {
            c = '_';
        }
    }
    const HANDLE mutex = CreateMutexA(nullptr, TRUE, objectName.c_str());
    if (mutex == nullptr) {
        // Access denied: the mutex exists, made by a copy running elevated. Otherwise another
        // kind of object holds the name or the system refused; there is no telling whether a
        // copy runs, and refusing to start would be worse than two copies.
        return GetLastError() == ERROR_ACCESS_DENIED ? nullptr
                                                     : std::make_unique<CMutexLock>(nullptr);
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return nullptr;
    }
    return std::make_unique<CMutexLock>(mutex);
}

namespace {
struct SInstanceSearch {
    const std::string& name;
    HWND found = nullptr;
    DWORD process = 0;
};

// A marked window of a process whose executable has the lock's name (file names are case-blind).
BOOL CALLBACK FindInstanceWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<SInstanceSearch*>(context);
    if (GetPropA(window, kInstanceWindowProperty) == nullptr) {
        return TRUE;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    const HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (handle == nullptr) {
        return TRUE;
    }
    std::array<char, MAX_PATH * 2> path{};
    auto length = static_cast<DWORD>(path.size());
    const bool named = QueryFullProcessImageNameA(handle, 0, path.data(), &length) != FALSE;
    CloseHandle(handle);
    if (named && lstrcmpiA(ApplicationName(std::string_view(path.data(), length)).c_str(),
                           search.name.c_str()) == 0) {
        search.found = window;
        search.process = process;
        return FALSE;
    }
    return TRUE;
}
} // namespace

void ShowRunningInstance(const std::string& name) {
    SInstanceSearch search{name};
    EnumWindows(FindInstanceWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        return;
    }
    // This copy was just started by the user, so it may hand its right to take the foreground
    // to the running one, which then brings itself forward (restored when minimised). Posted:
    // a copy that hangs does not hold this one up.
    AllowSetForegroundWindow(search.process);
    PostMessageA(search.found, RegisterWindowMessageA(kShowInstanceMessage), 0, 0);
}

} // namespace crenovix
