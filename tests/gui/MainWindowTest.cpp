// The Qt window driven as a person would: clicks, typing and picked files, against simulated
// chargers on a virtual clock, with message boxes and the file dialog answered by the test.
#include "app/DialogTemplate.h"
#include "app/StartUp.h"
#include "device/SerialEnumeration.h"
#include "gui/qt/CDownLoad.h"
#include "gui/qt/CHyperLink.h"
#include "gui/qt/CMyListCtrl.h"
#include "gui/qt/CStationView.h"
#include "gui/qt/CrenovixDlg.h"
#include "gui/qt/LogindInhibitor.h"
#include "gui/qt/ProgramServices.h"
#include "gui/qt/TemplateWidgets.h"
#include "net/LoopbackHttpServer.h"
#include "net/ScopedEnvironment.h"
#include "online/Catalogue.h"
#include "online/linux/CurlDownloader.h"
#include "online/linux/PosixTempFiles.h"
#include "protocol/UpdateRun.h"
#include "sim/DemoChargers.h"
#include "support/BenchRunDevices.h"
#include "support/FakeDownloader.h"
#include "support/FakeTempFiles.h"
#include "support/FakeUpdateWindow.h"
#include "support/SteppedClock.h"
#include "support/TempDir.h"
#include "support/UpdateFilePacker.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtDBus/QDBusMessage>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace crenovix;
using namespace crenovix::testsupport;

namespace {

constexpr std::array<int, 5> kRunLocked = {ctl::kPath, ctl::kOpen, ctl::kDownload, ctl::kComPorts,
                                           ctl::kDeviceList};

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// The window on a desk of simulated chargers whose clock moves only when the run waits, in step
// with the window's loop (CSteppedClock), so chargers restart at once. A zero timer stands in for
// the system's device notifications, as the demo mode's poll does; `duringRun` runs from it while
// an update is in progress.
class CWindowBench {
public:
    explicit CWindowBench(const char* chargers) {
        sim::AddDemoChargers(bench, chargers);
        bench.TakeDevicesChanged();
        window.messageBoxHandler = [this](const std::string& text, const std::string& title,
                                          EMessageIcon icon) {
            boxes.push_back({text, title, icon, clock.Now()});
        };
        window.fileDialogHandler = [this]() -> std::optional<std::string> {
            if (picks.empty()) {
                return std::nullopt;
            }
            const std::string path = picks.front();
            picks.pop_front();
            return path;
        };
        auto* timer = new QTimer(&window);
        QObject::connect(timer, &QTimer::timeout, &window, [this] {
            clock.Turn();
            if (duringRun && window.Logic().IsRunning()) {
                duringRun();
            }
            if (bench.TakeDevicesChanged()) {
                window.Logic().OnDeviceChange(EDeviceChange::NodesChanged);
            }
        });
        timer->start(0);
        window.Initialize();
        window.show();
    }
    ~CWindowBench() { clock.Release(); } // a run still under way ends without the loop

    template <typename T = QWidget>
    T* Get(int id) {
        T* widget = window.findChild<T*>(QStringLiteral("ctl%1").arg(id));
        if (widget == nullptr) {
            qFatal("no control %d", id);
        }
        return widget;
    }
    bool Shown(int id) { return !Get(id)->isHidden(); }
    bool Enabled(int id) { return Get(id)->isEnabled(); }
    QString Text(int id) { return Get<QLabel>(id)->text(); }
    QStringList Lines() {
        QStringList lines;
        for (int i = 0; i < Get<QListWidget>(ctl::kDeviceList)->count(); ++i) {
            lines << Get<QListWidget>(ctl::kDeviceList)->item(i)->text();
        }
        return lines;
    }
    void Pick(const std::string& path) {
        picks.push_back(path);
        QTest::mouseClick(Get<QPushButton>(ctl::kOpen), Qt::LeftButton);
    }
    void Click(int id) { QTest::mouseClick(Get<QPushButton>(id), Qt::LeftButton); }
    void ClickBox() {
        auto* box = Get<QCheckBox>(ctl::kComPorts);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }

    CSteppedClock clock;
    sim::CSimBench bench{clock};
    CDeviceEnumerator enumerator{bench, bench};
    CFixedNonces nonces{{0x1234, 0x0042, 0x7FFF}};
    SDeviceListState devices;
    qt::CrenovixDlg window{devices, {enumerator, bench, clock, nonces, {}, {}, nullptr, [this] {
                                         return bench.TakeDevicesChanged();
                                     }}};
    std::vector<SMessageBoxCall> boxes;
    std::deque<std::string> picks;
    std::function<void()> duringRun;
};

// The station window on a desk of simulated chargers, in step with the window's loop as
// CWindowBench is; the zero timer stands in for the device notices.
class CStationBench {
public:
    struct SInhibitor final : ISleepInhibitor {
        void Acquire() override { ++held; }
        void Release() override { --held; }
        int held = 0;
    };

    explicit CStationBench(const char* chargers, const std::string& path) {
        view.Logic().SetSleepInhibitor(&inhibitor);
        sim::AddDemoChargers(bench, chargers);
        bench.TakeDevicesChanged();
        auto* timer = new QTimer(&view);
        QObject::connect(timer, &QTimer::timeout, &view, [this] {
            clock.Turn();
            if (duringRun) {
                duringRun();
            }
            if (bench.TakeDevicesChanged()) {
                view.Logic().OnDeviceChange(EDeviceChange::NodesChanged);
            }
        });
        timer->start(0);
        view.Initialize(path);
        view.show();
    }
    ~CStationBench() { clock.Release(); }

    // The list's rows, each as its cells joined by "|" (the progress column as its bar says).
    QStringList Rows() {
        QStringList rows;
        qt::CMyListCtrl& list = view.List();
        for (int row = 0; row < list.topLevelItemCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < list.columnCount(); ++column) {
                auto* bar =
                    qobject_cast<QProgressBar*>(list.itemWidget(list.topLevelItem(row), column));
                cells << (bar != nullptr ? bar->text() : list.topLevelItem(row)->text(column));
            }
            rows << cells.join('|');
        }
        return rows;
    }
    QString State(int row) { return view.List().topLevelItem(row)->text(kColState); }
    void Click(int id) {
        QTest::mouseClick(static_cast<QAbstractButton*>(view.Control(id)), Qt::LeftButton);
    }
    std::vector<std::uint8_t> Stored(bool hid, std::size_t index) {
        const sim::CSimChargerBase& charger =
            hid ? static_cast<sim::CSimChargerBase&>(bench.HidCharger(index))
                : bench.SerialCharger(index);
        return charger.Results().payload;
    }

    std::function<void()> duringRun;
    SInhibitor inhibitor;
    CSteppedClock clock;
    sim::CSimBench bench{clock};
    CDeviceEnumerator enumerator{bench, bench};
    qt::CStationView view{
        SStationServices{enumerator,
                         [this] { return std::make_unique<CBenchRunDevices>(bench); },
                         clock,
                         [] { return 7u; },
                         nullptr,
                         {}}};
};

// Clicks `button` and serves the event loop until `running` says no more (at most 30 s), with a
// 10 ms heartbeat on it; the longest gap between two beats.
std::chrono::steady_clock::duration LongestHeartbeatGap(const char* what, QWidget* button,
                                                        const std::function<bool()>& running) {
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::duration<double, std::milli>;
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longest = std::max(longest, Clock::now() - last);
        last = Clock::now();
    });
    heartbeat.start(10);
    const Clock::time_point start = Clock::now();
    QTest::mouseClick(button, Qt::LeftButton);
    while (running() && Clock::now() - start < std::chrono::seconds(30)) {
        QTest::qWait(5);
    }
    heartbeat.stop();
    qInfo("%s update of %.0f ms: longest heartbeat gap %.1f ms", what,
          Ms(Clock::now() - start).count(), Ms(longest).count());
    return longest;
}

// The visible labels, buttons and links of `window` whose text does not fit their size, or that
// reach into the window's margin.
QStringList CutTexts(QWidget& window) {
    const QFontMetrics windowMetrics(window.font());
    const SDialogUnits units = DialogUnitsFromFont(
        windowMetrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
        windowMetrics.height());
    const QRect inside = window.rect().adjusted(units.X(6), units.Y(6), -units.X(6), -units.Y(6));
    QStringList cut;
    for (QWidget* widget : window.findChildren<QWidget*>()) {
        auto* label = qobject_cast<QLabel*>(widget);
        auto* button = qobject_cast<QAbstractButton*>(widget);
        const QString text = label != nullptr ? label->text() : button ? button->text() : "";
        if (!widget->isVisibleTo(&window) || text.isEmpty()) {
            continue;
        }
        QSize need;
        QSize room = widget->size();
        if (label != nullptr) {
            need = label->wordWrap() ? QSize(0, label->heightForWidth(label->width()))
                                     : label->sizeHint();
        } else {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = text;
            const bool box = qobject_cast<QCheckBox*>(button) != nullptr;
            need = QFontMetrics(button->font()).size(Qt::TextShowMnemonic, text);
            room.setWidth(button->style()
                              ->subElementRect(box ? QStyle::SE_CheckBoxContents
                                                   : QStyle::SE_PushButtonContents,
                                               &option, button)
                              .width());
        }
        if (need.width() > room.width() || need.height() > room.height()) {
            cut << text + " cut";
        }
        if (!inside.contains(widget->geometry())) {
            cut << text + " in the margin";
        }
    }
    return cut;
}

} // namespace

// logind's Inhibit on a private bus, answered only when the test says so.
class CFakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QList<QDBusMessage> asked;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString&, const QString&, const QString&, const QString&,
                                    const QDBusMessage& message) {
        message.setDelayedReply(true);
        asked << message;
        return {};
    }
};

class MainWindowTest : public QObject {
    Q_OBJECT

    CTempDir dir_;

    std::string ValidFile(const std::string& name, const std::string& version = "V1.05") {
        SHeaderFields fields;
        fields.version = version;
        WriteBytes(dir_.File(name),
                   Pack(EPackVariant::TripleDes, fields, PatternPayload(640, 7)).bytes);
        return dir_.File(name);
    }

private slots:
    // "Save diagnostic..." leaves the fixed layout alone: the window's context menu and
    // Ctrl+Shift+D; before any run it says that there is nothing to save.
    void saveDiagnosticIsInTheContextMenu() {
        CVirtualClock clock;
        sim::CSimBench bench{clock};
        CDeviceEnumerator enumerator{bench, bench};
        CFixedNonces nonces{{1}};
        SDeviceListState devices;
        qt::CrenovixDlg window{devices, {enumerator, bench, clock, nonces, {}, {}, nullptr, {}}};
        std::vector<std::string> boxes;
        window.messageBoxHandler = [&boxes](const std::string& text, const std::string&,
                                            EMessageIcon) { boxes.push_back(text); };
        window.Initialize();
        QCOMPARE(window.contextMenuPolicy(), Qt::CustomContextMenu);
        QVERIFY(window.actions().contains(window.SaveDiagnosticAction()));
        QCOMPARE(window.SaveDiagnosticAction()->shortcut(),
                 QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
        window.SaveDiagnosticAction()->trigger();
        QCOMPARE(boxes.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(boxes[0]), QString(kNoDiagnosticText));
        // The update log's entries beside it: checked while the log is kept, and greyed where
        // the window has no way to change the setting.
        const std::unique_ptr<QMenu> menu = window.ContextMenu();
        QStringList texts;
        for (const QAction* action : menu->actions()) {
            texts << action->text();
        }
        QCOMPARE(texts, QStringList({"Save &diagnostic...", "&Station view...", "",
                                     "Keep update &log", "Update log &file..."}));
        QVERIFY(menu->actions()[3]->isCheckable() && menu->actions()[3]->isChecked());
        QVERIFY(!menu->actions()[3]->isEnabled() && !menu->actions()[4]->isEnabled());
    }

    // The window never waits on the network: with servers that accept and never answer, it is
    // shown and handles events as soon as with no server configured at all, shows the link when
    // the answer comes, and closing it during the check ends the check and leaves no file.
    void startUpDoesNotWaitForTheServers() {
        using Clock = std::chrono::steady_clock;
        nettest::CScopedEnvironment environment;
        nettest::KeepLoopbackOffProxies(environment);
        const std::filesystem::path folder = dir_.Path() / "start-up";
        std::filesystem::create_directory(folder);
        environment.Set("TMPDIR", folder.string()); // where the catalogue's temporary file goes
        nettest::CLoopbackHttpServer server;
        nettest::CLoopbackHttpServer::SRoute silent;
        silent.mode = nettest::CLoopbackHttpServer::SRoute::EMode::Silent;
        server.Route(kCataloguePath, silent);
        CCurlDownloader catalogues(kCatalogueDownloadLimits);
        CCurlDownloader files(kFileDownloadLimits);
        CIniFileReader ini;
        CPosixTempFiles tempFiles;
        ReleaseLinkTable links{};
        SOnlineContext online{catalogues, files,    ini, {server.BaseUrl(), server.BaseUrl()},
                              links,      tempFiles};

        double withoutServer = 0;
        int requests = 0;
        // Twice each, side by side: the first window of a process pays for fonts and styles.
        for (const bool withServer : {false, true, false, true}) {
            CVirtualClock clock;
            sim::CSimBench bench{clock};
            CDeviceEnumerator enumerator{bench, bench};
            CFixedNonces nonces{{1}};
            SDeviceListState devices;
            std::function<std::optional<std::string>(const CCancelToken&)> check;
            if (withServer) {
                check = [&online](const CCancelToken& cancel) {
                    return NewReleaseAddress(online, cancel);
                };
            }
            const Clock::time_point start = Clock::now();
            qt::CrenovixDlg window{devices,
                                   {enumerator, bench, clock, nonces, check, {}, nullptr, {}}};
            window.Initialize();
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            bool answered = false;
            QTimer::singleShot(0, &window, [&answered] { answered = true; });
            QTRY_VERIFY_WITH_TIMEOUT(answered, 5000);
            const auto shown = std::chrono::duration<double, std::milli>(Clock::now() - start);
            qInfo("shown and answering after %.1f ms (%s)", shown.count(),
                  withServer ? "a server that never answers" : "no server configured");
            // The goal is 500 ms; the bound leaves room for a loaded test machine and still
            // fails a window that waits for one fetch attempt (2.5 s).
            QVERIFY(shown.count() < 1500);
            if (!withServer) {
                withoutServer = shown.count();
            } else {
                QVERIFY(shown.count() < withoutServer + 250);
            }

            if (withServer) { // closed while the check waits for the server
                ++requests;
                QTRY_COMPARE(server.Requests(kCataloguePath), requests);
            }
            const Clock::time_point closing = Clock::now();
            window.close();
            QVERIFY(Clock::now() - closing < std::chrono::milliseconds(500));
            QVERIFY(std::filesystem::is_empty(folder));
        }
        QCOMPARE(server.Requests(kCataloguePath), 2); // no second attempt after the close
    }

    void updateWaitsForACharger() {
        CWindowBench w("");
        QCOMPARE(w.Lines(), QStringList{"Device not found!"});
        w.Pick(ValidFile("a.bin"));
        QCOMPARE(w.Text(ctl::kVersionText), "V1.05");
        QVERIFY(!w.Enabled(ctl::kUpdate));

        sim::AddDemoChargers(w.bench, "hid");
        w.window.Logic().OnDeviceChange(EDeviceChange::Arrival);
        QCOMPARE(w.Lines(), QStringList{"Type: Kelvorin K4, S/N:SIM1001"});
        QCOMPARE(w.Get<QListWidget>(ctl::kDeviceList)->currentRow(), 0);
        QVERIFY(w.Enabled(ctl::kUpdate));
    }

    void fileInformationPanel() {
        CWindowBench w("hid");
        const auto expectPanel = [&](const QString& version, const QString& error) {
            for (const int id : {ctl::kVersionLabel, ctl::kTypeLabel, ctl::kMemoLabel}) {
                QCOMPARE(w.Shown(id), !version.isEmpty());
            }
            QCOMPARE(w.Text(ctl::kVersionText), version);
            QCOMPARE(w.Text(ctl::kTypeText), version.isEmpty() ? "" : "Kelvorin Test");
            QCOMPARE(w.Text(ctl::kMemoText), version.isEmpty() ? "" : "Test firmware");
            QCOMPARE(w.Text(ctl::kErrorLine), error);
            QCOMPARE(w.Shown(ctl::kErrorLine), !error.isEmpty());
            QCOMPARE(w.Enabled(ctl::kUpdate), !version.isEmpty());
        };
        const std::string valid = ValidFile("valid.bin", "V1.00");
        w.Pick(valid);
        expectPanel("V1.00", "");
        WriteBytes(dir_.File("format.bin"), PatternPayload(600, 5));
        w.Pick(dir_.File("format.bin"));
        expectPanel("", "File format error!");

        w.Pick(valid);
        ValidFile("valid.bin", "V2.00"); // the same path picked again loads again
        w.Pick(valid);
        expectPanel("V2.00", "");

        WriteBytes(dir_.File("big.bin"), std::vector<std::uint8_t>(kUpdateImageSize + 1));
        w.Pick(dir_.File("big.bin"));
        expectPanel("", "The file is big!");
        QVERIFY(w.boxes.empty());
    }

    void typingThePathLoadsTheHeader() {
        CWindowBench w("hid");
        const std::string path = ValidFile("typed.bin");
        QTest::keyClicks(w.Get<QLineEdit>(ctl::kPath), Q(path).chopped(4));
        QCOMPARE(w.Text(ctl::kVersionText), "");
        QCOMPARE(w.Text(ctl::kErrorLine), "Error open file"); // no such file yet: said, no box
        QVERIFY(w.Shown(ctl::kErrorLine));
        QTest::keyClicks(w.Get<QLineEdit>(ctl::kPath), ".bin");
        QCOMPARE(w.Text(ctl::kVersionText), "V1.05");
        QVERIFY(!w.Shown(ctl::kErrorLine));
        QVERIFY(w.Enabled(ctl::kUpdate));
        QVERIFY(w.boxes.empty());
    }

    void serialPortsBoxAddsAndRemovesPorts() {
        CWindowBench w("hid");
        w.bench.AddSerialPort("simtty7");
        w.Pick(ValidFile("a.bin"));
        const QStringList chargerOnly{"Type: Kelvorin K4, S/N:SIM1001"};
        QCOMPARE(w.Lines(), chargerOnly);
        w.ClickBox();
        QVERIFY(w.Get<QCheckBox>(ctl::kComPorts)->isChecked());
        QCOMPARE(w.Lines(), QStringList("Communications Port (simtty7)") + chargerOnly);
        QCOMPARE(w.devices.rows[0].strType, "COMx");
        w.ClickBox();
        QCOMPARE(w.Lines(), chargerOnly);
        QCOMPARE(w.Text(ctl::kVersionText), "V1.05");
        QVERIFY(w.Shown(ctl::kVersionLabel));
        QVERIFY(w.Enabled(ctl::kUpdate));
    }

    void wholeUpdate_data() {
        QTest::addColumn<QString>("charger");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<QString>("finalText");
        // 640 bytes of payload: 64-byte HID blocks, 16-byte serial frames.
        QTest::newRow("hid") << "hid" << 10 << R"(Upgrade completion! \(\d+\.\d\d Sec\))";
        QTest::newRow("serial") << "serial" << 40 << R"(Upgrade completion!)";
    }

    // Also: what a device change and closing the window do in the middle of a run. The refusal to
    // close is a notice that stays up while the run goes on at its own pace.
    void wholeUpdate() {
        QFETCH(QString, charger);
        QFETCH(int, blocks);
        QFETCH(QString, finalText);
        CWindowBench w(charger.toUtf8().constData());
        const QString path = Q(ValidFile("fw.bin"));
        w.Pick(path.toStdString());
        const QStringList before = w.Lines();
        QCOMPARE(before.size(), 1);

        QStringList statuses;
        QStringList problems;
        bool first = true;
        int progressAtNotice = -1;
        std::uint64_t clockAtNotice = 0;
        w.duringRun = [&] {
            if (!w.Shown(ctl::kStatus)) {
                problems << "status line hidden";
            }
            if (statuses.isEmpty() || statuses.last() != w.Text(ctl::kStatus)) {
                statuses << w.Text(ctl::kStatus);
            }
            for (const int id : kRunLocked) {
                if (w.Enabled(id)) {
                    problems << QString("control %1 enabled").arg(id);
                }
            }
            if (w.Enabled(ctl::kUpdate)) {
                problems << "Update enabled";
            }
            if (w.Lines() != before || w.Get<QListWidget>(ctl::kDeviceList)->currentRow() != 0) {
                problems << "list box changed";
            }
            if (std::exchange(first, false)) {
                if (w.window.close()) {
                    problems << "closed";
                }
                w.Click(ctl::kExit);
                progressAtNotice = w.Get<QProgressBar>(ctl::kProgress)->value();
                clockAtNotice = w.clock.Now();
                // A device arriving meanwhile: the run's own table takes it in, the list stays.
                sim::SSimHidConfig other;
                other.identity.strSerial = "SIM9009";
                other.identity.nHidPosition = 5;
                w.bench.AddHidCharger(other);
                w.window.Logic().OnDeviceChange(EDeviceChange::Arrival);
                QMessageBox* notice = w.window.Notice();
                if (notice == nullptr || !notice->isVisible() || notice->isModal() ||
                    notice->textFormat() != Qt::PlainText ||
                    notice->text() != kCloseDuringRunText || notice->windowTitle() != "Info") {
                    problems << "no notice as it should be";
                }
            } else if (w.window.Notice() == nullptr || !w.window.Notice()->isVisible()) {
                problems << "notice gone";
            }
            if (w.window.findChildren<QMessageBox*>().size() > 1) {
                problems << "a second notice"; // the second request reuses the first
            }
        };
        w.Click(ctl::kUpdate);
        QVERIFY(w.window.Logic().IsRunning()); // the button's handler returned at once
        QTRY_VERIFY(!w.window.Logic().IsRunning());

        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(", ")));
        const QStringList order{"Open file: " + path, "Connecting...", "Connecting again...",
                                "Upgrading ..."};
        QVERIFY2(!statuses.isEmpty() && statuses.last() == "Upgrading ...",
                 qPrintable(statuses.join(", ")));
        for (qsizetype i = 1; i < statuses.size(); ++i) {
            QVERIFY2(order.indexOf(statuses[i - 1]) < order.indexOf(statuses[i]),
                     qPrintable(statuses.join(", ")));
        }
        auto* progress = w.Get<QProgressBar>(ctl::kProgress);
        QCOMPARE(progress->maximum(), blocks);
        QCOMPARE(progress->value(), blocks - 1); // block k sets position k before it goes

        QVERIFY(progressAtNotice < blocks - 1); // the blocks after it went on
        QVERIFY(w.clock.Now() > clockAtNotice);
        QCOMPARE(w.boxes.size(), 1u);
        QVERIFY2(QRegularExpression("^" + finalText + "$").match(Q(w.boxes[0].text)).hasMatch(),
                 w.boxes[0].text.c_str());
        QCOMPARE(Q(w.boxes[0].title), "Success");
        QCOMPARE(w.boxes[0].icon, EMessageIcon::None);
        QTRY_VERIFY(w.window.Notice() == nullptr); // the notice goes when the run ends

        // The status line names what was written; the box keeps its own text.
        QVERIFY(w.Shown(ctl::kStatus));
        QVERIFY2(QRegularExpression("^Updated [^,]+, S/N:\\w+, on \\w+ to V1.05$")
                     .match(w.Text(ctl::kStatus))
                     .hasMatch(),
                 qPrintable(w.Text(ctl::kStatus)));
        QVERIFY(!w.Shown(ctl::kProgress));
        for (const int id : kRunLocked) {
            QVERIFY(w.Enabled(id));
        }
        QVERIFY(w.Lines().contains("Type: Kelvorin K4, S/N:SIM9009"));
        QCOMPARE(w.Get<QListWidget>(ctl::kDeviceList)->currentRow(), 0);
        QVERIFY(w.Enabled(ctl::kUpdate));
        QVERIFY(w.window.isVisible());
        QVERIFY(w.window.close());
    }

    // The demo desk's chargers in real time, as CRENOVIX_SIMULATE makes them: at every moment of
    // a whole update (boot request, restart wait, finding the charger again, blocks, box) the
    // window's event loop answers a 10 ms heartbeat within 100 ms; the station window's too,
    // while it writes two chargers at once.
    void windowAnswersThroughARealTimeUpdate() {
        WriteBytes(dir_.File("beat.bin"),
                   Pack(EPackVariant::TripleDes, {}, PatternPayload(640, 1)).bytes);
        for (const char* charger : {"hid", "serial"}) {
            CSteadyClock clock;
            sim::CSimBench bench{clock};
            QVERIFY(!sim::AddDemoChargers(bench, charger));
            bench.TakeDevicesChanged();
            CDeviceEnumerator enumerator{bench, bench};
            CFixedNonces nonces{{0x1234, 0x0042}};
            SDeviceListState devices;
            qt::CrenovixDlg window{devices,
                                   {enumerator, bench, clock, nonces, {}, {}, nullptr, [&bench] {
                                        return bench.TakeDevicesChanged();
                                    }}};
            std::vector<std::string> titles;
            window.messageBoxHandler = [&titles](const std::string&, const std::string& title,
                                                 EMessageIcon) { titles.push_back(title); };
            window.Initialize();
            window.show();
            window.Logic().SetPathAndLoad(dir_.File("beat.bin"));

            const auto longest =
                LongestHeartbeatGap(charger, window.Control(ctl::kUpdate),
                                    [&window] { return window.Logic().IsRunning(); });
            QCOMPARE(titles, std::vector<std::string>{"Success"});
            QVERIFY(longest < std::chrono::milliseconds(100));
        }

        // The station on the demo desk as the program makes it, every charger at once: its
        // runs share the desk the window lists, whose news reaches the window and the runs. The
        // HID chargers' restarts move the others' positions meanwhile; each run still writes its
        // own charger, and the refusing one is the one refused.
        std::string error;
        const auto services =
            CreateProgramServices(CreateSystemPlatform(), "hid,hid,serial,hid:refuse", error, 1);
        QVERIFY2(services != nullptr, error.c_str());
        qt::CStationView station(services->StationServices());
        qt::WatchDeviceChanges(*services, &station, [&] {
            station.Logic().OnDeviceChange(EDeviceChange::NodesChanged);
        });
        station.Initialize(dir_.File("beat.bin"));
        station.show();
        const auto longest =
            LongestHeartbeatGap("station", station.Control(station_ctl::kUpdateAll),
                                [&station] { return station.Logic().Station().Busy(); });
        QVERIFY(!station.Logic().Station().Busy());
        const std::vector<SStationRow> rows = station.Logic().Station().Rows();
        QCOMPARE(rows.size(), 4u);
        for (const SStationRow& row : rows) {
            const bool refuses = row.device.strSerial == "SIM1003";
            QVERIFY2(row.state == (refuses ? EStationState::Refused : EStationState::Done),
                     (row.device.strSerial + ": " + row.resultText).c_str());
        }
        QVERIFY(longest < std::chrono::milliseconds(100));
    }

    // The station: a row per charger with every column, "Update all" writes them at once (each
    // in a run of its own), every row ends with its state, result and time, and what each
    // charger stored is the file's payload. A charger that refuses the file shows "refused"
    // with the dialogue's message, and nothing of the payload reached it.
    void stationUpdatesEveryChargerAtOnce() {
        SHeaderFields fields;
        fields.version = "V1.05";
        const std::vector<std::uint8_t> payload =
            Pack(EPackVariant::TripleDes, fields, PatternPayload(640, 7)).loadedPayload;
        CStationBench s("hid,serial,hid:refuse", ValidFile("station.bin"));
        QStringList headings;
        for (int column = 0; column < s.view.List().columnCount(); ++column) {
            headings << s.view.List().headerItem()->text(column);
        }
        QCOMPARE(headings,
                 (QStringList{"Port", "Type", "S/N", "State", "Progress", "Result", "Time"}));
        QCOMPARE(s.Rows(), (QStringList{"simtty0|Kavro Kelvorin K4|SIM2001|waiting|0 %||",
                                        "HID1|Kelvorin K4|SIM1001|waiting|0 %||",
                                        "HID2|Kelvorin K4|SIM1002|waiting|0 %||"}));
        const auto label = [&s](int id) { return static_cast<QLabel*>(s.view.Control(id)); };
        QCOMPARE(label(station_ctl::kVersionText)->text(), "V1.05");
        QCOMPARE(label(station_ctl::kTypeText)->text(), "Kelvorin Test");
        QCOMPARE(label(station_ctl::kCodeText)->text(), "0x0A");
        QCOMPARE(label(station_ctl::kCounters)->text(), "Updated: 0    Failed: 0");

        int mostAtOnce = 0;
        int heldWhileRunning = 0;
        s.duringRun = [&] {
            heldWhileRunning = std::max(heldWhileRunning, s.inhibitor.held);
            int updating = 0;
            for (int row = 0; row < 3; ++row) {
                updating += s.State(row) == "updating" ? 1 : 0;
            }
            mostAtOnce = std::max(mostAtOnce, updating);
        };
        s.Click(station_ctl::kUpdateAll);
        QVERIFY(s.view.Logic().Station().Busy()); // the button's handler returned at once
        QVERIFY(!s.view.Control(station_ctl::kOpen)->isEnabled()); // the file is the runs'
        QTRY_VERIFY_WITH_TIMEOUT(!s.view.Logic().Station().Busy(), 20000);
        s.view.Logic().Refresh();
        QVERIFY2(mostAtOnce >= 2, qPrintable(QString::number(mostAtOnce)));
        QCOMPARE(heldWhileRunning, 1); // no sleep while chargers are written, once for all
        QCOMPARE(s.inhibitor.held, 0);

        const QStringList rows = s.Rows();
        const QRegularExpression done(
            R"(^(HID1|simtty0)\|[^|]+\|SIM\d+\|done\|100 %\|Upgrade completion!( \(\d+\.\d\d Sec\))?\|\d+:\d\d$)");
        QVERIFY2(done.match(rows[0]).hasMatch(), qPrintable(rows[0]));
        QVERIFY2(done.match(rows[1]).hasMatch(), qPrintable(rows[1]));
        QCOMPARE(rows[2].section('|', 3, 3), "refused");
        QCOMPARE(rows[2].section('|', 5, 5), run_text::kInconformity);
        QCOMPARE(s.Stored(true, 0), payload);
        QCOMPARE(s.Stored(false, 0), payload);
        QCOMPARE(s.bench.HidCharger(1).Results().nCompleted, 0);
        QCOMPARE(label(station_ctl::kCounters)->text(), "Updated: 2    Failed: 1");
        QVERIFY(s.view.Control(station_ctl::kOpen)->isEnabled());
    }

    // Automatic: every charger that appears is written once, without a click; one that stays
    // plugged (through its restart into the new firmware too) is not written again.
    void stationAutomaticUpdatesEachNewChargerOnce() {
        CStationBench s("hid", ValidFile("automatic.bin"));
        s.Click(station_ctl::kAutomatic);
        QTRY_COMPARE_WITH_TIMEOUT(s.bench.HidCharger(0).Results().nCompleted, 1, 20000);
        sim::SSimHidConfig other;
        other.identity.byModelCode = sim::kDemoModelCode;
        other.identity.strType = sim::kDemoType;
        other.identity.strSerial = "SIM9009";
        other.identity.nHidPosition = 5;
        s.bench.AddHidCharger(other);
        QTRY_COMPARE_WITH_TIMEOUT(s.bench.HidCharger(1).Results().nCompleted, 1, 20000);
        QTRY_VERIFY(!s.view.Logic().Station().Busy());
        s.clock.Advance(5000); // both restart into their new firmware and are back
        QTest::qWait(300);
        QCOMPARE(s.bench.HidCharger(0).Results().nCompleted, 1);
        QCOMPARE(s.bench.HidCharger(1).Results().nCompleted, 1);
        s.view.Logic().Refresh();
        QCOMPARE(s.Rows().size(), 2);
        QCOMPARE(s.State(0), "done");
        QCOMPARE(s.State(1), "done");
        QCOMPARE(s.view.List().topLevelItem(1)->text(kColSerial), "SIM9009");
    }

    // Two chargers, the second chosen: the run writes it, the list selects it again afterwards
    // (although it restarted under another port name), and a second Update writes it again.
    void theChosenChargerStaysChosen() {
        CWindowBench w("hid,hid");
        w.Pick(ValidFile("fw.bin"));
        QCOMPARE(w.Lines().size(), 2);
        auto* list = w.Get<QListWidget>(ctl::kDeviceList);
        list->setCurrentRow(1);
        const QString chosen = w.Lines()[1];
        const std::string serial = chosen.mid(chosen.indexOf("S/N:") + 4).toStdString();
        auto payloads = [&w] {
            return std::vector<int>{w.bench.HidCharger(0).Results().nCompleted,
                                    w.bench.HidCharger(1).Results().nCompleted};
        };
        for (int run = 1; run <= 2; ++run) {
            w.Click(ctl::kUpdate);
            QTRY_VERIFY(!w.window.Logic().IsRunning());
            QCOMPARE(w.boxes.size(), static_cast<std::size_t>(run));
            QCOMPARE(Q(w.boxes.back().title), "Success");
            w.clock.Advance(5000); // the charger restarts into its new firmware and is back
            QTRY_COMPARE(w.Lines().size(), 2);
            QTRY_COMPARE(list->currentRow(), 1);
            QCOMPARE(w.Lines()[1], chosen);
            QVERIFY2(w.Text(ctl::kStatus).contains(Q("S/N:" + serial)),
                     qPrintable(w.Text(ctl::kStatus)));
            QCOMPARE(payloads(), (std::vector<int>{0, run}));
        }
    }

    // Run once per scale factor (QT_SCALE_FACTOR): every text of both windows shows whole, the
    // longest message of each message label included.
    void textFitsAtThisScale() {
        CWindowBench w("hid");
        w.ClickBox();
        w.Pick(ValidFile("fits.bin"));
        w.window.SetLinkTarget("http://primary.test/new");
        w.window.SetVisible(ctl::kReleaseLink, true);
        QCOMPARE(CutTexts(w.window), QStringList());
        w.window.SetVisible(ctl::kStatus, true);
        for (const char* status :
             {run_text::kConnecting, run_text::kConnectingAgain, run_text::kUpgrading}) {
            w.window.SetText(ctl::kStatus, status);
            QCOMPARE(CutTexts(w.window), QStringList());
        }
        for (const ELoadOutcome outcome :
             {ELoadOutcome::CannotOpen, ELoadOutcome::TooBig, ELoadOutcome::FormatError}) {
            w.window.Logic().ResetFileInfo(std::string(LoadOutcomeText(outcome)));
            QCOMPARE(CutTexts(w.window), QStringList());
        }

        // The station window with a file's fields, and with the longest error line.
        CStationBench station("hid", ValidFile("fits.bin"));
        QCOMPARE(CutTexts(station.view), QStringList());
        WriteBytes(dir_.File("bad.bin"), std::vector<std::uint8_t>(600, 0x55));
        station.view.SetText(station_ctl::kPath, dir_.File("bad.bin"));
        station.view.Logic().OnPathEdited();
        QVERIFY(station.view.Control(station_ctl::kErrorLine)->isVisible());
        QCOMPARE(CutTexts(station.view), QStringList());

        CTempDir dir;
        CFakeDownloader downloader;
        CIniFileReader ini;
        CFakeTempFiles tempFiles(dir.Path());
        SOnlineContext context{downloader,   downloader, ini, BuiltInServerAddresses(),
                               releaseLinks, tempFiles};
        std::ofstream(dir.File("fetched.ini"))
            << "[File List]\nCountEx=1\nType0=Kelvorin K6 Pro\nFileName0=K6P_FW_V2.10\n"
               "Ver0=V2.10\nURL0=http://files.test/K6P_FW_V2.10.bin\n"
               "Release0=K6 Pro V2.10 release notes\nReleaseURL0=http://files.test/notes\n";
        qt::CDownLoad download(context, {});
        download.Initialize(dir.File("fetched.ini"));
        download.show();
        download.SetStatusText("Downloading: K6P_FW_V2.10.bin");
        download.ShowStatusLine(true);
        QCOMPARE(CutTexts(download), QStringList());
        // A label's mnemonic leads to the control it names.
        for (QLabel* label : download.findChildren<QLabel*>()) {
            if (label->text() == "Updates &List" || label->text() == "&Save as") {
                QCOMPARE(label->buddy(), download.Control(label->text() == "&Save as"
                                                              ? download_ctl::kSaveAs
                                                              : download_ctl::kUpdatesList));
            }
        }
    }

    // What assistive tools see: a name for every control, the right roles, and a progress bar
    // whose value they can follow during a run.
    void assistiveToolsSeeEveryControl() {
        CWindowBench w("hid");
        w.Pick(ValidFile("a11y.bin"));
        w.window.SetVisible(ctl::kReleaseLink, true);
        const std::vector<std::pair<int, QAccessible::Role>> roles{
            {ctl::kComPorts, QAccessible::CheckBox},   {ctl::kDeviceList, QAccessible::List},
            {ctl::kPath, QAccessible::EditableText},   {ctl::kOpen, QAccessible::Button},
            {ctl::kDownload, QAccessible::Button},     {ctl::kReleaseLink, QAccessible::Link},
            {ctl::kStatus, QAccessible::StaticText},   {ctl::kProgress, QAccessible::ProgressBar},
            {ctl::kUpdate, QAccessible::Button},       {ctl::kExit, QAccessible::Button},
            {ctl::kErrorLine, QAccessible::StaticText}};
        for (const auto& [id, role] : roles) {
            QAccessibleInterface* control = QAccessible::queryAccessibleInterface(w.Get(id));
            QVERIFY2(control != nullptr, qPrintable(QString::number(id)));
            QCOMPARE(control->role(), role);
            if (id != ctl::kErrorLine && id != ctl::kStatus) { // named by the text they show
                QVERIFY2(!control->text(QAccessible::Name).isEmpty(),
                         qPrintable(QString::number(id)));
                QVERIFY2(!control->text(QAccessible::Description).isEmpty(),
                         qPrintable(QString::number(id)));
            }
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(w.Get(ctl::kReleaseLink))
                     ->text(QAccessible::Name),
                 "Please download the newly released version");

        QAccessibleValueInterface* progress =
            QAccessible::queryAccessibleInterface(w.Get(ctl::kProgress))->valueInterface();
        QVERIFY(progress != nullptr);
        QList<int> values;
        w.duringRun = [&] {
            const int value = progress->currentValue().toInt();
            if (values.isEmpty() || values.last() != value) {
                values << value;
            }
        };
        w.Click(ctl::kUpdate);
        QTRY_VERIFY(!w.window.Logic().IsRunning());
        QCOMPARE(progress->maximumValue().toInt(), 10);
        QVERIFY2(values.size() >= 5, qPrintable(QString::number(values.size())));
        QCOMPARE(progress->currentValue().toInt(), 9);
    }

    // Tab reaches the controls in the order they are read; a whole update needs no mouse: Tab to
    // the path field, type the path, Enter.
    void wholeUpdateByKeyboard() {
        CWindowBench w("hid");
        w.window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.Get(ctl::kComPorts)->setFocus();
        QList<int> order;
        for (int i = 0; i < 6; ++i) {
            order << QApplication::focusWidget()->objectName().mid(3).toInt();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QList<int>{ctl::kComPorts, ctl::kDeviceList, ctl::kPath, ctl::kOpen,
                                    ctl::kDownload, ctl::kExit})); // Update waits for a file
        // Each control Tab reaches looks otherwise with the focus than without it.
        w.window.SetVisible(ctl::kReleaseLink, true);
        const auto focused = [&w](int id) {
            return QAccessible::queryAccessibleInterface(w.Get(id))->state().focused;
        };
        for (const int id : {ctl::kComPorts, ctl::kDeviceList, ctl::kPath, ctl::kOpen,
                             ctl::kDownload, ctl::kReleaseLink, ctl::kExit}) {
            w.Get(id == ctl::kExit ? ctl::kOpen : ctl::kExit)->setFocus(Qt::TabFocusReason);
            const QImage without = w.Get(id)->grab().toImage();
            w.Get(id)->setFocus(Qt::TabFocusReason);
            QVERIFY2(focused(id) && w.Get(id)->grab().toImage() != without,
                     qPrintable(QString::number(id)));
        }
        // Alt with a label's letter goes to the control it names; another letter types nothing.
        QTest::keyClick(&w.window, Qt::Key_L, Qt::AltModifier);
        QVERIFY(focused(ctl::kDeviceList));
        QTest::keyClick(&w.window, Qt::Key_F, Qt::AltModifier);
        QVERIFY(focused(ctl::kPath));
        QTest::keyClick(w.Get(ctl::kPath), Qt::Key_Q, Qt::AltModifier);
        QCOMPARE(w.Get<QLineEdit>(ctl::kPath)->text(), "");
        w.Get(ctl::kComPorts)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.Get(ctl::kPath));
        QTest::keyClicks(QApplication::focusWidget(), Q(ValidFile("keys.bin")));
        QVERIFY(w.Enabled(ctl::kUpdate));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTRY_COMPARE(w.boxes.size(), 1u);
        QCOMPARE(Q(w.boxes[0].title), "Success");
    }

    void messageLinesBeginWithACapital() {
        QCOMPARE(qt::MessageText("Connecting server failed.\n\nError = 0x800C0007\n\nThe server "
                                 "did not answer in time.\nno answer from the server for 2500 ms"),
                 "Connecting server failed.\n\nError = 0x800C0007\n\nThe server did not answer "
                 "in time.\nNo answer from the server for 2500 ms");
        QCOMPARE(qt::MessageText("x\nhttp://h/a: gone\n/tmp/f: No such file\ncurl_x failed\nok"),
                 "X\nhttp://h/a: gone\n/tmp/f: No such file\ncurl_x failed\nOk");
    }

    // Boxes carry paths, chargers' answers and servers' texts: Qt must not read them as markup.
    void messageBoxesShowTextAsItIs() {
        CWindowBench w("");
        w.window.messageBoxHandler = nullptr;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, &w.window, [&format] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            format = box->textFormat();
            box->accept();
        });
        w.window.MessageBox("<b>/tmp/<i>f</i>.bin</b>", "Error", EMessageIcon::Error);
        QCOMPARE(format, Qt::PlainText);
    }

    // A slow logind holds neither the window nor the run: the lock comes with its answer, and an
    // answer after Release is dropped.
    void sleepInhibitorDoesNotWait() {
        QProcess daemon;
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        if (!daemon.waitForReadyRead(5000)) {
            QSKIP("no dbus-daemon");
        }
        const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
        QDBusConnection service = QDBusConnection::connectToBus(address, "fake-logind");
        CFakeLogind logind;
        QVERIFY(service.registerService("org.freedesktop.login1") &&
                service.registerObject("/org/freedesktop/login1", &logind,
                                       QDBusConnection::ExportAllSlots));
        qt::CLogindInhibitor inhibitor(QDBusConnection::connectToBus(address, "inhibitor"));
        QFile lock(Q(dir_.File("lock")));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        const QVariant fd = QVariant::fromValue(QDBusUnixFileDescriptor(lock.handle()));
        for (const bool releasedFirst : {false, true}) {
            // The fake logind answers on this thread: an Acquire that waited would get no lock.
            inhibitor.Acquire();
            QTRY_VERIFY(!logind.asked.isEmpty());
            if (releasedFirst) {
                inhibitor.Release(); // the run ended before logind answered
            }
            QVERIFY(service.send(logind.asked.takeFirst().createReply(fd)));
            QTest::qWait(200);
            QTRY_COMPARE(inhibitor.Held(), !releasedFirst);
            inhibitor.Release();
        }
        daemon.kill();
        daemon.waitForFinished();
    }

    void secondInstanceIsRefused() {
        const std::string name = "crenovix-gui-test-" + std::to_string(::getpid());
        auto first = AcquireSingleInstanceLock(name);
        QVERIFY(first != nullptr && first->ShowRequests() >= 0);
        QVERIFY(AcquireSingleInstanceLock(name) == nullptr);
        QVERIFY(!first->TakeShowRequest());
        ShowRunningInstance(name); // a second start asks the first to come to the front
        QVERIFY(first->TakeShowRequest());
        QVERIFY(!first->TakeShowRequest());
        QVERIFY(AcquireSingleInstanceLock(name + "-renamed") != nullptr);
        first.reset();
        QVERIFY(AcquireSingleInstanceLock(name) != nullptr);
    }

    // The start before any window: each way of ending shows its box (or none) and makes no
    // services unless the program goes on.
    void startStepsEndWithTheirMessages() {
        const std::string name = "crenovix-start-test-" + std::to_string(::getpid());
        std::vector<std::string> boxes;
        const auto warn = [&boxes](const std::string& title, const std::string& text) {
            boxes.push_back(title + ": " + text);
        };
        int made = 0;
        const ProgramServicesFactory create = [&made](const char* simulate, std::string& error,
                                                      std::uint32_t seed) {
            ++made;
            return CreateProgramServices(CreateSystemPlatform(), simulate, error, seed);
        };
        const std::vector<std::string> none;
        const std::vector<std::string> reg{"/RegServer"};

        auto held = AcquireSingleInstanceLock(name);
        auto start = StartProgram(name, none, "hid", 1, create, warn);
        QVERIFY(start.services == nullptr && start.exitCode == 0 && made == 0);
        QCOMPARE(boxes, std::vector<std::string>{std::string("Crenovix: ") + kAlreadyRunningText});
        QVERIFY(held->TakeShowRequest()); // the running copy was asked to come forward
        held.reset();

        start = {}; // its lock is let go before the next start
        start = StartProgram(name, reg, "hid", 1, create, warn);
        QVERIFY(start.services == nullptr && start.exitCode == 0 && made == 0);
        start = {};
        start = StartProgram(name, none, "hid,usb", 1, create, warn);
        QVERIFY(start.services == nullptr && start.exitCode == 1 && made == 1);
        QCOMPARE(boxes.size(), std::size_t{2});
        QVERIFY(boxes[1].starts_with("Crenovix: CRENOVIX_SIMULATE: "));
        start = {};
        start = StartProgram(name, none, "hid", 1, create, warn);
        QVERIFY(start.services != nullptr && start.lock != nullptr && boxes.size() == 2);
    }

    // Under its own file name, so that a copy of the program that is running keeps no lock on it.
    void registerSwitchesEndAtOnce() {
        QTemporaryDir dir;
        const QString program = dir.filePath("crenovix-switch-test");
        QVERIFY(QFile::link(CRENOVIX_EXECUTABLE, program));
        for (const char* argument : {"/Register", "-unregserver"}) {
            QProcess process;
            process.start(program, {argument});
            QVERIFY2(process.waitForFinished(10000), qPrintable(argument));
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), 0);
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
