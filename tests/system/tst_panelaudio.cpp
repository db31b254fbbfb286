// Options that change what is heard, checked on the audio the receiver gets
// back, through the plug-in loaded the way the host loads it: the AGC presets
// and the noise-reduction taps; and the changes that restart a running
// stream (sample rate, external reference) bring the audio back.
#include "SystemHost.h"
#include "ToneAnalysis.h"
#include "WireOrder.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

using zorvani::sim::Config;
using zorvani::sim::Scene;
using zorvani::sim::Simulator;

namespace {
constexpr quint16 kPort = 53820;
constexpr double kAnswerRate = 39062.5;
constexpr int kStation = 1; // the USB station's index in the scene
constexpr double kStationDbfs = -50.0;
constexpr quint16 kCmdStart = 1;
constexpr quint16 kCmdStop = 2;
constexpr quint16 kCmdBandScope = 34;
// What follows the Stop of a restart: the whole start sequence.
const QList<int> kStartSequence = {26, 14, 16, 5, 27, 29, kCmdStart, 7, 41, kCmdBandScope};
constexpr quint32 kLockedWithExternal = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x40 | 0x80 | 0x100 | 0x800;
} // namespace

class TestPanelAudio : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    systest::LoadedPlugin m_plugin;

    DeviceAbstract* device() { return m_plugin.device(); }

    void setValue(const char* name, double v)
    {
        if (auto* d = m_plugin.option<QDoubleSpinBox>(name))
            d->setValue(v);
        else
            m_plugin.option<QSpinBox>(name)->setValue(int(v));
    }

    // The last `frames` left-channel frames answered from now on, full scale 1.
    std::vector<double> answered(int frames)
    {
        m_sim->clearCapture();
        std::vector<double> left;
        if (!m_sim->waitUntil([&] { return m_sim->captureFrames() >= frames; }, 10000))
            return left;
        const QVector<qint32> c = m_sim->capture();
        for (int i = c.size() / 2 - frames; i < c.size() / 2; ++i)
            left.push_back(double(c[2 * i]) / 8388608.0);
        return left;
    }

    static double levelDb(const std::vector<double>& x)
    {
        double sum = 0.0;
        for (double v : x)
            sum += v * v;
        return x.empty() ? qQNaN() : 10.0 * std::log10(sum / double(x.size()) + 1e-30);
    }

    // The answered level once two successive 50 ms windows agree within 0.5 dB
    // and it is not silence (NaN after 10 s without).
    double steadyLevel()
    {
        double previous = qQNaN();
        for (int window = 0; window < 200; ++window) {
            const double level = levelDb(answered(2048));
            if (level > -100.0 && std::abs(level - previous) < 0.5)
                return level;
            previous = level;
        }
        return qQNaN();
    }

    // Lets `seconds` of stream pass (counted in the emulator's packets).
    bool streamFor(double seconds)
    {
        const quint64 until = m_sim->counters().iqSent + quint64(kAnswerRate / 200.0 * seconds);
        return QTest::qWaitFor([&] { return m_sim->counters().iqSent >= until; }, int(seconds * 1000) + 5000);
    }

    // After a restart: `before` the start sequence, then the stream and its audio back.
    void verifyRestart(const QList<int>& before)
    {
        // The band scope follows 100 ms after the Start, on this thread's timer.
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->commands(kCmdBandScope).isEmpty(), 3000);
        const QString mismatch = systest::wireMismatch(m_sim->commandLog(), before + kStartSequence);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QVERIFY(device()->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->state().streaming, 2000);
        const std::vector<double> audio = answered(8192);
        QVERIFY2(audio.size() == 8192, "no audio after the restart");
        const systest::Tone t = systest::strongestTone(audio, kAnswerRate, 150.0, 3000.0);
        QVERIFY2(std::abs(t.hz - 1000.0) < 10.0 && t.dominance > 0.5,
                 qPrintable(QStringLiteral("%1 Hz holding %2 of the audio").arg(t.hz).arg(t.dominance)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(systest::LoadedPlugin::isolateHome(m_home));
        Config c;
        c.port = kPort;
        c.statusBits = kLockedWithExternal;
        QVERIFY(Scene::parse(QStringLiteral("noise -150; usb 7100000 %1 tone=1000").arg(kStationDbfs), &c.scene,
                             nullptr));
        const QString error = m_plugin.attachEmulator(m_sim, c);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(m_plugin.manager.deviceMenu(), 2000);
        QVERIFY(device()->open());
        QVERIFY(device()->start());
        device()->setRxEnable(0, true);
        device()->setChannelEnable(0, 0, true);
        // Far from full scale, so that the AGC's level is what is heard.
        device()->setMainVolume(-20);
        device()->setVolume(0, 0, 0);
        device()->setFreq(0, 0, 7100000.0);
        device()->setMode(0, 0, 4); // USB: the station is a 1 kHz tone
        device()->setFilter(0, 0, 0, 100.0, 2900.0);
        QVERIFY(streamFor(0.5));
    }

    void cleanupTestCase()
    {
        m_plugin.unload();
        QVERIFY2(m_plugin.seen.isEmpty(), qPrintable(m_plugin.boxes.join(QLatin1Char(','))));
    }

    void init() { m_sim->clearCommandLog(); }

    // A preset's hang and decay, set on the page, decide whether the AGC
    // holds its gain when the station drops by 30 dB or brings it back up.
    void agcPresetsOnTheAudio_data()
    {
        QTest::addColumn<QString>("preset");
        QTest::newRow("Long") << "Long";
        QTest::newRow("Slow") << "Slow";
        QTest::newRow("Med") << "Med";
        QTest::newRow("Fast") << "Fast";
        QTest::newRow("User") << "_User";
    }
    void agcPresetsOnTheAudio()
    {
        QFETCH(QString, preset);
        const QByteArray decay = "sbDspRxAgcDecay" + preset.toLatin1();
        const QByteArray hang = "sbDspRxAgcHangTime" + preset.toLatin1();
        const auto setTimes = [&](double ms) {
            setValue(decay.constData(), ms);
            setValue(hang.constData(), ms);
        };
        // Each change fades the receiver out and in again; the level is read
        // once that has begun (the audio comes back late) and ended.
        const auto settled = [&] { return streamFor(0.2) ? steadyLevel() : qQNaN(); };
        device()->setAgc(0, 0, QStringList{"Long", "Slow", "Med", "Fast", "_User"}.indexOf(preset) + 1);
        setTimes(10);
        const double before = settled();
        QVERIFY2(before > -40.0, qPrintable(QStringLiteral("%1 dBFS").arg(before)));
        setTimes(5000);
        QVERIFY(std::abs(settled() - before) < 1.0);

        // The longest hang (3 s) holds the gain: 1.5 s after the drop reached
        // the audio it is still heard in full, which no preset's own times do.
        m_sim->setEmitterLevel(kStation, kStationDbfs - 30.0);
        QVERIFY(QTest::qWaitFor([&] { return levelDb(answered(1024)) < before - 20.0; }, 5000));
        QVERIFY(streamFor(1.5));
        const double held = levelDb(answered(4096));
        QVERIFY2(std::abs(held - (before - 30.0)) < 3.0,
                 qPrintable(QStringLiteral("%1 dBFS, then %2 dBFS while the gain should hold").arg(before).arg(held)));

        // With short times the gain comes back within a second of stream.
        setTimes(10);
        QVERIFY(streamFor(1.0));
        const double recovered = levelDb(answered(4096));
        QVERIFY2(std::abs(recovered - before) < 3.0,
                 qPrintable(QStringLiteral("%1 dBFS, back to %2 dBFS expected").arg(recovered).arg(before)));
        m_sim->setEmitterLevel(kStation, kStationDbfs);
        QVERIFY(!std::isnan(settled()));
    }

    // More taps make the noise reduction's predictor narrower: the tone
    // stands out further from the noise.
    void noiseReductionTapsOnTheAudio()
    {
        device()->setAgc(0, 0, 4);
        m_sim->setEmitterLevel(0, -110.0); // noise 4 dB above the tone in the passband
        m_sim->setEmitterLevel(kStation, -80.0);
        m_plugin.option<QPushButton>("pbDefaultNR")->click(); // adaptation rate 0.001
        device()->setNr(0, true);
        double dominance[2] = {};
        const int taps[2] = {2, 256};
        for (int i = 0; i < 2; ++i) {
            setValue("sbDspRxNrTaps", taps[i]);
            QVERIFY(streamFor(2.0));
            dominance[i] = systest::strongestTone(answered(16384), kAnswerRate, 150.0, 3000.0).dominance;
        }
        device()->setNr(0, false);
        m_sim->setEmitterLevel(0, -150.0);
        m_sim->setEmitterLevel(kStation, kStationDbfs);
        QVERIFY2(dominance[1] > 2.0 * dominance[0] && dominance[1] > 0.6,
                 qPrintable(QStringLiteral("the tone holds %1 of the audio with 2 taps, %2 with 256")
                                .arg(dominance[0])
                                .arg(dominance[1])));
    }

    void referenceAndLpfWhileStreaming_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("pll");
        QTest::addColumn<QString>("lpf");
        QTest::newRow("options") << "options" << "chbPll" << "chbLpf";
        QTest::newRow("device menu") << "menu" << "chbPll" << "chbLpf";
    }
    void referenceAndLpfWhileStreaming()
    {
        QFETCH(QString, where);
        QFETCH(QString, pll);
        QFETCH(QString, lpf);
        auto* lpfBox = m_plugin.control<QCheckBox>(where, qPrintable(lpf));
        auto* pllBox = m_plugin.control<QCheckBox>(where, qPrintable(pll));
        QVERIFY(lpfBox && pllBox);

        // The LPF switches on the running stream.
        for (int round = 0; round < 2; ++round) {
            m_sim->clearCommandLog();
            const bool on = !lpfBox->isChecked();
            lpfBox->setChecked(on);
            QTRY_COMPARE_WITH_TIMEOUT(m_sim->state().lpf, on, 2000);
            const QString mismatch = systest::wireMismatch(m_sim->commandLog(), {27});
            QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        }
        // The reference stops the stream, switches and starts it again.
        for (int round = 0; round < 2; ++round) {
            m_sim->clearCommandLog();
            const bool on = !pllBox->isChecked();
            pllBox->setChecked(on);
            QCOMPARE(m_sim->state().pll, on);
            verifyRestart({kCmdStop, 29});
        }
    }

    void sampleRateWhileStreaming_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("index");
        QTest::newRow("options: 78125") << "options" << 1;
        QTest::newRow("device menu: 156250") << "menu" << 2;
        QTest::newRow("options: back to 39062.5") << "options" << 0;
    }
    void sampleRateWhileStreaming()
    {
        QFETCH(QString, where);
        QFETCH(int, index);
        const double rates[] = {39062.5, 78125.0, 156250.0, 312500.0};
        QSignalSpy announced(device(), &DeviceAbstract::changedSampleRate);
        m_plugin.control<QComboBox>(where, "cbSampleRate")->setCurrentIndex(index);
        QVERIFY(m_sim->waitForCommand(kCmdStart, 3000));
        const QByteArray block = m_sim->commands(kCmdStart).last().bytes;
        QCOMPARE(int(quint8(block[56])), index);
        QCOMPARE(m_sim->state().rateIndex, index);
        QVERIFY(announced.count() >= 1);
        QCOMPARE(announced.last().at(0).toDouble(), rates[index]);
        verifyRestart({kCmdStop});
    }
};

QTEST_MAIN(TestPanelAudio)
#include "tst_panelaudio.moc"
