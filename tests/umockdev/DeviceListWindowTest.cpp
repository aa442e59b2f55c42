// The Qt window's device list on the Linux adapters, refilled by udev's notifications while
// chargers are plugged in and out of the mocked kernel.
#include "gui/qt/CrenovixDlg.h"
#include "gui/qt/ProgramServices.h"
#include "umockdev/MockKernel.h"

#include <QListWidget>
#include <QTest>

using namespace crenovix;

class DeviceListWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<mock::CMockKernel> kernel_;

    static QStringList Lines(qt::CrenovixDlg& window) {
        auto* list = window.findChild<QListWidget*>(QStringLiteral("ctl%1").arg(ctl::kDeviceList));
        QStringList lines;
        for (int i = 0; list != nullptr && i < list->count(); ++i) {
            lines << list->item(i)->text();
        }
        return lines;
    }

    static mock::SMockHid Charger(const std::string& product, const std::string& serial) {
        mock::SMockHid hid;
        hid.usb.product = product;
        hid.usb.serial = serial;
        return hid;
    }

private slots:
    void initTestCase() {
        std::string whyNot;
        kernel_ = mock::CMockKernel::Create(whyNot);
        if (!kernel_) {
            QSKIP(whyNot.c_str());
        }
    }

    void listFollowsPlugAndUnplug() {
        std::string error;
        const auto services = CreateProgramServices(CreateSystemPlatform(), nullptr, error, 1);
        QVERIFY(services != nullptr);
        SDeviceListState devices;
        qt::CrenovixDlg window(devices, {services->Enumerator(),
                                         services->Ports(),
                                         services->Clock(),
                                         services->Nonces(),
                                         {},
                                         {},
                                         nullptr,
                                         {}});
        qt::WatchDeviceChanges(*services, &window, [&window] {
            window.Logic().OnDeviceChange(EDeviceChange::NodesChanged);
        });
        window.Initialize();
        window.show();
        QCOMPARE(Lines(window), QStringList{"Device not found!"});

        const std::string a = kernel_->PlugHid(Charger("Kelvorin K4", "A"));
        QTRY_COMPARE(Lines(window), QStringList{"Type: Kelvorin K4, S/N:A"});
        const std::string b = kernel_->PlugHid(Charger("Kelvorin K8", "B"));
        QTRY_COMPARE(Lines(window),
                     (QStringList{"Type: Kelvorin K4, S/N:A", "Type: Kelvorin K8, S/N:B"}));
        kernel_->Unplug(a);
        QTRY_COMPARE(Lines(window), QStringList{"Type: Kelvorin K8, S/N:B"});
        kernel_->Unplug(b);
        QTRY_COMPARE(Lines(window), QStringList{"Device not found!"});
    }
};

QTEST_MAIN(DeviceListWindowTest)
#include "DeviceListWindowTest.moc"
