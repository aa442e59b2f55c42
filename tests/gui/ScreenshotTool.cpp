// crenovix-screenshot OUT.png [UPDATE_FILE]: renders the main window offscreen with a simulated
// HID charger listed and the update file loaded, for the documentation.
// crenovix-screenshot --icon OUT.png SIZE: writes the application icon at SIZE x SIZE pixels.
// crenovix-screenshot --download OUT.png: renders the download window filled from a made-up
// catalogue, served by a downloader that only writes its text; nothing goes to the network.
// crenovix-screenshot --station OUT.png UPDATE_FILE: renders the station window after "Update
// all" on four simulated chargers in real time, one of which refuses the file.
#include "gui/qt/Artwork.h"
#include "gui/qt/CDownLoad.h"
#include "gui/qt/CStationView.h"
#include "gui/qt/CrenovixDlg.h"
#include "gui/qt/ProgramServices.h"
#include "online/Catalogue.h"
#include "online/linux/PosixTempFiles.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

namespace {

// What the maker's catalogue might list: four update files, each with its release notes.
constexpr const char* kCatalogue = R"([Software]
Ver=V2.1

[File List]
CountEx=4
Type0=Kelvorin K4
FileName0=K4_FW_V1.06
Ver0=V1.06
Updated0=2024-03-18
URL0=http://www.kavro.example/UploadFiles/K4_FW_V1.06.bin
Note0=Faster charge end detection
Release0=K4 V1.06 release notes
ReleaseURL0=http://www.kavro.example/UploadFiles/K4_V1.06.txt
Type1=Kelvorin K6
FileName1=K6_FW_V2.03
Ver1=V2.03
Updated1=2024-01-22
URL1=http://www.kavro.example/UploadFiles/K6_FW_V2.03.bin
Note1=LiFePO4 profile
Release1=K6 V2.03 release notes
ReleaseURL1=http://www.kavro.example/UploadFiles/K6_V2.03.txt
Type2=Kelvorin K6 Pro
FileName2=K6P_FW_V2.10
Ver2=V2.10
Updated2=2023-11-05
URL2=http://www.kavro.example/UploadFiles/K6P_FW_V2.10.bin
Note2=Serial port models
Release2=K6 Pro V2.10 release notes
ReleaseURL2=http://www.kavro.example/UploadFiles/K6P_V2.10.txt
Type3=Kelvorin K8
FileName3=K8_FW_V1.01
Ver3=V1.01
Updated3=2023-09-30
URL3=http://www.kavro.example/UploadFiles/K8_FW_V1.01.bin
Note3=First public release
Release3=K8 V1.01 release notes
ReleaseURL3=http://www.kavro.example/UploadFiles/K8_V1.01.txt
)";

class CCatalogueOnlyDownloader final : public crenovix::IDownloader {
public:
    using crenovix::IDownloader::DownloadToFile;
    crenovix::SDownloadStatus DownloadToFile(const std::string&, const std::string& path,
                                             const crenovix::SDownloadOptions&) override {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << kCatalogue;
        return {};
    }
};

int WriteDownloadWindow(const char* out) {
    CCatalogueOnlyDownloader downloader;
    crenovix::CIniFileReader ini;
    crenovix::CPosixTempFiles tempFiles;
    crenovix::SOnlineContext context{
        downloader, downloader, ini, crenovix::BuiltInServerAddresses(), crenovix::releaseLinks,
        tempFiles};
    const crenovix::SCatalogueFetch fetched = crenovix::FetchCatalogue(context);
    if (fetched.status.Failed()) {
        std::cerr << "cannot write the catalogue's temporary file\n";
        return 1;
    }
    crenovix::qt::CDownLoad window(context, {});
    window.Initialize(fetched.file->Path());
    window.show();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(out))) {
        std::cerr << "cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

int WriteIcon(const char* out, const char* sizeText) {
    const int size = std::atoi(sizeText);
    if (size < 16 || size > 1024) {
        std::cerr << "icon size must be 16 to 1024\n";
        return 2;
    }
    if (!crenovix::qt::AppIconPixmap(size).save(QString::fromLocal8Bit(out))) {
        std::cerr << "cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

int WriteStationWindow(const char* out, const char* file) {
    std::string error;
    const auto services = crenovix::CreateProgramServices(crenovix::CreateSystemPlatform(),
                                                          "hid,hid,serial,hid:refuse", error, 1);
    crenovix::qt::CStationView window(services->StationServices());
    crenovix::qt::WatchDeviceChanges(*services, &window, [&] {
        window.Logic().OnDeviceChange(crenovix::EDeviceChange::NodesChanged);
    });
    window.Initialize(file);
    window.show();
    window.Logic().OnUpdateAllClicked();
    QElapsedTimer waited;
    waited.start();
    while (window.Logic().Station().Busy() && waited.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    window.Logic().Refresh();
    QApplication::processEvents();
    if (!window.grab().save(QString::fromLocal8Bit(out))) {
        std::cerr << "cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool icon = mode == "--icon";
    const bool download = mode == "--download";
    const bool station = mode == "--station";
    if ((icon || station) ? argc != 4 : download ? argc != 3 : argc < 2) {
        std::cerr << "usage: crenovix-screenshot OUT.png [UPDATE_FILE]\n"
                     "       crenovix-screenshot --icon OUT.png SIZE\n"
                     "       crenovix-screenshot --download OUT.png\n"
                     "       crenovix-screenshot --station OUT.png UPDATE_FILE\n";
        return 2;
    }
    QApplication application(argc, argv);
    if (icon) {
        return WriteIcon(argv[2], argv[3]);
    }
    if (download) {
        return WriteDownloadWindow(argv[2]);
    }
    if (station) {
        return WriteStationWindow(argv[2], argv[3]);
    }
    std::string error;
    const auto services =
        crenovix::CreateProgramServices(crenovix::CreateSystemPlatform(), "hid", error, 1);
    crenovix::SDeviceListState devices;
    crenovix::SMainWindowServices windowServices{services->Enumerator(),
                                                 services->Ports(),
                                                 services->Clock(),
                                                 services->Nonces(),
                                                 {},
                                                 {},
                                                 nullptr,
                                                 services->DevicesChangedPoll()};
    crenovix::qt::CrenovixDlg window(devices, windowServices);
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
