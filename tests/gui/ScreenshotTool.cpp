// crenovix-screenshot OUT.png [UPDATE_FILE]: renders the main window offscreen with a simulated
// HID charger listed and the update file loaded, for the documentation.
// crenovix-screenshot --icon OUT.png SIZE: writes the application icon at SIZE x SIZE pixels.
#include "app/qt/Artwork.h"
#include "app/qt/CrenovixDlg.h"
#include "app/qt/ProgramServices.h"

#include <QApplication>
#include <QPixmap>

#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int WriteIcon(const char* out, const char* sizeText) {
    const int size = std::atoi(sizeText);
    if (size < 16 || size > 1024) {
        std::cerr << "icon size must be 16 to 1024\n";
        return 2;
    }
    if (!crenovix::gui::AppIconPixmap(size).save(QString::fromLocal8Bit(out))) {
        std::cerr << "cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool icon = argc > 1 && std::string(argv[1]) == "--icon";
    if (icon ? argc != 4 : argc < 2) {
        std::cerr << "usage: crenovix-screenshot OUT.png [UPDATE_FILE]\n"
                     "       crenovix-screenshot --icon OUT.png SIZE\n";
        return 2;
    }
    QApplication application(argc, argv);
    if (icon) {
        return WriteIcon(argv[2], argv[3]);
    }
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
