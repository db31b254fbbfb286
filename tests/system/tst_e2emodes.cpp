// End to end: the plug-in loaded through the minimal host, streaming from the
// emulator, tuned by the host's setters to one station per mode; the tone is
// measured both in the audio the receiver gets back and at the main output.
#include "SystemHost.h"
#include "ToneAnalysis.h"

#include "DeviceFunctionsAbstract.h"
#include "SceneGenerator.h"
#include "common/CircularBuffer.h"

#include <QSignalSpy>
#include <QtTest>

using zorvani::sim::Scene;
using zorvani::sim::Simulator;

namespace {
enum Mode { AM = 0, SAM, DSB, LSB, USB, CW, NFM, DIGL, DIGU, WFM, DRM };

// Expected audio frequency, from the station's tone and the options in force.
enum class Expect { Tone, CwPitch, DiguOffset, DiglOffset };

constexpr int kFrames = 8192;
constexpr int kMainFrames = 9600;
constexpr quint32 kPull = 480;
constexpr double kAnswerRate = 39062.5;
constexpr int kMeterEmitter = 1; // index in the scene below

Scene scene()
{
    Scene s;
    QString error;
    const bool ok = Scene::parse(QStringLiteral("seed 7\n"
                                                "noise -150\n"
                                                "carrier 6900000 -70\n"
                                                "am 7100000 -40 tone=1000 depth=0.6\n"
                                                "usb 7150000 -40 tone=700\n"
                                                "lsb 7200000 -40 tone=900\n"
                                                "carrier 7250000 -50\n"
                                                "nfm 7300000 -40 tone=1000 dev=2500\n"
                                                "usb 7350000 -40 tone=500\n"
                                                "lsb 7400000 -40 tone=2500\n"
                                                "carrier 7450000 -50\n"
                                                "wfm 8000000 -30 left=1000 right=2500\n"),
                                 &s, &error);
    Q_ASSERT_X(ok, "scene", qPrintable(error));
    return s;
}
} // namespace

class TestE2eModes : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<Simulator> m_sim;
    systest::LoadedPlugin m_plugin;

    DeviceAbstract* device() { return m_plugin.device(); }

    // Lets `seconds` of stream pass (counted in the emulator's packets).
    bool streamFor(double seconds)
    {
        const zorvani::sim::Counters before = m_sim->counters();
        const double packets = kAnswerRate * double(1 << m_sim->state().rateIndex) / 200.0 * seconds;
        // Keeps the event loop running: the meter and stereo signals are queued to this thread.
        QElapsedTimer timer;
        timer.start();
        while (double(m_sim->counters().iqSent - before.iqSent) < packets) {
            if (timer.elapsed() > qint64(seconds * 1000) + 3000)
                return false;
            QTest::qWait(10);
        }
        return true;
    }

    void tune(int mode, double hz)
    {
        device()->setFreq(0, 0, hz);
        device()->setMode(0, 0, mode);
        const DeviceFunctionsAbstract* f = device()->functions();
        // A broadcast FM station (75 kHz deviation, stereo multiplex up to 53 kHz)
        // needs the widest WFM choice; the catalogue's default (+-25 kHz) would
        // cut the pilot and the difference signal off.
        const uint choice = mode == WFM ? 8u : uint(f->defaultFilter(uint(mode)));
        const FilterEdges edges = f->filterEdges(mode, choice);
        device()->setFilter(0, 0, 0, edges.first, edges.second);
        device()->setAgc(0, 0, f->defaultAgc(uint(mode)));
    }

    // The last kFrames frames that came back in the answers, left and right.
    void answeredAudio(std::vector<double>* left, std::vector<double>* right)
    {
        m_sim->clearCapture();
        QVERIFY(m_sim->waitUntil([&] { return m_sim->captureFrames() >= kFrames; }, 5000));
        const QVector<qint32> c = m_sim->capture();
        const int frames = c.size() / 2;
        left->clear();
        right->clear();
        for (int i = frames - kFrames; i < frames; ++i) {
            left->push_back(double(c[2 * i]) / 8388608.0);
            right->push_back(double(c[2 * i + 1]) / 8388608.0);
        }
    }

    // kMainFrames frames of the main output at 48 kHz, pulled in 10 ms blocks
    // as the host's audio thread does, its reserve left in the ring. What is
    // queued when it starts predates the retune and is left out.
    void mainOutput(std::vector<double>* left, std::vector<double>* right)
    {
        StereoRing* ring = device()->soundCardSource();
        QVERIFY(ring);
        PullEngine& out = m_plugin.bridge.hostSoundOut().engine();
        const long stale = long(ring->fill());
        left->clear();
        right->clear();
        QElapsedTimer timer;
        timer.start();
        while (long(left->size()) < kMainFrames + stale && timer.elapsed() < 5000) {
            if (ring->fill() < kPull + ring->prefill()) {
                QTest::qWait(2);
                continue;
            }
            const std::vector<float> pulled = out.pullOnce(kPull);
            QCOMPARE(int(pulled.size()), 2 * int(kPull));
            for (quint32 i = 0; i < kPull; ++i) {
                left->push_back(pulled[2 * i]);
                right->push_back(pulled[2 * i + 1]);
            }
        }
        QVERIFY2(long(left->size()) >= kMainFrames + stale, "the main output ran dry");
        left->erase(left->begin(), left->begin() + stale);
        right->erase(right->begin(), right->begin() + stale);
    }

    static void verifyTone(const char* where, const std::vector<double>& x, double fs, double expected)
    {
        double energy = 0.0;
        for (double v : x)
            energy += v * v;
        QVERIFY2(energy > 1e-12, qPrintable(QStringLiteral("%1: silent").arg(where)));
        const systest::Tone t = systest::strongestTone(x, fs, 150.0, std::min(9000.0, fs / 2 - 500));
        // Two bins of the DFT: the interpolated peak is far closer for a clean tone.
        const double tolerance = 2.0 * fs / double(x.size());
        QVERIFY2(std::abs(t.hz - expected) < tolerance,
                 qPrintable(QStringLiteral("%1: strongest tone %2 Hz, expected %3 Hz").arg(where).arg(t.hz).arg(expected)));
        QVERIFY2(t.dominance > 0.5, qPrintable(QStringLiteral("%1: the %2 Hz tone holds only %3 of the band's power")
                                                   .arg(where).arg(t.hz).arg(t.dominance)));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(systest::LoadedPlugin::isolateHome(m_home));
        const QString failed = m_plugin.attachEmulator(m_sim, 53000, scene());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QVERIFY(device()->open());
        QVERIFY(device()->start());
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming; }, 2000));
        device()->setRxEnable(0, true);
        device()->setChannelEnable(0, 0, true);
        device()->setMainVolume(0);
        device()->setVolume(0, 0, 0);
        device()->setSoundCardOutput(true);
    }

    void cleanupTestCase()
    {
        m_plugin.unload();
        QVERIFY2(m_plugin.boxes.isEmpty(), qPrintable(m_plugin.boxes.join(QLatin1Char(','))));
        m_sim.reset();
    }

    void modes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("station");
        QTest::addColumn<int>("expect");
        QTest::addColumn<double>("tone");
        QTest::addColumn<double>("rightTone"); // 0: same as left; -1: not checked
        QTest::newRow("AM 1 kHz tone") << int(AM) << 7100000.0 << int(Expect::Tone) << 1000.0 << 0.0;
        QTest::newRow("SAM on the AM station") << int(SAM) << 7100000.0 << int(Expect::Tone) << 1000.0 << 0.0;
        QTest::newRow("DSB on the AM station") << int(DSB) << 7100000.0 << int(Expect::Tone) << 1000.0 << -1.0;
        QTest::newRow("LSB tone 900 Hz below") << int(LSB) << 7200000.0 << int(Expect::Tone) << 900.0 << 0.0;
        QTest::newRow("USB tone 700 Hz above") << int(USB) << 7150000.0 << int(Expect::Tone) << 700.0 << 0.0;
        QTest::newRow("CW carrier on frequency") << int(CW) << 7250000.0 << int(Expect::CwPitch) << 0.0 << 0.0;
        QTest::newRow("NFM 1 kHz tone") << int(NFM) << 7300000.0 << int(Expect::Tone) << 1000.0 << 0.0;
        QTest::newRow("DIGU tone 500 Hz above") << int(DIGU) << 7350000.0 << int(Expect::DiguOffset) << 500.0 << 0.0;
        QTest::newRow("DIGL tone 2500 Hz below") << int(DIGL) << 7400000.0 << int(Expect::DiglOffset) << 2500.0 << 0.0;
        QTest::newRow("DRM carrier centred") << int(DRM) << 7450000.0 << int(Expect::Tone) << 5200.0 << 0.0;
        QTest::newRow("WFM stereo at 312500") << int(WFM) << 8000000.0 << int(Expect::Tone) << 1000.0 << 2500.0;
    }
    void modes()
    {
        QFETCH(int, mode);
        QFETCH(double, station);
        QFETCH(int, expect);
        QFETCH(double, tone);
        QFETCH(double, rightTone);

        double expected = tone;
        switch (Expect(expect)) {
        case Expect::Tone:
            break;
        case Expect::CwPitch:
            expected = m_plugin.option<QSpinBox>("sbCwPitch")->value();
            break;
        case Expect::DiguOffset: // the panel's offset (Hz) moves the signal up by as much
            expected = tone + m_plugin.option<QSpinBox>("sbDspDiguOffset")->value();
            break;
        case Expect::DiglOffset: // ... and the lower sideband, heard mirrored, down
            expected = tone - m_plugin.option<QSpinBox>("sbDspDiglOffset")->value();
            break;
        }
        if (mode == WFM) {
            // The wide station needs the widest stream; the panel restarts it.
            auto* rate = m_plugin.option<QComboBox>("cbSampleRate");
            rate->setCurrentIndex(3);
            QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming && m_sim->state().rateIndex == 3; }, 3000));
            device()->setWfmStereo(0, true);
        }
        tune(mode, station);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->state().freq[0] == quint64(station * 10), 2000);
        QVERIFY(streamFor(mode == WFM ? 1.5 : 1.0)); // fader, AGC and (WFM) pilot lock

        std::vector<double> left, right;
        answeredAudio(&left, &right);
        verifyTone("answers, left", left, kAnswerRate, expected);
        // DSB keeps the quadrature part on the right: nothing for a symmetric AM signal.
        if (rightTone >= 0)
            verifyTone("answers, right", right, kAnswerRate, rightTone > 0 ? rightTone : expected);

        mainOutput(&left, &right);
        verifyTone("main output, left", left, 48000.0, expected);
        if (rightTone >= 0)
            verifyTone("main output, right", right, 48000.0, rightTone > 0 ? rightTone : expected);
        if (mode == WFM)
            QVERIFY2(m_plugin.manager.wfmStereo(0), "the pilot was detected and reported");
    }

    // The meter of receiver 0 channel 0 follows a 20 dB step of a carrier.
    void meterFollowsLevelStep()
    {
        auto* rate = m_plugin.option<QComboBox>("cbSampleRate");
        rate->setCurrentIndex(0);
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().streaming && m_sim->state().rateIndex == 0; }, 3000));
        tune(AM, 6900000.0);
        QVERIFY(m_sim->waitUntil([&] { return m_sim->state().freq[0] == 69000000ull; }, 2000));

        auto meanLevel = [&](double seconds) {
            QCoreApplication::processEvents(); // older readings go before the window opens
            QSignalSpy meter(device(), &DeviceAbstract::dBmMeter);
            if (!streamFor(seconds))
                return qQNaN();
            double sum = 0.0;
            int n = 0;
            for (const QList<QVariant>& args : meter) {
                if (args[0].toUInt() == 0 && args[1].toUInt() == 0) {
                    sum += args[2].toDouble();
                    ++n;
                }
            }
            return n >= 5 ? sum / n : qQNaN();
        };
        QVERIFY(streamFor(2.0)); // the meter falls slowly from the WFM station's level
        const double before = meanLevel(1.0);
        m_sim->setEmitterLevel(kMeterEmitter, -50.0);
        QVERIFY(streamFor(1.0));
        const double after = meanLevel(1.0);
        QVERIFY2(qIsFinite(before) && qIsFinite(after), "too few meter readings");
        QVERIFY2(std::abs((after - before) - 20.0) <= 1.0,
                 qPrintable(QStringLiteral("meter %1 dBm -> %2 dBm").arg(before).arg(after)));
    }

    // The emulator's level change itself: exactly 20 dB more amplitude, same phase.
    void emulatorLevelChangeIsExact()
    {
        Scene s = scene();
        zorvani::sim::SceneGenerator a(s, 1), b(s, 1);
        a.setTuning(6900000.0 + 1000.0, 39062.5);
        b.setTuning(6900000.0 + 1000.0, 39062.5);
        std::vector<Ostrovix::complex<double>> x(400), y(400);
        a.setLevel(0, -400.0);
        b.setLevel(0, -400.0);
        b.setLevel(kMeterEmitter, -50.0);
        a.generate(x.data(), 400);
        b.generate(y.data(), 400);
        for (int i = 0; i < 400; ++i) {
            QVERIFY(std::abs(y[size_t(i)].re - 10.0 * x[size_t(i)].re) < 1e-12);
            QVERIFY(std::abs(y[size_t(i)].im - 10.0 * x[size_t(i)].im) < 1e-12);
        }
    }
};

QTEST_MAIN(TestE2eModes)
#include "tst_e2emodes.moc"
