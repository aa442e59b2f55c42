// CrenovixApp: the program's start. One copy per user and executable name, the automation
// switches of the Windows program reduced to ending at once, the nonce generator seeded with the
// time, then the main window, run modally; the program ends when it closes.
#include "app/StartUp.h"
#include "app/qt/CrenovixDlg.h"
#include "app/qt/LogindInhibitor.h"
#include "app/qt/ProgramServices.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

class CrenovixApp {
public:
    // Always ends the program when it returns, as the window has closed or was never shown.
    int InitInstance(int argc, char** argv) {
        const std::string name = crenovix::ApplicationName(argc > 0 ? argv[0] : "crenovix");
        QCoreApplication::setApplicationName(QString::fromStdString(name));
        // The settings root is set as the Windows program does; nothing is stored under it.
        QCoreApplication::setOrganizationName(crenovix::kSettingsRoot);
        const auto seed = static_cast<std::uint32_t>(std::time(nullptr));

        const auto lock = crenovix::AcquireSingleInstanceLock(name);
        if (lock == nullptr) {
            QMessageBox::warning(nullptr, QString::fromStdString(name),
                                 crenovix::kAlreadyRunningText);
            return 0;
        }
        const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
        if (crenovix::StartupActionFor(arguments) == crenovix::EStartupAction::EndAtOnce) {
            return 0;
        }

        std::string error;
        const auto services =
            crenovix::gui::CreateProgramServices(std::getenv("CRENOVIX_SIMULATE"), error, seed);
        if (services == nullptr) {
            QMessageBox::warning(nullptr, QString::fromStdString(name),
                                 QString::fromStdString("CRENOVIX_SIMULATE: " + error));
            return 1;
        }
        crenovix::gui::CLogindInhibitor inhibitor;
        crenovix::SDeviceListState devices; // the program's device table, for its whole life
        crenovix::SMainWindowServices windowServices{services->Enumerator(),
                                                     services->Ports(),
                                                     services->Clock(),
                                                     services->Nonces(),
                                                     {},
                                                     {},
                                                     &inhibitor};
        crenovix::gui::CrenovixDlg window(devices, windowServices);
        services->WatchDeviceChanges(
            &window, [&window] { window.Logic().OnDeviceChange(crenovix::kDeviceNodesChanged); });
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
