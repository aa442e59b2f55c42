// CrenovixApp: the program's start. One copy per user and executable name, the automation
// switches of the Windows program reduced to ending at once, the nonce generator seeded with the
// time, the online services (catalogue check, download window), then the main window, run
// modally; the program ends when it closes.
#include "app/StartUp.h"
#include "gui/qt/AccessHint.h"
#include "gui/qt/CDownLoad.h"
#include "gui/qt/CStationView.h"
#include "gui/qt/CrenovixDlg.h"
#include "gui/qt/LogindInhibitor.h"
#include "gui/qt/ProgramServices.h"
#include "platform/Platform.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

// A bare save-as name of the download window is relative to the current directory. A program
// started from a menu may sit in "/" or another folder it cannot write to; then it works in the
// user's home folder instead.
void MoveToWritableDirectory() {
    if (::access(".", W_OK) == 0) {
        return;
    }
    std::error_code ignored; // where home cannot be entered either, such a save simply fails
    std::filesystem::current_path(QDir::homePath().toStdString(), ignored);
}

// A start-up warning: its text names paths and settings, never markup.
void Warn(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(title),
                    QString::fromStdString(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

class CrenovixApp {
public:
    // Always ends the program when it returns, as the window has closed or was never shown.
    int InitInstance(int argc, char** argv) {
        const std::string name = crenovix::ApplicationName(argc > 0 ? argv[0] : "crenovix");
        QCoreApplication::setApplicationName(QString::fromStdString(name));
        // The organisation is where Qt would keep settings and data (~/.config/<it>/, through
        // QSettings and QStandardPaths); the program writes only its own settings file there
        // (app/Settings.h), never through them.
        QCoreApplication::setOrganizationName(crenovix::kSettingsRoot);
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
            crenovix::LinuxSettingsPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")),
            crenovix::LinuxDefaultLogPath(std::getenv("XDG_DATA_HOME"), std::getenv("HOME")),
            std::getenv(crenovix::kUpdateLogSetting), std::getenv(crenovix::kNoUpdateLogSetting));
        if (!logWarning.empty()) {
            Warn(crenovix::kProductName, logWarning);
        }
        MoveToWritableDirectory();
        const auto online = services->Platform().CreateOnline();
        const auto shell = services->Platform().CreateShell();
        crenovix::qt::CrenovixDlg* mainWindow = nullptr; // set once the window exists
        const auto checkForNewRelease = [&online](const crenovix::CCancelToken& cancel) {
            return crenovix::NewReleaseAddress(online->context, cancel);
        };
        const auto openDownloadWindow = [&online, &shell, &mainWindow] {
            crenovix::qt::CDownloadWindowHost host(*mainWindow, online->context);
            host.shell = shell.get();
            host.OpenAtOnce();
        };

        crenovix::qt::CLogindInhibitor inhibitor;
        // The station window while it is open: device changes are its then.
        QPointer<crenovix::qt::CStationView> station;
        const auto runStation = [&services, &station, &inhibitor](QWidget* parent,
                                                                  const std::string& path) {
            crenovix::qt::CStationView view(services->StationServices(), parent);
            view.Logic().SetSleepInhibitor(&inhibitor);
            station = &view;
            view.Initialize(path);
            view.exec();
        };
        if (const auto stationFile = crenovix::StationWindowArgument(arguments)) {
            crenovix::qt::WatchDeviceChanges(*services, qApp, [&station] {
                if (station) {
                    station->Logic().OnDeviceChange(crenovix::EDeviceChange::NodesChanged);
                }
            });
            runStation(nullptr, *stationFile);
            return 0;
        }
        crenovix::SDeviceListState devices; // the program's device table, for its whole life
        const crenovix::SMainWindowServices windowServices =
            services->WindowServices(checkForNewRelease, openDownloadWindow, &inhibitor);
        crenovix::qt::CrenovixDlg window(devices, windowServices);
        mainWindow = &window;
        window.openStationWindow = [&runStation, &window] {
            runStation(&window, window.GetText(crenovix::ctl::kPath));
        };
        window.SetLinkShell(*shell);
        // The machine's chargers only: simulated ones always open.
        std::optional<crenovix::qt::CAccessHintBox> accessHint;
        if (!services->Simulated()) {
            accessHint.emplace(&window, devices);
            QTimer::singleShot(0, &window, [&accessHint] { accessHint->Check(); });
        }
        crenovix::qt::WatchDeviceChanges(*services, &window, [&] {
            if (station) {
                station->Logic().OnDeviceChange(crenovix::EDeviceChange::NodesChanged);
                return;
            }
            window.Logic().OnDeviceChange(crenovix::EDeviceChange::NodesChanged);
            if (accessHint) {
                accessHint->Check();
            }
        });
        // A second start asks this copy to come to the front through the lock.
        std::optional<QSocketNotifier> showRequests;
        if (const int requests = start.lock->ShowRequests(); requests >= 0) {
            showRequests.emplace(requests, QSocketNotifier::Read);
            QObject::connect(&*showRequests, &QSocketNotifier::activated, &window,
                             [&start, &window] {
                                 bool asked = false;
                                 while (start.lock->TakeShowRequest()) {
                                     asked = true;
                                 }
                                 if (asked) {
                                     window.BringToFront();
                                 }
                             });
        }
        window.Initialize();
        window.exec();
        return 0;
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    return CrenovixApp().InitInstance(argc, argv);
}
