// The plug-in object driven directly, with the minimal host's bridge and manager.
#include "HostBridge.h"
#include "ZorvaniFunctions.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/ZorvaniOptions.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {
const double kStream[4] = {39062.5, 78125.0, 156250.0, 312500.0};
const double kVisible[4] = {36000.0, 72000.0, 144000.0, 288000.0};

// Every host output with its name, for loops over all five.
std::vector<std::pair<QString, PullEngine*>> engines(HostBridge& bridge)
{
    return {{"sound card", &bridge.hostSoundOut().engine()},
            {"VAC 0", &bridge.hostVacs().at(0)->engine()},
            {"VAC 1", &bridge.hostVacs().at(1)->engine()},
            {"line out 0", &bridge.hostLineOuts().at(0)->engine()},
            {"line out 1", &bridge.hostLineOuts().at(1)->engine()}};
}
} // namespace

class TestZorvaniInterface : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;

    static QTabWidget* tabs(ZorvaniInterface& device)
    {
        return device.options()->findChild<QTabWidget*>("tbwOptions");
    }
    static QComboBox* optionsRate(ZorvaniInterface& device)
    {
        return device.options()->findChild<QComboBox*>("cbSampleRate");
    }

private slots:
    void initTestCase()
    {
        // The catalogue writes its band-plan file; keep it in a private test location.
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
    }

    void initWithoutLayoutShowsWindow()
    {
        HostBridge bridge;
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, nullptr, false, true));
        ZorvaniOptions* options = device.options();
        QVERIFY(options);
        QVERIFY2(options->isWindow(), "without a layout the options are their own window");
        QVERIFY(options->isVisible());
        QCOMPARE(tabs(device)->count(), 4);
        QCOMPARE(tabs(device)->tabText(3), QString("Admin"));
        QCOMPARE(bridge.hostVacs().count(), 2);
        QCOMPARE(bridge.hostLineOuts().count(), 2);
        QCOMPARE(int(device.iqFiles().size()), 2);
        QVERIFY(device.control());
        QVERIFY(device.dialog());
        QVERIFY(device.dsp());
        device.deinit();
    }

    void initWithLayoutAndNoAdminPage()
    {
        HostBridge bridge;
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, layout, false, false));
        ZorvaniOptions* options = device.options();
        QCOMPARE(options->parentWidget(), &window);
        QVERIFY(layout->indexOf(options) >= 0);
        QVERIFY(!options->isWindow());
        QTabWidget* pages = tabs(device);
        QCOMPARE(pages->count(), 3);
        for (int i = 0; i < pages->count(); ++i)
            QVERIFY2(pages->tabText(i) != "Admin", "the Admin page is removed");
        QCOMPARE(pages->tabText(2), QString("Expert"));
        device.deinit();
        QVERIFY(!device.options());
        QCOMPARE(layout->count(), 0);
    }

    void setManagerTwiceConnectsOnce()
    {
        HostBridge bridge;
        HostManager manager;
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, nullptr, false, false));
        device.setManager(&manager);
        device.setManager(&manager);
        QCOMPARE(manager.hostComponent().calls, 2);
        QVERIFY(!manager.hostComponent().first);
        QVERIFY(!manager.hostComponent().second);

        // on4k rewrites each item twice; a second connection would double that.
        QComboBox* mode = device.options()->findChild<QComboBox*>("cbModeIP");
        QSignalSpy rewrites(mode->model(), &QAbstractItemModel::dataChanged);
        emit manager.display4kModeChanged(true);
        QCOMPARE(rewrites.count(), 2 * mode->count());
        QCOMPARE(mode->itemText(1), QString("Static IP"));
        device.deinit();
    }

    void firstRateAfterSetManager_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("hide");
        for (int i = 0; i < 4; ++i) {
            QTest::addRow("index %d, slopes hidden", i) << i << true;
            QTest::addRow("index %d, slopes shown", i) << i << false;
        }
    }
    void firstRateAfterSetManager()
    {
        QFETCH(int, index);
        QFETCH(bool, hide);
        HostBridge bridge;
        HostManager manager(hide);
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, nullptr, false, false));
        optionsRate(device)->setCurrentIndex(index);
        QSignalSpy rates(&device, &DeviceAbstract::changedSampleRate);
        device.setManager(&manager);
        QVERIFY2(!rates.isEmpty(), "setManager announces the rate");
        const double expected = hide ? kVisible[index] : kStream[index];
        QCOMPARE(rates.last().at(0).toDouble(), expected);
        auto* functions = static_cast<ZorvaniFunctions*>(device.functions());
        QCOMPARE(functions->streamRate(), kStream[index]);
        QCOMPARE(functions->streamRateCopy(), kStream[index]);
        QCOMPARE(functions->displayedRate(), expected);
        QCOMPARE(functions->minimumDisplayedRate(), hide ? kVisible[0] : kStream[0]);
        QCOMPARE(rates.first().at(0).toDouble(), expected);
        QCOMPARE(rates.count(), 1);
        device.deinit();
    }

    void hideSlopesFollowsManager()
    {
        HostBridge bridge;
        HostManager manager(false);
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, nullptr, false, false));
        optionsRate(device)->setCurrentIndex(2);
        device.setManager(&manager);
        QSignalSpy rates(&device, &DeviceAbstract::changedSampleRate);
        manager.setHideSpectrumSlopes(true);
        QCOMPARE(rates.count(), 1);
        QCOMPARE(rates.last().at(0).toDouble(), 144000.0);
        manager.setHideSpectrumSlopes(true);
        QCOMPARE(rates.count(), 1);
        manager.setHideSpectrumSlopes(false);
        QCOMPARE(rates.count(), 2);
        QCOMPARE(rates.last().at(0).toDouble(), 156250.0);
        device.deinit();
    }

    void rateChosenOnTheOptionsPageIsAnnounced()
    {
        HostBridge bridge;
        HostManager manager(true);
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, nullptr, false, false));
        device.setManager(&manager);
        QSignalSpy rates(&device, &DeviceAbstract::changedSampleRate);
        optionsRate(device)->setCurrentIndex(3);
        QCOMPARE(rates.count(), 1);
        QCOMPARE(rates.last().at(0).toDouble(), 288000.0);
        QCOMPARE(device.functions()->streamRate(), 312500.0);
        device.deinit();
    }

    void closedOutputsGiveSilence()
    {
        HostBridge bridge;
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, nullptr, false, false));
        // pullOnce pre-fills with 1.0, so zeros prove the callable wrote silence.
        for (auto& [name, engine] : engines(bridge))
            QVERIFY2(engine->pullOnce(480) == std::vector<float>(960, 0.0f), qPrintable(name + " is not silent"));

        // A path opened and closed again is silent too, never stale.
        for (auto& [name, engine] : engines(bridge)) {
            engine->open();
            QTRY_VERIFY(engine->framesPulled() > 0);
            engine->close();
            QVERIFY2(engine->pullOnce(480) == std::vector<float>(960, 0.0f),
                     qPrintable(name + " is not silent after closing"));
        }
        device.deinit();
    }

    void teardownLeavesNoCallable()
    {
        HostBridge bridge;
        HostManager manager;
        auto device = std::make_unique<ZorvaniInterface>();
        QVERIFY(device->init(bridge, nullptr, false, false));
        device->setManager(&manager);
        device->deinit();
        for (auto& [name, engine] : engines(bridge))
            QVERIFY2(engine->pullOnce(480).empty(), qPrintable(name + " still holds a callable"));
        QVERIFY(!device->options());
        QVERIFY(!device->control());
        QVERIFY(!device->dialog());
        QVERIFY(!device->dsp());
        QVERIFY(device->iqFiles().empty());
        device.reset();
        // The outputs stay usable after the device is gone.
        for (auto& [name, engine] : engines(bridge))
            QVERIFY(engine->pullOnce(16).empty());
    }

    void deviceMenuReachesManagerAfterHalfASecond()
    {
        HostBridge bridge;
        HostManager manager;
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, nullptr, false, false));
        QElapsedTimer clock;
        clock.start();
        device.setManager(&manager);
        QCOMPARE(manager.deviceMenuCalls(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(manager.deviceMenuCalls(), 1, 5000);
        QVERIFY2(clock.elapsed() >= 450, qPrintable(QString("handed over after %1 ms").arg(clock.elapsed())));
        QCOMPARE(manager.deviceMenu(), device.options()->deviceMenu());
        QVERIFY(manager.deviceMenu()->findChild<QComboBox*>("cbSampleRate"));
        device.deinit();
    }
};

QTEST_MAIN(TestZorvaniInterface)
#include "tst_zorvaniinterface.moc"
