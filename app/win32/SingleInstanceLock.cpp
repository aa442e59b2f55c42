// The single-instance lock on Windows: a named mutex in the session's namespace, owned by the
// process. The system drops it when the process ends, however it ends, so a crashed copy keeps
// nothing locked.
#include "app/StartUp.h"

#include <windows.h>

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

} // namespace crenovix
