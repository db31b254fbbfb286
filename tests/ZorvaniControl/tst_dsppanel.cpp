// The options' "DSP" page drives the engine: every control reaches its
// parameter from the start and on every change, and each "Default" button
// puts its documented values into the controls and so into the engine.
#include "ZorvaniControl/DspPanelZorvani.h"
#include "ZorvaniForms.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QPushButton>
#include <QtTest>

#include <functional>

namespace {
using Reader = std::function<double(const zorvaniDsp&)>;

// What the engine holds for each control, in the control's own units.
const QHash<QString, Reader>& readers()
{
    static const QHash<QString, Reader> table = [] {
        QHash<QString, Reader> t;
#define STAGE(name, expression) t[name] = [](const zorvaniDsp& d) { const auto s = d.receiver(0)->stageSettings(); return double(expression); }
        STAGE("sbDspRxNrTaps", s.nr.taps), STAGE("sbDspRxNrDelay", s.nr.delay), STAGE("sbDspRxNrGain", s.nr.rate), STAGE("sbDspRxNrLeak", s.nr.leak);
        STAGE("sbDspRxAnfTaps", s.anf.taps), STAGE("sbDspRxAnfDelay", s.anf.delay), STAGE("sbDspRxAnfGain", s.anf.rate);
        STAGE("sbDspRxAnfLeak", s.anf.leak), STAGE("sbDspApfSupression", s.cwApfGain), STAGE("sbDspApfQuality", s.cwApfQuality);
        STAGE("sbDspSsbApfSupression", s.ssbApfGain), STAGE("sbDspSsbApfQuality", s.ssbApfQuality), STAGE("sbDspSsbApfFreq", s.ssbApfFrequency);
        STAGE("sbDspDseQuality", s.binauralTaps), STAGE("chbDspDseSwap", s.binauralSwap), STAGE("chbDspWfmUsa", s.wfmUsa);
        STAGE("sbDspDiglOffset", -s.diglOffset), STAGE("sbDspDiguOffset", -s.diguOffset); // the engine shifts by the negated offsets
#undef STAGE
        t["sbDspRxNb1Threshold"] = [](const zorvaniDsp& d) { return d.nb1Threshold(); };
        t["sbDspRxNb2Threshold"] = [](const zorvaniDsp& d) { return d.nb2Threshold(); };
        const char* taps[] = {"SSB", "AM", "DIG", "CW"};
        for (int c = 0; c < 4; ++c)
            t[QStringLiteral("sbDsp39kHzFilterTaps") + taps[c]] = [c](const zorvaniDsp& d) { return d.firTaps(c); };
        const char* presets[] = {"Long", "Slow", "Med", "Fast", "_User"};
        for (int p = 0; p < zorvaniDsp::kAgcPresets; ++p) {
            t[QStringLiteral("sbDspRxAgcAttack") + presets[p]] = [p](const zorvaniDsp& d) { return d.agcPreset(p).attack; };
            t[QStringLiteral("sbDspRxAgcDecay") + presets[p]] = [p](const zorvaniDsp& d) { return d.agcPreset(p).decay; };
            t[QStringLiteral("sbDspRxAgcHangTime") + presets[p]] = [p](const zorvaniDsp& d) { return double(d.agcPreset(p).hang); };
        }
        return t;
    }();
    return table;
}

// The page, an engine and the panel between them.
struct Page {
    ZorvaniOptions options;
    zorvaniDsp dsp{nullptr, nullptr, nullptr};
    DspPanelZorvani panel{&options, &dsp};

    QWidget* control(const QString& name) { return options.findChild<QWidget*>(name); }
    double value(const QString& name) { return testsupport::shown(control(name)).toDouble(); }
    void change(const QString& name) { testsupport::show(control(name), testsupport::otherValue(control(name))); }
    // Empty when control and engine both hold `want`.
    QString disagreement(const QString& name, double want)
    {
        const double engine = readers()[name](dsp), shown = value(name);
        if (qFuzzyCompare(1.0 + engine, 1.0 + want) && qFuzzyCompare(1.0 + shown, 1.0 + want))
            return {};
        return QStringLiteral("%1 shows %2, the engine holds %3, expected %4").arg(name).arg(shown).arg(engine).arg(want);
    }
};
} // namespace

#define AGREE(page, name, want) QVERIFY2(page.disagreement(name, want).isEmpty(), qPrintable(page.disagreement(name, want)))

class TestDspPanel : public QObject {
    Q_OBJECT
private slots:
    // The engine starts with what the page shows, not with its own defaults, and follows every change.
    void everyControlReachesTheEngine()
    {
        Page page;
        for (auto it = readers().cbegin(); it != readers().cend(); ++it) {
            AGREE(page, it.key(), page.value(it.key()));
            page.change(it.key());
            AGREE(page, it.key(), page.value(it.key()));
        }
        QSignalSpy offsets(&page.panel, &DspPanelZorvani::digOffsetsChanged); // to the host, whose filter edges follow
        testsupport::show(page.control(QStringLiteral("sbDspDiguOffset")), 1800);
        testsupport::show(page.control(QStringLiteral("sbDspDiglOffset")), 1200);
        page.panel.announceDigOffsets();
        QVERIFY(offsets.count() == 3 && offsets.at(1) == (QVariantList{1200, -1800}) && offsets.at(2) == offsets.at(1));
    }

    void defaultButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QVariantMap>("values");
        const auto agc = [](const char* preset, double attack, double decay, double hang) {
            return QVariantMap{{QStringLiteral("sbDspRxAgcAttack") + preset, attack}, {QStringLiteral("sbDspRxAgcDecay") + preset, decay},
                               {QStringLiteral("sbDspRxAgcHangTime") + preset, hang}};
        };
        QTest::newRow("AGC Long") << "pbDspRxAgcDefaultLong" << agc("Long", 1.0, 800, 800);
        QTest::newRow("AGC Slow") << "pbDspRxAgcDefaultSlow" << agc("Slow", 1.0, 500, 500);
        QTest::newRow("AGC Med") << "pbDspRxAgcDefaultMed" << agc("Med", 1.0, 250, 250);
        QTest::newRow("AGC Fast") << "pbDspRxAgcDefaultFast" << agc("Fast", 0.7, 100, 100);
        QTest::newRow("NR") << "pbDefaultNR" << QVariantMap{{"sbDspRxNrTaps", 98}, {"sbDspRxNrDelay", 20}, {"sbDspRxNrGain", 0.001}, {"sbDspRxNrLeak", 0.00002}};
        QTest::newRow("ANF") << "pbDefaultANF"
                             << QVariantMap{{"sbDspRxAnfTaps", 65}, {"sbDspRxAnfDelay", 64}, {"sbDspRxAnfGain", 0.0007}, {"sbDspRxAnfLeak", 0.00001}};
        QTest::newRow("NB1") << "pbDefaultNB1" << QVariantMap{{"sbDspRxNb1Threshold", 2.65}};
        QTest::newRow("NB2") << "pbDefaultNB2" << QVariantMap{{"sbDspRxNb2Threshold", 2.48}};
        QTest::newRow("SSB APF") << "pbDefaultSsbApf" << QVariantMap{{"sbDspSsbApfSupression", 20}, {"sbDspSsbApfFreq", 550}, {"sbDspSsbApfQuality", 0.8}};
        QTest::newRow("DSE") << "pbDefaultDse" << QVariantMap{{"sbDspDseQuality", 140}, {"chbDspDseSwap", 0}};
        QTest::newRow("filter taps") << "pbDspRxFilterTapsDefault" << QVariantMap{{"sbDsp39kHzFilterTapsSSB", 1537}, {"sbDsp39kHzFilterTapsAM", 1537},
                                                                                  {"sbDsp39kHzFilterTapsDIG", 1537}, {"sbDsp39kHzFilterTapsCW", 1537}};
    }
    void defaultButtons()
    {
        QFETCH(QString, button);
        QFETCH(QVariantMap, values);
        Page page;
        for (auto it = values.cbegin(); it != values.cend(); ++it) { // away from the default first
            page.change(it.key());
            if (page.value(it.key()) == it.value().toDouble())
                page.change(it.key());
        }
        page.options.findChild<QPushButton*>(button)->click();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            AGREE(page, it.key(), it.value().toDouble());
    }
};

QTEST_MAIN(TestDspPanel)
#include "tst_dsppanel.moc"
