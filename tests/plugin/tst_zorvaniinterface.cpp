// The plug-in object driven directly, with the minimal host's bridge and
// manager, and the catalogue it hands the host.
#include "HostBridge.h"
#include "PrivateHome.h"
#include "ZorvaniFunctions.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "bandplan/AmateurRegion.h"

#include <QAbstractItemModel>
#include <QComboBox>
#include <QLocale>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
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

void usePlan(int country, bool band11)
{
    QSettings s(AmateurRegion::settingsPath(), QSettings::IniFormat);
    s.setValue("ITU/Country", country);
    s.setValue("ITU/Band11M", band11);
    s.setValue("ITU/Band60M", false);
    s.sync();
}

// "3.5K" is 3500 Hz, "650" is 650 Hz.
double labelHz(QString label)
{
    const bool kilo = label.endsWith(QLatin1Char('K'));
    label.chop(kilo ? 1 : 0);
    return label.toDouble() * (kilo ? 1000.0 : 1.0);
}
} // namespace

class TestZorvaniInterface : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

    // A device opened on the bridge, with or without a manager.
    struct Opened {
        HostBridge bridge;
        HostManager manager;
        ZorvaniInterface device;
        explicit Opened(bool hideSlopes = false) : manager(hideSlopes) {}
        QComboBox* rate() { return device.options()->findChild<QComboBox*>("cbSampleRate"); }
    };

private slots:
    void initTestCase()
    {
        QVERIFY(support::isolateHome(m_home));
        usePlan(QLocale::Russia, false);
    }

    // Mode numbers, filter presets and bands as the host sees them.
    void catalogue()
    {
        ZorvaniFunctions f;
        const ModeList expected = {{0, "AM"}, {1, "SAM"},  {2, "DSB"},  {3, "LSB"},  {4, "USB"}, {5, "CW"},
                                   {6, "NFM"}, {9, "WFM"}, {7, "DIGL"}, {8, "DIGU"}, {10, "DRM"}};
        QCOMPARE(f.modes(), expected);
        // Every preset's label names its width: both edges for a symmetric
        // filter, the far edge for a sideband one (which stops 70 Hz off the
        // carrier); the default preset is one of them, within the edge limits.
        for (const auto& mode : expected) {
            const uint m = uint(mode.first);
            for (uint c = 0; c < 9; ++c) {
                const FilterEdges e = f.filterEdges(mode.first, c);
                const bool sideband = !f.filterSymmetric(m);
                const double width = sideband ? std::max(-e.first, e.second) : e.second - e.first;
                QVERIFY2(sideband ? std::min(-e.first, e.second) == -70.0 : e.first == -e.second,
                         qPrintable(QString("mode %1 choice %2").arg(m).arg(c)));
                QCOMPARE(labelHz(f.filterLabel(m, c)), width);
            }
            const int count = f.filterCountForMode(mode.first);
            QVERIFY(f.defaultFilter(m) >= 0 && f.defaultFilter(m) < count);
            const FilterEdges e = f.filterEdges(mode.first, uint(f.defaultFilter(m)));
            QVERIFY(e.first >= f.filterEdgeLimits(m).first && e.second <= f.filterEdgeLimits(m).second);
            QCOMPARE(f.filterFixed(mode.first), count == 1);
        }
        QCOMPARE(f.filterEdges(3, 8), FilterEdges(-3500.0, -70.0));
        QCOMPARE(f.filterEdges(9, 8), FilterEdges(-155000.0, 155000.0));
        QCOMPARE(f.filterCountForMode(10), 1);
        // Out-of-table reads are refused instead of running past the table;
        // an unknown mode gets the widest limits.
        QCOMPARE(f.filterLabel(11, 0), QString());
        QCOMPARE(f.filterLabel(0, 9), QString());
        QCOMPARE(f.filterEdges(11, 0), FilterEdges(0.0, 0.0));
        QCOMPARE(f.filterEdges(-1, 0), FilterEdges(0.0, 0.0));
        QCOMPARE(f.filterEdges(0, 9), FilterEdges(0.0, 0.0));
        QCOMPARE(f.filterEdgeLimits(1000), FilterEdges(-156000.0, 156000.0));
        QCOMPARE(f.defaultAgc(1000), 1);
    }

    // The bands follow the stored band plan: 60 m where the country has an
    // allocation, 11 m when switched on, never 0.7 m.
    void bands_data()
    {
        QTest::addColumn<int>("country");
        QTest::addColumn<bool>("band11");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<double>("hz");
        QTest::addColumn<int>("index");
        const QStringList plain{"160M", "80M", "40M", "30M", "20M", "17M", "15M", "12M", "10M", "6M", "2M"};
        const QStringList all{"160M", "80M", "60M", "40M", "30M", "20M", "17M", "15M", "12M", "11M", "10M", "6M", "2M"};
        const int ru = QLocale::Russia, de = QLocale::Germany;
        QTest::newRow("160M low edge") << ru << false << plain << 1810000.0 << 0;
        QTest::newRow("below 160M") << ru << false << plain << 1000000.0 << 11;
        QTest::newRow("40M top edge") << ru << false << plain << 7.2e6 << 2;
        QTest::newRow("just above 40M") << ru << false << plain << 7200000.5 << 11;
        QTest::newRow("2M") << ru << false << plain << 145e6 << 10;
        QTest::newRow("0.7M is not listed") << ru << false << plain << 435e6 << 11;
        QTest::newRow("27 MHz, 11M off") << ru << false << plain << 27e6 << 11;
        QTest::newRow("negative") << ru << false << plain << -1.0 << 11;
        QTest::newRow("27 MHz, 11M on") << de << true << all << 27e6 << 9;
        QTest::newRow("60M") << de << true << all << 5.36e6 << 2;
    }
    void bands()
    {
        QFETCH(int, country);
        QFETCH(bool, band11);
        QFETCH(QStringList, names);
        QFETCH(double, hz);
        QFETCH(int, index);
        usePlan(country, band11);
        ZorvaniFunctions f;
        usePlan(QLocale::Russia, false);
        QStringList shown;
        for (const DeviceBand& b : f.bands())
            shown << b.name;
        QCOMPARE(shown, names);
        QCOMPARE(f.bandIndex(hz), index);
    }

    void initPlacesOptions_data()
    {
        QTest::addColumn<bool>("layout");
        QTest::addColumn<bool>("admin");
        QTest::newRow("own window, Admin page") << false << true;
        QTest::newRow("in the host's layout, no Admin page") << true << false;
    }
    void initPlacesOptions()
    {
        QFETCH(bool, layout);
        QFETCH(bool, admin);
        HostBridge bridge;
        QWidget window;
        auto* box = new QVBoxLayout(&window);
        ZorvaniInterface device;
        QVERIFY(device.init(bridge, layout ? box : nullptr, false, admin));
        ZorvaniOptions* options = device.options();
        QCOMPARE(options->isWindow(), !layout);
        QCOMPARE(layout ? options->parentWidget() : nullptr, layout ? &window : nullptr);
        if (!layout)
            QVERIFY(options->isVisible());
        QTabWidget* pages = options->findChild<QTabWidget*>("tbwOptions");
        QStringList titles;
        for (int i = 0; i < pages->count(); ++i)
            titles << pages->tabText(i);
        QCOMPARE(titles, admin ? QStringList({"DSP", "Ext Ctrl", "Expert", "Admin"})
                               : QStringList({"DSP", "Ext Ctrl", "Expert"}));
        QCOMPARE(bridge.hostVacs().count(), 2);
        QCOMPARE(bridge.hostLineOuts().count(), 2);
        device.deinit();
        QVERIFY(!device.options());
        QCOMPARE(box->count(), 0);
    }

    // A second setManager connects nothing twice; the device menu reaches
    // the manager later, from the event loop, once.
    void managerAndOutputs()
    {
        Opened o;
        QVERIFY(o.device.init(o.bridge, nullptr, false, false));
        o.device.setManager(&o.manager);
        o.device.setManager(&o.manager);
        QCOMPARE(o.manager.hostComponent().calls, 2);
        QVERIFY(!o.manager.hostComponent().first);
        QVERIFY(!o.manager.hostComponent().second);
        // on4k rewrites each item twice; a second connection would double that.
        QComboBox* mode = o.device.options()->findChild<QComboBox*>("cbModeIP");
        QSignalSpy rewrites(mode->model(), &QAbstractItemModel::dataChanged);
        emit o.manager.display4kModeChanged(true);
        QCOMPARE(rewrites.count(), 2 * mode->count());
        QCOMPARE(mode->itemText(1), QString("Static IP"));
        QCOMPARE(o.manager.deviceMenuCalls(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(o.manager.deviceMenuCalls(), 1, 5000);
        QCOMPARE(o.manager.deviceMenu(), o.device.options()->deviceMenu());
        QVERIFY(o.manager.deviceMenu()->findChild<QComboBox*>("cbSampleRate"));

        // Outputs never opened, or opened and closed again, give silence, never
        // stale audio (pullOnce pre-fills with 1.0); after deinit they hold no
        // callable into the gone device.
        for (auto& [name, engine] : engines(o.bridge)) {
            QVERIFY2(engine->pullOnce(480) == std::vector<float>(960, 0.0f), qPrintable(name + " is not silent"));
            engine->open();
            QTRY_VERIFY(engine->framesPulled() > 0);
            engine->close();
            QVERIFY2(engine->pullOnce(480) == std::vector<float>(960, 0.0f), qPrintable(name + " after closing"));
        }
        o.device.deinit();
        for (auto& [name, engine] : engines(o.bridge))
            QVERIFY2(engine->pullOnce(480).empty(), qPrintable(name + " still holds a callable"));
        QVERIFY(!o.device.control() && !o.device.dsp() && o.device.iqFiles().empty());
    }

    // The host hears the rate once on setManager: the visible part of the
    // stream when the manager hides the slopes, the whole stream otherwise;
    // later changes, of the slopes or of the rate on the page, once each.
    void firstRateAfterSetManager_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("hide");
        for (int i = 0; i < 4; ++i)
            QTest::addRow("index %d, slopes %s", i, i % 2 ? "shown" : "hidden") << i << (i % 2 == 0);
    }
    void firstRateAfterSetManager()
    {
        QFETCH(int, index);
        QFETCH(bool, hide);
        Opened o(hide);
        QVERIFY(o.device.init(o.bridge, nullptr, false, false));
        o.rate()->setCurrentIndex(index);
        QSignalSpy rates(&o.device, &DeviceAbstract::changedSampleRate);
        o.device.setManager(&o.manager);
        const double expected = hide ? kVisible[index] : kStream[index];
        QCOMPARE(rates.count(), 1);
        QCOMPARE(rates.last().at(0).toDouble(), expected);
        auto* functions = static_cast<ZorvaniFunctions*>(o.device.functions());
        QCOMPARE(functions->streamRate(), kStream[index]);
        QCOMPARE(functions->streamRateCopy(), kStream[index]);
        QCOMPARE(functions->displayedRate(), expected);
        QCOMPARE(functions->minimumDisplayedRate(), hide ? kVisible[0] : kStream[0]);
        for (bool hidden : {!hide, !hide, hide}) {
            o.manager.setHideSpectrumSlopes(hidden);
            QCOMPARE(rates.last().at(0).toDouble(), hidden ? kVisible[index] : kStream[index]);
        }
        QCOMPARE(rates.count(), 3);
        const int next = (index + 1) % 4;
        o.rate()->setCurrentIndex(next);
        QCOMPARE(rates.count(), 4);
        QCOMPARE(rates.last().at(0).toDouble(), hide ? kVisible[next] : kStream[next]);
        QCOMPARE(o.device.functions()->streamRate(), kStream[next]);
        o.device.deinit();
    }
};

QTEST_MAIN(TestZorvaniInterface)
#include "tst_zorvaniinterface.moc"
