// crenovix-screenshot OUT.png [UPDATE_FILE]: renders the main window offscreen with a simulated
// HID charger listed and the update file loaded, for the documentation.
#include "app/qt/CrenovixDlg.h"
#include "app/qt/ProgramServices.h"

#include <QApplication>
#include <QPixmap>

#include <iostream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: crenovix-screenshot OUT.png [UPDATE_FILE]\n";
        return 2;
    }
    QApplication application(argc, argv);
    std::string error;
    const auto services = crenovix::gui::CreateProgramServices("hid", error, 1);
    crenovix::SDeviceListState devices;
    crenovix::SMainWindowServices windowServices{services->Enumerator(),
                                                 services->Ports(),
                                                 services->Clock(),
                                                 services->Nonces(),
                                                 {},
                                                 {},
                                                 nullptr};
    crenovix::gui::CrenovixDlg window(devices, windowServices);
    window.Initialize();
    if (argc > 2) {
        window.Logic().SetPathAndLoad(argv[2]);
    }
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::cerr << "cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
