// CrenovixApp: the Windows program's start. Common controls, sockets and the component libraries
// first, one copy per executable name (a named mutex), the automation switches reduced to ending
// at once (the program registers nothing), the nonce generator seeded with the time, the devices
// (or the demo desk of CRENOVIX_SIMULATE), the online services and the link's shell, then the
// main window, run modally; the program ends when it closes.
#include "app/StartUp.h"
#include "doctor/PortReport.h"
#include "gui/win32/CDownLoad.h"
#include "gui/win32/CStationDlg.h"
#include "gui/win32/CrenovixDlg.h"
#include "gui/win32/ExecutionStateInhibitor.h"
#include "platform/Platform.h"
#include "platform/ProgramServices.h"

#include <commctrl.h>
#include <ole2.h>
#include <windows.h>
#include <winsock2.h>
#undef MessageBox

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

void Warn(const std::string& title, const std::string& text) {
    MessageBoxA(nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// A bare save-as name of the download window is relative to the current directory. A program
// started from a shortcut may sit in its installation folder, which a user cannot write to; then
// it works in the user's profile folder instead.
void MoveToWritableDirectory() {
    char probe[MAX_PATH];
    if (GetTempFileNameA(".", "crx", 0, probe) != 0) {
        DeleteFileA(probe);
        return;
    }
    char profile[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("USERPROFILE", profile, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        SetCurrentDirectoryA(profile); // where that fails too, such a save simply fails
    }
}

// Ends what InitInstance started, however it returns.
struct SSystemSupport {
    bool sockets = false;
    bool ole = false;
    ~SSystemSupport() {
        if (ole) {
            OleUninitialize();
        }
        if (sockets) {
            WSACleanup();
        }
    }
};

class CrenovixApp {
public:
    // Always ends the program when it returns, as the window has closed or was never shown.
    int InitInstance(int argc, char** argv) {
        INITCOMMONCONTROLSEX classes{sizeof(classes), 0xFF}; // the eight standard classes
        InitCommonControlsEx(&classes);

        const std::string name = crenovix::win32::ProgramName();
        SSystemSupport support;
        WSADATA winsock{};
        support.sockets = WSAStartup(MAKEWORD(1, 1), &winsock) == 0;
        if (!support.sockets) {
            Warn(crenovix::kProductName, "Windows sockets initialization failed.");
            return 0;
        }
        support.ole = SUCCEEDED(OleInitialize(nullptr));
        if (!support.ole) {
            Warn(crenovix::kProductName,
                 "OLE initialization failed.  Make sure that the OLE libraries are the "
                 "correct version.");
            return 0;
        }
        // The settings root ("Dalvenor Kavro Kelvorin") would only name a registry key; the
        // program keeps its one settings file in %APPDATA%\Crenovix instead (app/Settings.h).
        const auto seed = static_cast<std::uint32_t>(std::time(nullptr));

        const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
        const auto start = crenovix::StartProgram(
            name, arguments, std::getenv("CRENOVIX_SIMULATE"), seed,
            [](const char* simulate, std::string& error, std::uint32_t seed) {
                return crenovix::CreateProgramServices(crenovix::CreateSystemPlatform(), simulate,
                                                       error, seed);
            },
            Warn);
        if (start.services == nullptr) {
            return start.exitCode;
        }
        const auto& services = start.services;
        // Chosen before the current directory may move, so that a relative path means what the
        // user meant.
        const std::string logWarning = services->UseUpdateLog(
            crenovix::WindowsSettingsPath(std::getenv("APPDATA")),
            crenovix::WindowsDefaultLogPath(std::getenv("LOCALAPPDATA")),
            std::getenv(crenovix::kUpdateLogSetting), std::getenv(crenovix::kNoUpdateLogSetting));
        if (!logWarning.empty()) {
            Warn(crenovix::kProductName, logWarning);
        }
        MoveToWritableDirectory();
        const auto online = services->Platform().CreateOnline();
        const auto shell = services->Platform().CreateShell();
        crenovix::win32::CrenovixDlg* mainWindow = nullptr; // set once the window exists
        const auto checkForNewRelease = [&online](const crenovix::CCancelToken& cancel) {
            return crenovix::NewReleaseAddress(online->context, cancel);
        };
        const auto openDownloadWindow = [&online, &shell, &mainWindow] {
            crenovix::win32::CDownloadWindowHost host(*mainWindow, online->context, *shell);
            host.OpenAtOnce();
        };

        crenovix::win32::CExecutionStateInhibitor inhibitor;
        // The station window, modally over `owner` (none: the program's window).
        const auto runStation = [&services, &inhibitor](HWND owner, const std::string& path) {
            crenovix::win32::CStationDlg station(services->StationServices(), path);
            station.devicesChangedPoll = services->DevicesChangedPoll();
            station.Logic().SetSleepInhibitor(&inhibitor);
            if (station.DoModal(owner) == -1) {
                Warn(crenovix::kProductName, "The station window cannot be created (error " +
                                                 std::to_string(GetLastError()) + ").");
                return false;
            }
            return true;
        };
        if (const auto stationFile = crenovix::StationWindowArgument(arguments)) {
            return runStation(nullptr, *stationFile) ? 0 : 1;
        }

        crenovix::SDeviceListState devices; // the program's device table, for its whole life
        const crenovix::SMainWindowServices windowServices =
            services->WindowServices(checkForNewRelease, openDownloadWindow, &inhibitor);
        crenovix::win32::CrenovixDlg window(devices, windowServices, *shell);
        mainWindow = &window;
        window.devicesChangedPoll = services->DevicesChangedPoll();
        window.openStationWindow = [&runStation, &window] {
            runStation(window.Handle(), window.GetText(crenovix::ctl::kPath));
        };
        // A HID charger present that does not open is told about once per plug, with the
        // doctor's words (the machine's chargers only: simulated ones always open).
        std::unique_ptr<crenovix::IDevices> hintDevices;
        crenovix::doctor::CAccessHint accessHint;
        if (!services->Simulated()) {
            hintDevices = services->Platform().OpenDevices();
            window.afterDeviceChange = [&] {
                const auto text = accessHint.Next(
                    crenovix::doctor::PortAccessReport(crenovix::doctor::ListHidAccess(
                        hintDevices->HidInterfaces(), hintDevices->Ports())),
                    false);
                if (text) {
                    MessageBoxA(window.Handle(), text->c_str(), "Info", MB_OK);
                    accessHint.Closed();
                }
            };
        }
        if (window.DoModal() == -1) {
            Warn(crenovix::kProductName, "The main window cannot be created (error " +
                                             std::to_string(GetLastError()) + ").");
            return 1;
        }
        return 0;
    }
};

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return CrenovixApp().InitInstance(__argc, __argv);
}
