// The download window, the link and the report list in Qt, driven with the mouse and keys: the
// catalogue comes from a fake downloader, boxes and the save dialog are answered by the test, the
// link opens through a fake shell. The last case runs the whole Download command from the main
// window: catalogue fetch, the modal download window, the file landing in the main window. One
// downloads from a slow loopback server and measures the window's heartbeat meanwhile.
#include "device/SerialEnumeration.h"
#include "gui/qt/CDownLoad.h"
#include "gui/qt/CHyperLink.h"
#include "gui/qt/CMyListCtrl.h"
#include "net/LoopbackHttpServer.h"
#include "net/ScopedEnvironment.h"
#include "online/Catalogue.h"
#include "online/linux/CurlDownloader.h"
#include "sim/SimBench.h"
#include "support/FakeDownloader.h"
#include "support/FakeShell.h"
#include "support/FakeTempFiles.h"
#include "support/FakeUpdateWindow.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace crenovix;
using namespace crenovix::qt;
using namespace crenovix::testsupport;

namespace {

const SServerAddresses kServers{"http://primary.test", "http://second.test"};
const QString kNotesUrl = "http://primary.test/UploadFiles/ReleaseNotes-Kelvorin.txt";
const QColor kNormal(0, 0, 238);
const QColor kVisited(85, 26, 139);

std::string Entry(int n, const std::string& fileName, const std::string& release) {
    const std::string i = std::to_string(n);
    return "Type" + i + "=K" + i + "\nFileName" + i + "=" + fileName + "\nVer" + i + "=V1.0" + i +
           "\nURL" + i + "=http://files.test/f" + i + ".bin\nRelease" + i + "=" + release +
           "\nReleaseURL" + i + "=http://notes.test/" + i + "\n";
}

// Entry 1 has no file name, entry 2 no release text.
const std::string kCatalogue = "[Software]\nVer=V2.2\nURL=http://primary.test/new\n"
                               "[File List]\nCountEx=3\n" +
                               Entry(0, "fw-k6", "K6 notes") + Entry(1, "", "K7 notes") +
                               Entry(2, "fw-k8", "");

// The online services of one test, with the catalogue's temporary files in a folder of its own.
struct COnline {
    CTempDir dir;
    CFakeDownloader catalogues;
    CFakeDownloader files;
    CIniFileReader ini;
    CFakeTempFiles tempFiles{dir.Path()};
    ReleaseLinkTable links{};
    SOnlineContext context{catalogues, files, ini, kServers, links, tempFiles};
};

// The download window opened on kCatalogue, with boxes and the save dialog recorded, and the
// user's downloads folder (XDG user directory) in the test's folder.
class CWindowBench {
public:
    explicit CWindowBench(const std::string& catalogue = kCatalogue) {
        std::filesystem::create_directories(online.dir.File("config"));
        std::filesystem::create_directories(online.dir.File("Downloads"));
        std::ofstream(online.dir.File("config/user-dirs.dirs"))
            << "XDG_DOWNLOAD_DIR=\"" << online.dir.File("Downloads") << "\"\n";
        environment.Set("XDG_CONFIG_HOME", online.dir.File("config"));
        std::ofstream(online.dir.File("fetched.ini")) << catalogue;
        window.messageBoxHandler = [this](const std::string& text) { boxes.push_back(text); };
        window.saveDialogHandler = [this](const SSaveDialogRequest& request) {
            requests.push_back(request);
            return saveAnswer;
        };
        window.Initialize(online.dir.File("fetched.ini"));
        window.show();
    }
    QLineEdit* SaveAs() { return window.findChild<QLineEdit*>("ctl1002"); }
    QPushButton* Button(int id) { return window.findChild<QPushButton*>(QString("ctl%1").arg(id)); }
    QLabel* Status() { return window.findChild<QLabel*>("ctl1022"); }
    QString InDownloads(const std::string& name) {
        return QString::fromStdString(online.dir.File("Downloads") + "/" + name);
    }
    void ClickRow(int row) {
        CMyListCtrl& list = window.List();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualItemRect(list.topLevelItem(row)).center());
    }

    COnline online;
    nettest::CScopedEnvironment environment;
    std::vector<std::string> mainWindowPaths;
    CDownLoad window{online.context,
                     [this](const std::string& path) { mainWindowPaths.push_back(path); }};
    std::vector<std::string> boxes;
    std::vector<SSaveDialogRequest> requests;
    std::optional<std::string> saveAnswer;
};

int TextWidth(const QWidget& widget, const QString& text) {
    return QFontMetrics(widget.font()).horizontalAdvance(text);
}

// What a tooltip shows: Qt reads one that looks like markup as markup.
QString ShownTip(const QString& tip) {
    QTextDocument shown;
    Qt::mightBeRichText(tip) ? shown.setHtml(tip) : shown.setPlainText(tip);
    return shown.toPlainText();
}

} // namespace

// A server that never answers: holds each download until it is cancelled (at most 5 s), writing
// nothing, as the real downloaders do.
class CSilentDownloader final : public IDownloader {
public:
    using IDownloader::DownloadToFile;
    SDownloadStatus DownloadToFile(const std::string&, const std::string&,
                                   const SDownloadOptions& options) override {
        started = true;
        for (int waited = 0; waited < 5000; waited += 10) {
            if (options.cancel != nullptr && options.cancel->Cancelled()) {
                return {download_status::kCancelled, kCancelledText};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {static_cast<std::int32_t>(0x800C000Bu), "The server did not answer in time."};
    }
    std::atomic<bool> started{false};
};

class DownloadWindowTest : public QObject {
    Q_OBJECT

private slots:
    void openingSelectsRowZeroAndPointsTheLinkAtTheReleaseNotes() {
        CWindowBench w;
        CMyListCtrl& list = w.window.List();
        CHyperLink& link = w.window.Link();
        QCOMPARE(list.columnCount(), 6);
        QCOMPARE(list.headerItem()->text(5), "Note");
        QCOMPARE(list.topLevelItemCount(), 3);
        QCOMPARE(list.topLevelItem(2)->text(4), "http://files.test/f2.bin");
        QCOMPARE(list.currentIndex().row(), 0);
        QCOMPARE(list.GetFirstSelectedRow(), 0);
        QCOMPARE(w.SaveAs()->text(), w.InDownloads("fw-k6.bin"));
        QCOMPARE(link.text(), "K6 notes");
        QCOMPARE(link.toolTip(), kNotesUrl);
        QVERIFY(link.isVisible());
        QVERIFY(!link.font().underline());
        QCOMPARE(link.width(), TextWidth(link, "K6 notes")); // refitted to the entry's text
        QVERIFY(!w.Status()->isVisible());

        // Selected by the mouse: entry 0 now opens its own release address.
        w.ClickRow(2);
        QCOMPARE(w.SaveAs()->text(), w.InDownloads("fw-k8.bin"));
        QCOMPARE(link.width(), 0); // an empty release text: nothing visible
        w.ClickRow(0);
        QCOMPARE(link.State().strTarget, "http://notes.test/0");
        QCOMPARE(link.text(), "K6 notes");

        w.ClickRow(1); // no file name: no lone ".bin"
        QCOMPARE(w.SaveAs()->text(), "");
        QCOMPARE(link.text(), "K7 notes");
    }

    void aPathChosenWithBrowseIsReplacedByALaterSelection() {
        CWindowBench w;
        w.saveAnswer = "/home/user/chosen.bin";
        QTest::mouseClick(w.Button(1016), Qt::LeftButton);
        QCOMPARE(w.requests.size(), 1u);
        QCOMPARE(QString::fromStdString(w.requests[0].initialName), w.InDownloads("fw-k6"));
        QCOMPARE(w.SaveAs()->text(), "/home/user/chosen.bin");

        w.ClickRow(2);
        QCOMPARE(w.SaveAs()->text(), w.InDownloads("fw-k8.bin"));
        w.saveAnswer.reset(); // cancelled: nothing changes
        QTest::mouseClick(w.Button(1016), Qt::LeftButton);
        QCOMPARE(w.SaveAs()->text(), w.InDownloads("fw-k8.bin"));
    }

    void aFailedDownloadKeepsTheWindowOpen() {
        CWindowBench w;
        w.online.files.failures["http://files.test/f0.bin"] = {
            static_cast<std::int32_t>(0x800C0006u), "The server does not have this file."};
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        std::vector<bool> shownMeanwhile;
        w.online.files.onDownload = [&](const CFakeDownloader::SCall&) {
            // Set on the window's thread before the work started; read here, on the work's.
            shownMeanwhile.push_back(w.Status()->isVisible() && !w.Button(1)->isVisible());
        };
        QTest::mouseClick(w.Button(1), Qt::LeftButton);
        QCOMPARE(w.Status()->text(), "Download:http://files.test/f0.bin");
        QVERIFY(w.Button(1026)->isVisible() && !w.SaveAs()->isEnabled());
        QTRY_VERIFY(!w.window.Fetching());
        QCOMPARE(shownMeanwhile, std::vector<bool>{true});
        QCOMPARE(w.boxes, std::vector<std::string>{"Download failed.\n\nError = 0x800C0006\n\n"
                                                   "The server does not have this file."});
        QVERIFY(w.window.isVisible());
        QVERIFY(w.Button(1)->isEnabled());
        QVERIFY(!w.Status()->isVisible());
        QVERIFY(w.mainWindowPaths.empty());
        QVERIFY(w.SaveAs()->isEnabled() && !w.Button(1026)->isVisible());

        // Enter is the Download button too.
        QTest::keyClick(w.SaveAs(), Qt::Key_Return);
        QTRY_VERIFY(!w.window.Fetching());
        QCOMPARE(w.online.files.calls.size(), 2u);
    }

    // A file from a server that trickles it: the window answers a 10 ms timer all along, the
    // progress bar moves, and the file lands. Then Cancel, and closing the window, each end a
    // download within 100 ms, with no part file and the old file untouched.
    void aSlowDownloadKeepsTheWindowAnsweringAndCancelEndsIt() {
        nettest::CScopedEnvironment environment;
        nettest::KeepLoopbackOffProxies(environment);
        nettest::CLoopbackHttpServer server;
        const std::vector<std::uint8_t> file =
            Pack(EPackVariant::TripleDes, SHeaderFields{}, PatternPayload(640, 3)).bytes;
        nettest::CLoopbackHttpServer::SRoute slow;
        slow.mode = decltype(slow)::EMode::Trickle;
        slow.body.assign(file.begin(), file.end());
        slow.piece = file.size() / 40 + 1; // 40 pieces, 50 ms apart: about 2 s
        slow.pauseMs = 50;
        server.Route("/slow.bin", slow);
        COnline online;
        CCurlDownloader curl(kFileDownloadLimits);
        SOnlineContext context{online.catalogues, curl,         online.ini,
                               kServers,          online.links, online.tempFiles};
        std::ofstream(online.dir.File("fetched.ini"))
            << "[File List]\nCountEx=1\nURL0=" << server.BaseUrl() << "/slow.bin\n";
        const std::string target = online.dir.File("target.bin");
        const std::vector<std::uint8_t> old{'o', 'l', 'd'};

        for (const std::string ending : {"whole", "cancel", "close"}) {
            std::ofstream(target) << "old";
            std::vector<std::string> paths;
            CDownLoad window(context, [&](const std::string& path) { paths.push_back(path); });
            window.messageBoxHandler = [](const std::string& text) { QFAIL(text.c_str()); };
            window.Initialize(online.dir.File("fetched.ini"));
            window.findChild<QLineEdit*>("ctl1002")->setText(QString::fromStdString(target));
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            auto* progress = window.findChild<QProgressBar*>("ctl1025");
            auto* cancel = window.findChild<QPushButton*>("ctl1026");
            QElapsedTimer clock;
            qint64 last = 0, largestGap = 0, stopped = 0;
            int progressSeen = 0;
            QTimer heartbeat;
            QObject::connect(&heartbeat, &QTimer::timeout, [&] {
                largestGap = std::max(largestGap, clock.elapsed() - last);
                last = clock.elapsed();
                progressSeen = std::max(progressSeen, progress->value());
            });
            clock.start();
            heartbeat.start(10);
            QTest::mouseClick(window.findChild<QPushButton*>("ctl1"), Qt::LeftButton);
            QVERIFY(progress->isVisible() && cancel->isVisible());
            if (ending == "whole") {
                QVERIFY(QTest::qWaitFor([&] { return !window.isVisible(); }, 10000));
                QVERIFY(clock.elapsed() > 1000); // it was slow
                QVERIFY(progressSeen > 0);
                QCOMPARE(ReadBytes(target), file);
                QCOMPARE(paths, std::vector<std::string>{target});
            } else {
                QTest::qWait(500);
                QVERIFY(window.Fetching());
                const qint64 pressed = clock.elapsed();
                if (ending == "cancel") {
                    QTest::mouseClick(cancel, Qt::LeftButton);
                    QVERIFY(QTest::qWaitFor([&] { return !window.Fetching(); }, 1000));
                    QVERIFY(window.isVisible() &&
                            window.findChild<QPushButton*>("ctl1")->isVisible());
                } else {
                    window.reject();
                }
                stopped = clock.elapsed() - pressed;
                QVERIFY(!window.Fetching() && stopped < 100);
                QCOMPARE(ReadBytes(target), old);
                QVERIFY(paths.empty());
            }
            qInfo("%s: largest heartbeat gap %lld ms, ended %lld ms after it was asked to",
                  ending.c_str(), largestGap, stopped);
            QVERIFY(largestGap < 100);
            // No part file beside the target.
            QCOMPARE(std::distance(std::filesystem::directory_iterator(online.dir.Path()), {}), 2);
        }
    }

    // The window shows busy while its catalogue is fetched, and closing it ends the fetch.
    void closingTheWindowEndsItsFetch() {
        COnline online;
        CSilentDownloader silent;
        SOnlineContext waiting{silent,   online.files, online.ini,
                               kServers, online.links, online.tempFiles};
        CDownLoad window(waiting, {});
        window.InitializeFetching();
        window.show();
        QVERIFY(window.Fetching());
        QVERIFY(!window.findChild<QPushButton*>("ctl1")->isEnabled());
        QCOMPARE(window.findChild<QLabel*>("ctl1022")->text(), "Loading the list of updates...");
        QTRY_VERIFY(silent.started);
        QElapsedTimer closing;
        closing.start();
        window.reject();
        QVERIFY(closing.elapsed() < 500);
        QVERIFY(!window.Fetching());
        QVERIFY(online.tempFiles.Live().empty());
    }

    void theLinkIsSetUpWhenAttached() {
        QWidget parent;
        auto* link = new CHyperLink("", &parent);
        link->setGeometry(10, 10, 300, 40);
        link->SetTarget("http://primary.test/new");
        link->DropUnderline();
        QCOMPARE(link->geometry(), QRect(10, 10, 300, 40)); // not attached yet: fields only
        link->Attach();
        QCOMPARE(link->text(), "http://primary.test/new");
        QCOMPARE(link->toolTip(), "http://primary.test/new");
        QVERIFY(!link->font().underline());
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(link->width(), TextWidth(*link, link->text()));
    }

    void theLinkFitsItsText_data() {
        QTest::addColumn<int>("alignment");
        QTest::addColumn<QString>("kept");
        QTest::newRow("plain") << int(Qt::AlignLeft | Qt::AlignTop) << "left edge";
        QTest::newRow("right") << int(Qt::AlignRight | Qt::AlignTop) << "right edge";
        QTest::newRow("centred") << int(Qt::AlignHCenter | Qt::AlignTop) << "centre";
        QTest::newRow("centre-image") << int(Qt::AlignLeft | Qt::AlignVCenter) << "middle";
    }
    void theLinkFitsItsText() {
        QFETCH(int, alignment);
        QFETCH(QString, kept);
        QWidget parent;
        auto* link = new CHyperLink("Release notes", &parent);
        link->setAlignment(Qt::Alignment(alignment));
        const QRect place(20, 10, 300, 60);
        link->setGeometry(place);
        link->Attach();
        const QRect fitted = link->geometry();
        const int w = TextWidth(*link, "Release notes");
        const int h = link->fontMetrics().height();
        // Centring moves both edges by the same whole number of pixels: one more is left over
        // when the difference is odd.
        QCOMPARE(fitted.width(), kept == "centre" ? w + (place.width() - w) % 2 : w);
        QCOMPARE(fitted.height(), kept == "middle" ? h + (place.height() - h) % 2 : h);
        QCOMPARE(fitted.top(), kept == "middle" ? place.top() + (place.height() - h) / 2 : 10);
        if (kept == "right edge") {
            QCOMPARE(fitted.x() + fitted.width(), place.x() + place.width());
        } else if (kept == "centre") {
            QCOMPARE(fitted.x(), place.x() + (place.width() - w) / 2);
        } else {
            QCOMPARE(fitted.x(), place.x());
        }
    }

    void theLinkColoursFollowThePointerAndTheLastClick() {
        QWidget parent;
        parent.resize(400, 100);
        auto* link = new CHyperLink("http://notes.test/", &parent);
        link->setGeometry(10, 10, 200, 20);
        CFakeShell shell;
        link->SetShell(shell);
        int beeps = 0;
        std::vector<std::string> boxes;
        link->beepHandler = [&] { ++beeps; };
        link->messageBoxHandler = [&](const std::string& text) { boxes.push_back(text); };
        link->Attach();
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        const QColor hover = parent.palette().color(QPalette::Active, QPalette::Highlight);
        const auto colour = [&] { return link->palette().color(QPalette::WindowText); };
        const auto enter = [&] { QTest::mouseMove(link, link->rect().center()); };
        const auto leave = [&] { QTest::mouseMove(&parent, QPoint(390, 90)); };

        QCOMPARE(colour(), kNormal);
        enter();
        QCOMPARE(colour(), hover);
        leave();
        QCOMPARE(colour(), kNormal);

        // Without a target of its own the link opens its text.
        enter();
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(shell.log, std::vector<std::string>{"open http://notes.test/"});
        QCOMPARE(colour(), hover);
        leave();
        QCOMPARE(colour(), kVisited);

        // A failed open: a beep, the reason, and the normal colour again.
        shell.openCode = 2;
        enter();
        QTest::mouseClick(link, Qt::LeftButton, {}, link->rect().center());
        QCOMPARE(beeps, 1);
        QCOMPARE(boxes, std::vector<std::string>{
                            "Unable to open hyperlink:\n\nThe specified file was not found."
                            "\n\nhttp://notes.test/"});
        leave();
        QCOMPARE(colour(), kNormal);
    }

    // Columns as wide as their texts, each cell's text as its tooltip (never read as markup),
    // names of any script; a window larger than its template gives the list the room. An empty
    // catalogue says so.
    void theListFitsItsTextsAndGrowsWithTheWindow() {
        const std::string name = "K4_\xC3\x9Cn\xC3\xAF"
                                 "c\xC3\xB8"
                                 "d\xC3\xA9_\xE5\x85\x85\xE7\x94\xB5\xE5\x99\xA8";
        CWindowBench w("[File List]\nCountEx=1\nType0=Kelvorin K4 <b>charger</b> family\nUpdated0="
                       "2026-11-30 14:05\nFileName0=" +
                       name + "\n");
        CMyListCtrl& list = w.window.List();
        QHeaderView* header = list.header();
        for (const int column : {0, 3}) {
            const QString text = list.topLevelItem(0)->text(column);
            QVERIFY(header->sectionSize(column) > TextWidth(list, text));
            QCOMPARE(ShownTip(list.topLevelItem(0)->toolTip(column)), text);
        }
        QCOMPARE(w.SaveAs()->text(), w.InDownloads(name + ".bin"));
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QSize least = w.window.size();
        const QRect listAt = list.geometry();
        const QRect exitAt = w.Button(2)->geometry();
        w.window.resize(least + QSize(200, 100));
        QTRY_COMPARE(list.geometry(), listAt.adjusted(0, 0, 200, 100));
        QCOMPARE(w.Button(2)->geometry(), exitAt.translated(200, 100));
        QCOMPARE(w.window.minimumSize(), least);

        CWindowBench empty("");
        QCOMPARE(empty.Status()->text(), "The server offers no update files.");
        QVERIFY(empty.Status()->isVisible() && !empty.Button(1)->isEnabled());
    }

    void theListsLastColumnReachesTheRightEdge() {
        CMyListCtrl list;
        list.resize(400, 200);
        for (std::size_t i = 0; i < kDownloadColumns.size(); ++i) {
            list.InsertColumn(static_cast<int>(i), kDownloadColumns[i].heading,
                              kDownloadColumns[i].widthPx);
        }
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QHeaderView* header = list.header();
        const auto rightEnd = [&] { return header->sectionPosition(5) + header->sectionSize(5); };

        // 625 pixels of other columns in a 400-pixel list: the heading's width stays.
        QCOMPARE(header->sectionSize(5), header->sectionSizeHint(5));
        QVERIFY(header->sectionSize(5) > TextWidth(*header, "Note"));

        header->resizeSection(4, 20); // a divider dragged: 345 pixels are left of "Note"
        QCOMPARE(rightEnd(), list.viewport()->width());
        list.resize(700, 200);
        QCOMPARE(rightEnd(), list.viewport()->width());
        list.resize(450, 200);
        QCOMPARE(rightEnd(), list.viewport()->width());
    }

    void aDownloadFromTheMainWindowLoadsTheFile() {
        COnline online;
        online.catalogues.contents[kServers.PrimaryCatalogueUrl()] = kCatalogue;
        CVirtualClock clock;
        sim::CSimBench bench{clock};
        CDeviceEnumerator enumerator{bench, bench};
        CFixedNonces nonces{{1}};
        SDeviceListState devices;
        CrenovixDlg* mainWindow = nullptr;
        std::function<void(CDownLoad&)> prepare;
        std::atomic<bool> serverAnswers{false};
        const auto checkForNewRelease = [&](const CCancelToken& cancel) {
            for (int waited = 0; !serverAnswers && waited < 5000; waited += 10) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return NewReleaseAddress(online.context, cancel);
        };
        const auto openDownloadWindow = [&] {
            CDownloadWindowHost host(*mainWindow, online.context);
            host.prepareWindow = prepare;
            host.OpenAtOnce();
        };
        SMainWindowServices services{enumerator,
                                     bench,
                                     clock,
                                     nonces,
                                     checkForNewRelease,
                                     openDownloadWindow,
                                     nullptr,
                                     [&bench] { return bench.TakeDevicesChanged(); }};
        CrenovixDlg window(devices, services);
        mainWindow = &window;
        std::vector<SMessageBoxCall> boxes;
        window.messageBoxHandler = [&](const std::string& text, const std::string& title,
                                       EMessageIcon icon) {
            boxes.push_back({text, title, icon, 0});
        };
        window.Initialize();
        window.show();

        // Download pressed while the start-up check waits for its server: the check goes on, and
        // V2.2 shows the link, without underline, while the download window is open. (The fake
        // serves one fetch at a time: the window's first.)
        auto* releaseLink = window.findChild<CHyperLink*>("ctl1023");
        bool linkShownMeanwhile = false;
        prepare = [&](CDownLoad& download) {
            download.messageBoxHandler = [&](const std::string& text) {
                boxes.push_back({text, "", EMessageIcon::None, 0});
            };
            auto* poll = new QTimer(&download);
            QObject::connect(poll, &QTimer::timeout, &download, [&] {
                serverAnswers = serverAnswers || !download.Fetching();
                if (releaseLink->isVisible()) {
                    linkShownMeanwhile = true;
                    download.reject();
                }
            });
            poll->start(10);
            QTimer::singleShot(5000, &download, &QDialog::reject); // never hang the test
        };
        QVERIFY(!releaseLink->isVisible());
        QTest::mouseClick(window.findChild<QPushButton*>("ctl1016"), Qt::LeftButton);
        QVERIFY(linkShownMeanwhile);
        QVERIFY(boxes.empty());
        QCOMPARE(releaseLink->State().strTarget, "http://primary.test/new");
        QVERIFY(!releaseLink->font().underline());

        // Both servers down: the window opens busy, then the message, and it closes.
        online.catalogues.contents.clear();
        int windowsOpened = 0;
        prepare = [&](CDownLoad& download) {
            ++windowsOpened;
            download.messageBoxHandler = [&](const std::string& text) {
                boxes.push_back({text, "", EMessageIcon::None, 0});
            };
            QTimer::singleShot(5000, &download, &QDialog::reject); // never hang the test
        };
        QTest::mouseClick(window.findChild<QPushButton*>("ctl1016"), Qt::LeftButton);
        QCOMPARE(boxes.size(), 1u);
        QVERIFY(boxes[0].text.starts_with("Connecting server failed.\n\nError = 0x800C0004"));
        QCOMPARE(windowsOpened, 1);
        QVERIFY(online.tempFiles.Live().empty());
        boxes.clear();

        // The window opens, the user types where to save and presses Download.
        online.catalogues.contents[kServers.PrimaryCatalogueUrl()] = kCatalogue;
        SHeaderFields fields;
        fields.version = "V1.07";
        const std::vector<std::uint8_t> file =
            Pack(EPackVariant::TripleDes, fields, PatternPayload(640, 3)).bytes;
        online.files.contents["http://files.test/f0.bin"] = std::string(file.begin(), file.end());
        const std::string savePath = online.dir.File("saved.bin");
        int result = -1;
        prepare = [&](CDownLoad& download) {
            download.messageBoxHandler = [&](const std::string& text) {
                boxes.push_back({text, "", EMessageIcon::None, 0});
            };
            QObject::connect(&download, &QDialog::finished, [&](int code) { result = code; });
            // The user waits for the list before typing where to save.
            auto* ready = new QTimer(&download);
            QObject::connect(ready, &QTimer::timeout, &download, [&download, &savePath, ready] {
                if (download.Fetching()) {
                    return;
                }
                ready->stop();
                auto* saveAs = download.findChild<QLineEdit*>("ctl1002");
                saveAs->clear();
                QTest::keyClicks(saveAs, QString::fromStdString(savePath));
                QTest::mouseClick(download.findChild<QPushButton*>("ctl1"), Qt::LeftButton);
            });
            ready->start(10);
            QTimer::singleShot(5000, &download, &QDialog::reject); // never hang the test
        };
        QTest::mouseClick(window.findChild<QPushButton*>("ctl1016"), Qt::LeftButton);
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(boxes.size(), 0u);
        QCOMPARE(ReadBytes(savePath), file);
        QCOMPARE(window.GetText(ctl::kPath), savePath);
        QCOMPARE(window.GetText(ctl::kVersionText), "V1.07");
    }
};

QTEST_MAIN(DownloadWindowTest)
#include "DownloadWindowTest.moc"
