// The options' "DSP" page drives the engine: every control reaches its
// parameter from the start and on every change, and each "Default" button
// puts its documented values into the controls and so into the engine.
#include "ZorvaniControl/DspPanelZorvani.h"
#include "ZorvaniForms.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
using Reader = std::function<double(const zorvaniDsp&)>;

// What the engine holds for each control, in the control's own units.
const QHash<QString, Reader>& readers()
{
    static const QHash<QString, Reader> table = [] {
        QHash<QString, Reader> t;
#define STAGE(name, expression) t[name] = [](const zorvaniDsp& d) { const auto s = d.receiver(0)->stageSettings(); return double(expression); }
        STAGE("sbDspRxNrTaps", s.nr.taps);
        STAGE("sbDspRxNrDelay", s.nr.delay);
        STAGE("sbDspRxNrGain", s.nr.rate);
        STAGE("sbDspRxNrLeak", s.nr.leak);
        STAGE("sbDspRxAnfTaps", s.anf.taps);
        STAGE("sbDspRxAnfDelay", s.anf.delay);
        STAGE("sbDspRxAnfGain", s.anf.rate);
        STAGE("sbDspRxAnfLeak", s.anf.leak);
        STAGE("sbDspApfSupression", s.cwApfGain);
        STAGE("sbDspApfQuality", s.cwApfQuality);
        STAGE("sbDspSsbApfSupression", s.ssbApfGain);
        STAGE("sbDspSsbApfQuality", s.ssbApfQuality);
        STAGE("sbDspSsbApfFreq", s.ssbApfFrequency);
        STAGE("sbDspDseQuality", s.binauralTaps);
        STAGE("chbDspDseSwap", s.binauralSwap);
        STAGE("chbDspWfmUsa", s.wfmUsa);
        STAGE("sbDspDiglOffset", -s.diglOffset); // the engine shifts by the negated offsets
        STAGE("sbDspDiguOffset", -s.diguOffset);
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
} // namespace

class TestDspPanel : public QObject {
    Q_OBJECT

    std::unique_ptr<ZorvaniOptions> m_options;
    std::unique_ptr<zorvaniDsp> m_dsp;
    std::unique_ptr<DspPanelZorvani> m_panel;

    QWidget* control(const QString& name) const { return m_options->findChild<QWidget*>(name); }
    double value(const QString& name) const { return testsupport::shown(control(name)).toDouble(); }
    void change(const QString& name) { testsupport::show(control(name), testsupport::otherValue(control(name))); }

    // Control and engine agree.
    bool agree(const QString& name, double want)
    {
        const double engine = readers()[name](*m_dsp), shown = value(name);
        if (qFuzzyCompare(1.0 + engine, 1.0 + want) && qFuzzyCompare(1.0 + shown, 1.0 + want))
            return true;
        qWarning().noquote() << name << "shows" << shown << "the engine holds" << engine << "expected" << want;
        return false;
    }

private slots:
    void init()
    {
        m_options = std::make_unique<ZorvaniOptions>();
        m_dsp = std::make_unique<zorvaniDsp>(nullptr, nullptr, nullptr);
        m_panel = std::make_unique<DspPanelZorvani>(m_options.get(), m_dsp.get());
    }
    void cleanup()
    {
        m_panel.reset();
        m_dsp.reset();
        m_options.reset();
    }

    // The engine starts with what the page shows, not with its own defaults,
    // and follows every change.
    void everyControlReachesTheEngine()
    {
        for (auto it = readers().cbegin(); it != readers().cend(); ++it) {
            QVERIFY(agree(it.key(), value(it.key())));
            change(it.key());
            QVERIFY(agree(it.key(), value(it.key())));
        }
        QSignalSpy offsets(m_panel.get(), &DspPanelZorvani::digOffsetsChanged);
        testsupport::show(control(QStringLiteral("sbDspDiguOffset")), 1800);
        testsupport::show(control(QStringLiteral("sbDspDiglOffset")), 1200);
        QCOMPARE(offsets.count(), 2);
        QCOMPARE(offsets.last(), (QVariantList{1200, -1800}));
        m_panel->announceDigOffsets();
        QCOMPARE(offsets.count(), 3);
        QCOMPARE(offsets.last(), offsets.at(1));
    }

    void defaultButtons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QVariantMap>("values");
        const auto agc = [](const char* preset, double attack, double decay, double hang) {
            return QVariantMap{{QStringLiteral("sbDspRxAgcAttack") + preset, attack},
                               {QStringLiteral("sbDspRxAgcDecay") + preset, decay},
                               {QStringLiteral("sbDspRxAgcHangTime") + preset, hang}};
        };
        QTest::newRow("AGC Long") << "pbDspRxAgcDefaultLong" << agc("Long", 1.0, 800, 800);
        QTest::newRow("AGC Slow") << "pbDspRxAgcDefaultSlow" << agc("Slow", 1.0, 500, 500);
        QTest::newRow("AGC Med") << "pbDspRxAgcDefaultMed" << agc("Med", 1.0, 250, 250);
        QTest::newRow("AGC Fast") << "pbDspRxAgcDefaultFast" << agc("Fast", 0.7, 100, 100);
        QTest::newRow("NR") << "pbDefaultNR"
                            << QVariantMap{{"sbDspRxNrTaps", 98}, {"sbDspRxNrDelay", 20}, {"sbDspRxNrGain", 0.001}, {"sbDspRxNrLeak", 0.00002}};
        QTest::newRow("ANF") << "pbDefaultANF"
                             << QVariantMap{{"sbDspRxAnfTaps", 65}, {"sbDspRxAnfDelay", 64}, {"sbDspRxAnfGain", 0.0007}, {"sbDspRxAnfLeak", 0.00001}};
        QTest::newRow("NB1") << "pbDefaultNB1" << QVariantMap{{"sbDspRxNb1Threshold", 2.65}};
        QTest::newRow("NB2") << "pbDefaultNB2" << QVariantMap{{"sbDspRxNb2Threshold", 2.48}};
        QTest::newRow("filter taps") << "pbDspRxFilterTapsDefault"
                                     << QVariantMap{{"sbDsp39kHzFilterTapsSSB", 1537}, {"sbDsp39kHzFilterTapsAM", 1537},
                                                    {"sbDsp39kHzFilterTapsDIG", 1537}, {"sbDsp39kHzFilterTapsCW", 1537}};
    }
    void defaultButtons()
    {
        QFETCH(QString, button);
        QFETCH(QVariantMap, values);
        for (auto it = values.cbegin(); it != values.cend(); ++it) { // away from the default first
            change(it.key());
            if (value(it.key()) == it.value().toDouble())
                change(it.key());
        }
        m_options->findChild<QPushButton*>(button)->click();
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            QVERIFY(agree(it.key(), it.value().toDouble()));
    }
};

QTEST_MAIN(TestDspPanel)
#include "tst_dsppanel.moc"
