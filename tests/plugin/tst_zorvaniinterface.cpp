// The plug-in object driven directly, with the minimal host's bridge and
// manager, and the catalogue it hands the host.
#include "HostBridge.h"
#include "PrivateHome.h"
#include "ZorvaniFunctions.h"
#include "ZorvaniInterface.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "bandplan/AmateurRegion.h"

#include <QComboBox>
#include <QMenu>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

namespace {
const double kStream[4] = {39062.5, 78125.0, 156250.0, 312500.0};
const double kVisible[4] = {36000.0, 72000.0, 144000.0, 288000.0};

// Every host output: the sound card, two VACs, two line outs.
QList<PullEngine*> engines(HostBridge& b)
{
    return {&b.hostSoundOut().engine(), &b.hostVacs().at(0)->engine(), &b.hostVacs().at(1)->engine(),
            &b.hostLineOuts().at(0)->engine(), &b.hostLineOuts().at(1)->engine()};
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
double labelHz(const QString& label)
{
    return label.endsWith('K') ? label.chopped(1).toDouble() * 1000.0 : label.toDouble();
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

    // What the host reads before it loads the library, without loading it.
    // (Loading, the instance and its interface: every system test, whose host
    // refuses a plug-in without them.)
    void metadata()
    {
        const QString path = qEnvironmentVariable("ZORVANI_PLUGIN");
        const QJsonObject meta = QPluginLoader(path).metaData();
        QCOMPARE(meta.value("IID").toString() + " " + meta.value("className").toString(),
                 QString("Ostrovix.Velmora2.plugin ZorvaniInterface"));
        const QJsonObject data = meta.value("MetaData").toObject();
        QCOMPARE(data.value("name").toString() + " " + data.value("version").toString(), QString("ZorvaniDDC 0.0.1"));
        const QJsonValue dependencies = data.value("dependencies");
        QVERIFY2(dependencies.isArray() && dependencies.toArray().isEmpty(), qPrintable(path));
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
        // Out-of-table reads are refused instead of running past the table;
        // an unknown mode gets the widest limits.
        QVERIFY(f.filterLabel(11, 0).isEmpty() && f.filterLabel(0, 9).isEmpty());
        for (auto [mode, choice] : {std::pair{11, 0u}, {-1, 0u}, {0, 9u}})
            QCOMPARE(f.filterEdges(mode, choice), FilterEdges(0.0, 0.0));
        QVERIFY(f.filterEdgeLimits(1000) == FilterEdges(-156000.0, 156000.0) && f.defaultAgc(1000) == 1);
    }

    // The bands follow the stored band plan: 60 m where the country has an
    // allocation, 11 m when switched on, never 0.7 m; past the list: no band.
    void bands()
    {
        const QStringList plain{"160M", "80M", "40M", "30M", "20M", "17M", "15M", "12M", "10M", "6M", "2M"};
        const QStringList all{"160M", "80M", "60M", "40M", "30M", "20M", "17M", "15M", "12M", "11M", "10M", "6M", "2M"};
        const struct { int country; bool band11; const QStringList& names; double hz; int index; } rows[] = {
            {QLocale::Russia, false, plain, 7.2e6, 2}, {QLocale::Russia, false, plain, 7200000.5, 11},
            {QLocale::Russia, false, plain, 27e6, 11}, {QLocale::Russia, false, plain, 435e6, 11},
            {QLocale::Germany, true, all, 27e6, 9}, {QLocale::Germany, true, all, 5.36e6, 2}};
        for (const auto& r : rows) {
            usePlan(r.country, r.band11);
            ZorvaniFunctions f;
            usePlan(QLocale::Russia, false);
            QStringList shown;
            for (const DeviceBand& b : f.bands())
                shown << b.name;
            QCOMPARE(shown, r.names);
            QVERIFY2(f.bandIndex(r.hz) == r.index, qPrintable(QString::number(r.hz)));
        }
    }

    // In its own window with the Admin page, or in the host's layout without; deinit takes it away.
    void initPlacesOptions()
    {
        for (bool layout : {false, true}) {
            const bool admin = !layout;
            HostBridge bridge;
            QWidget window;
            auto* box = new QVBoxLayout(&window);
            ZorvaniInterface device;
            QVERIFY(device.init(bridge, layout ? box : nullptr, false, admin));
            ZorvaniOptions* options = device.options();
            QVERIFY(options->isWindow() != layout);
            QVERIFY(layout ? options->parentWidget() == &window : options->isVisible());
            QTabWidget* pages = options->findChild<QTabWidget*>("tbwOptions");
            QVERIFY(pages->count() == (admin ? 4 : 3) && (pages->tabText(3) == "Admin") == admin);
            QVERIFY(bridge.hostVacs().count() == 2 && bridge.hostLineOuts().count() == 2);
            device.deinit();
            QVERIFY(!device.options() && box->count() == 0);
        }
    }

    // A second setManager connects nothing twice; the device menu reaches
    // the manager later, from the event loop, once.
    void managerAndOutputs()
    {
        Opened o;
        QVERIFY(o.device.init(o.bridge, nullptr, false, false));
        o.device.setManager(&o.manager);
        o.device.setManager(&o.manager);
        const auto& component = o.manager.hostComponent();
        QVERIFY(component.calls == 2 && !component.first && !component.second);
        // on4k rewrites each item twice; a second connection would double that.
        QComboBox* mode = o.device.options()->findChild<QComboBox*>("cbModeIP");
        QSignalSpy rewrites(mode->model(), &QAbstractItemModel::dataChanged);
        emit o.manager.display4kModeChanged(true);
        QVERIFY(rewrites.count() == 2 * mode->count() && mode->itemText(1) == "Static IP");
        QCOMPARE(o.manager.deviceMenuCalls(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(o.manager.deviceMenuCalls(), 1, 5000);
        QMenu* menu = o.manager.deviceMenu();
        QVERIFY(menu == o.device.options()->deviceMenu() && menu->findChild<QComboBox*>("cbSampleRate"));

        // Outputs never opened, or opened and closed again, give silence, never
        // stale audio (pullOnce pre-fills with 1.0); after deinit they hold no
        // callable into the gone device.
        for (PullEngine* engine : engines(o.bridge)) {
            const QByteArray name = QByteArray::number(engines(o.bridge).indexOf(engine));
            const std::vector<float> silence(960, 0.0f);
            QVERIFY2(engine->pullOnce(480) == silence, "output " + name + " is not silent");
            engine->open();
            QTRY_VERIFY(engine->framesPulled() > 0);
            engine->close();
            QVERIFY2(engine->pullOnce(480) == silence, "output " + name + " is not silent after closing");
        }
        o.device.deinit();
        for (PullEngine* engine : engines(o.bridge))
            QVERIFY2(engine->pullOnce(480).empty(), "an output still holds a callable");
        QVERIFY(!o.device.control() && !o.device.dsp() && o.device.iqFiles().empty());
    }

    // The host hears the rate once on setManager: the visible part of the
    // stream when the manager hides the slopes, the whole stream otherwise;
    // later changes, of the slopes or of the rate on the page, once each.
    void firstRateAfterSetManager()
    {
        for (int index = 0; index < 4; ++index) {
            const bool hide = index % 2 == 0;
            Opened o(hide);
            QVERIFY(o.device.init(o.bridge, nullptr, false, false));
            o.rate()->setCurrentIndex(index);
            QSignalSpy rates(&o.device, &DeviceAbstract::changedSampleRate);
            o.device.setManager(&o.manager);
            const double expected = hide ? kVisible[index] : kStream[index];
            auto* f = static_cast<ZorvaniFunctions*>(o.device.functions());
            QVERIFY2(rates.count() == 1 && rates.last().at(0).toDouble() == expected && f->displayedRate() == expected,
                     qPrintable(QStringLiteral("index %1").arg(index)));
            QVERIFY(f->streamRate() == kStream[index] && f->streamRateCopy() == kStream[index]);
            QCOMPARE(f->minimumDisplayedRate(), hide ? kVisible[0] : kStream[0]);
            for (bool hidden : {!hide, !hide, hide}) {
                o.manager.setHideSpectrumSlopes(hidden);
                QCOMPARE(rates.last().at(0).toDouble(), hidden ? kVisible[index] : kStream[index]);
            }
            QCOMPARE(rates.count(), 3);
            const int next = (index + 1) % 4;
            o.rate()->setCurrentIndex(next);
            QVERIFY(rates.count() == 4 && rates.last().at(0).toDouble() == (hide ? kVisible[next] : kStream[next]));
            QCOMPARE(f->streamRate(), kStream[next]);
            o.device.deinit();
        }
    }
};

QTEST_MAIN(TestZorvaniInterface)
#include "tst_zorvaniinterface.moc"
