// The options' "DSP" page drives the engine: every control reaches its
// parameter from the start and on every change, and each "Default" button
// puts its documented values into the controls and so into the engine.
#include "ZorvaniControl/DspPanelZorvani.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include <functional>
#include <memory>

namespace {
using Reader = std::function<double(const zorvaniDsp&)>;

ReceiverZorvani::StageSettings stage(const zorvaniDsp& d)
{
    return d.receiver(0)->stageSettings();
}

// What the engine holds for each control, in the control's own units.
const QHash<QString, Reader>& readers()
{
    static const QHash<QString, Reader> table = [] {
        QHash<QString, Reader> t;
        t["sbDspRxNrTaps"] = [](const zorvaniDsp& d) { return stage(d).nr.taps; };
        t["sbDspRxNrDelay"] = [](const zorvaniDsp& d) { return stage(d).nr.delay; };
        t["sbDspRxNrGain"] = [](const zorvaniDsp& d) { return stage(d).nr.rate; };
        t["sbDspRxNrLeak"] = [](const zorvaniDsp& d) { return stage(d).nr.leak; };
        t["sbDspRxAnfTaps"] = [](const zorvaniDsp& d) { return stage(d).anf.taps; };
        t["sbDspRxAnfDelay"] = [](const zorvaniDsp& d) { return stage(d).anf.delay; };
        t["sbDspRxAnfGain"] = [](const zorvaniDsp& d) { return stage(d).anf.rate; };
        t["sbDspRxAnfLeak"] = [](const zorvaniDsp& d) { return stage(d).anf.leak; };
        t["sbDspRxNb1Threshold"] = [](const zorvaniDsp& d) { return d.nb1Threshold(); };
        t["sbDspRxNb2Threshold"] = [](const zorvaniDsp& d) { return d.nb2Threshold(); };
        t["sbDspApfSupression"] = [](const zorvaniDsp& d) { return stage(d).cwApfGain; };
        t["sbDspApfQuality"] = [](const zorvaniDsp& d) { return stage(d).cwApfQuality; };
        t["sbDspSsbApfSupression"] = [](const zorvaniDsp& d) { return stage(d).ssbApfGain; };
        t["sbDspSsbApfQuality"] = [](const zorvaniDsp& d) { return stage(d).ssbApfQuality; };
        t["sbDspSsbApfFreq"] = [](const zorvaniDsp& d) { return stage(d).ssbApfFrequency; };
        t["sbDspDseQuality"] = [](const zorvaniDsp& d) { return stage(d).binauralTaps; };
        t["chbDspDseSwap"] = [](const zorvaniDsp& d) { return stage(d).binauralSwap ? 1.0 : 0.0; };
        t["chbDspWfmUsa"] = [](const zorvaniDsp& d) { return stage(d).wfmUsa ? 1.0 : 0.0; };
        // The engine shifts by the negated offsets.
        t["sbDspDiglOffset"] = [](const zorvaniDsp& d) { return -stage(d).diglOffset; };
        t["sbDspDiguOffset"] = [](const zorvaniDsp& d) { return -stage(d).diguOffset; };
        const char* taps[] = {"sbDsp39kHzFilterTapsSSB", "sbDsp39kHzFilterTapsAM", "sbDsp39kHzFilterTapsDIG",
                              "sbDsp39kHzFilterTapsCW"};
        for (int c = 0; c < 4; ++c)
            t[taps[c]] = [c](const zorvaniDsp& d) { return d.firTaps(c); };
        const char* presets[] = {"Long", "Slow", "Med", "Fast", "_User"};
        for (int p = 0; p < zorvaniDsp::kAgcPresets; ++p) {
            const QString group = QLatin1String(presets[p]);
            t["sbDspRxAgcAttack" + group] = [p](const zorvaniDsp& d) { return d.agcPreset(p).attack; };
            t["sbDspRxAgcDecay" + group] = [p](const zorvaniDsp& d) { return d.agcPreset(p).decay; };
            t["sbDspRxAgcHangTime" + group] = [p](const zorvaniDsp& d) { return double(d.agcPreset(p).hang); };
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

    QWidget* control(const QString& name)
    {
        QWidget* w = m_options->findChild<QWidget*>(name);
        Q_ASSERT_X(w, "control", qPrintable(name));
        return w;
    }

    double shown(const QString& name)
    {
        QWidget* w = control(name);
        if (auto* box = qobject_cast<QCheckBox*>(w))
            return box->isChecked() ? 1.0 : 0.0;
        if (auto* spin = qobject_cast<QSpinBox*>(w))
            return spin->value();
        return qobject_cast<QDoubleSpinBox*>(w)->value();
    }

    void show(const QString& name, double value)
    {
        QWidget* w = control(name);
        if (auto* box = qobject_cast<QCheckBox*>(w))
            box->setChecked(value != 0.0);
        else if (auto* spin = qobject_cast<QSpinBox*>(w))
            spin->setValue(int(value));
        else
            qobject_cast<QDoubleSpinBox*>(w)->setValue(value);
    }

    // Another value inside the control's range, so that a change is seen.
    double otherValue(const QString& name)
    {
        QWidget* w = control(name);
        if (qobject_cast<QCheckBox*>(w))
            return shown(name) != 0.0 ? 0.0 : 1.0;
        if (auto* spin = qobject_cast<QSpinBox*>(w))
            return spin->value() == spin->minimum() ? spin->maximum() : spin->minimum();
        auto* spin = qobject_cast<QDoubleSpinBox*>(w);
        return spin->value() == spin->minimum() ? spin->maximum() : spin->minimum();
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

    // The engine starts with what the page shows, not with its own defaults.
    void engineStartsWithThePage()
    {
        for (auto it = readers().cbegin(); it != readers().cend(); ++it)
            QVERIFY2(qFuzzyCompare(1.0 + it.value()(*m_dsp), 1.0 + shown(it.key())),
                     qPrintable(QStringLiteral("%1 shows %2, the engine holds %3")
                                    .arg(it.key())
                                    .arg(shown(it.key()))
                                    .arg(it.value()(*m_dsp))));
    }

    void everyControlReachesTheEngine_data()
    {
        QTest::addColumn<QString>("name");
        for (auto it = readers().cbegin(); it != readers().cend(); ++it)
            QTest::newRow(qPrintable(it.key())) << it.key();
    }
    void everyControlReachesTheEngine()
    {
        QFETCH(QString, name);
        const double value = otherValue(name);
        show(name, value);
        QCOMPARE(shown(name), value);
        QCOMPARE(readers()[name](*m_dsp), value);
    }

    void digOffsetsAnnounced()
    {
        QSignalSpy offsets(m_panel.get(), &DspPanelZorvani::digOffsetsChanged);
        show(QStringLiteral("sbDspDiguOffset"), 1800);
        show(QStringLiteral("sbDspDiglOffset"), 1200);
        QCOMPARE(offsets.count(), 2);
        QCOMPARE(offsets.last().at(0).toInt(), 1200);
        QCOMPARE(offsets.last().at(1).toInt(), -1800);
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
                            << QVariantMap{{"sbDspRxNrTaps", 98}, {"sbDspRxNrDelay", 20},
                                           {"sbDspRxNrGain", 0.001}, {"sbDspRxNrLeak", 0.00002}};
        QTest::newRow("ANF") << "pbDefaultANF"
                             << QVariantMap{{"sbDspRxAnfTaps", 65}, {"sbDspRxAnfDelay", 64},
                                            {"sbDspRxAnfGain", 0.0007}, {"sbDspRxAnfLeak", 0.00001}};
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
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            double before = otherValue(it.key());
            if (before == it.value().toDouble())
                before = shown(it.key());
            show(it.key(), before);
            QVERIFY(shown(it.key()) != it.value().toDouble());
        }
        qobject_cast<QPushButton*>(control(button))->click();
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            const double want = it.value().toDouble();
            QVERIFY2(qFuzzyCompare(1.0 + shown(it.key()), 1.0 + want),
                     qPrintable(QStringLiteral("%1 shows %2").arg(it.key()).arg(shown(it.key()))));
            QVERIFY2(qFuzzyCompare(1.0 + readers()[it.key()](*m_dsp), 1.0 + want),
                     qPrintable(QStringLiteral("engine %1 for %2").arg(readers()[it.key()](*m_dsp)).arg(it.key())));
        }
    }
};

QTEST_MAIN(TestDspPanel)
#include "tst_dsppanel.moc"
