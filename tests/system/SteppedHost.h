#pragma once

#include "DeviceFunctionsAbstract.h"
#include "Lockstep.h"
#include "SystemHost.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <vector>

// The plug-in loaded as the host loads it, streaming (at 312500 Hz unless
// changed) from an unpaced emulator that runs in step with the test
// (Lockstep): receiver 0 channel 0 alone, main volume at -10 dB, the main
// output open and pulled. Signal time is counted in IQ packets, never on the
// clock; a wait gives up only when the stream makes no progress for long.
namespace systest {

class SteppedHost {
public:
    enum Mode { AM = 0, SAM, DSB, LSB, USB, CW, NFM, DIGL, DIGU, WFM, DRM };
    static constexpr double kAnswerRate = 39062.5;
    static constexpr double kMainRate = 48000.0;
    static constexpr int kStalledMs = 20000;
    static constexpr int kMainVolumeDb = -10;

    struct Audio {
        std::vector<double> left, right;
    };

    // Empty on success, else what failed.
    QString start(quint16 port, const zorvani::sim::Scene& scene)
    {
        if (!LoadedPlugin::isolateHome(m_home))
            return QStringLiteral("no private home");
        zorvani::sim::Config c;
        c.port = port;
        c.scene = scene;
        c.logCommands = false;
        c.paced = false;
        c.fastWindow = 8;
        c.resendAfterMs = 5000; // a slow answer is late, not lost
        const QString failed = plugin.attachEmulator(sim, c);
        if (!failed.isEmpty())
            return failed;
        pump = std::make_unique<Lockstep>(*sim, plugin.bridge.hostSoundOut().engine());
        pump->start(device());
        if (!device()->open())
            return QStringLiteral("the emulator was not found");
        // Audio from the first packet on: the stream only moves as it comes out.
        device()->setRxEnable(0, true);
        device()->setChannelEnable(0, 0, true);
        // Headroom: the envelope modes keep the carrier as a constant level.
        device()->setMainVolume(kMainVolumeDb);
        device()->setVolume(0, 0, 0);
        if (!device()->start())
            return QStringLiteral("the stream did not start");
        pump->release();
        if (!setRate(3))
            return QStringLiteral("the stream did not restart at 312500 Hz");
        return {};
    }

    void stop()
    {
        if (pump)
            pump->stop();
        plugin.unload();
        sim.reset();
    }

    DeviceAbstract* device() const { return plugin.device(); }

    // Stream rate index 0..3 (39062.5 .. 312500 Hz), through the options page.
    bool setRate(int index)
    {
        if (sim->state().rateIndex == index)
            return true;
        if (!pump->hold())
            return false;
        plugin.option<QComboBox>("cbSampleRate")->setCurrentIndex(index);
        const bool restarted =
            sim->waitUntil([&] { return sim->state().streaming && sim->state().rateIndex == index; }, 5000);
        pump->release();
        return restarted;
    }

    // Through the host's setters: frequency, mode, filter (the catalogue's
    // choice; -1: the mode's default, the widest for WFM, whose stereo
    // multiplex reaches 53 kHz) and the mode's default AGC.
    bool tune(int mode, double hz, int filterChoice = -1)
    {
        device()->setFreq(0, 0, hz);
        device()->setMode(0, 0, mode);
        const DeviceFunctionsAbstract* f = device()->functions();
        const uint choice = filterChoice >= 0 ? uint(filterChoice)
                            : mode == WFM    ? 8u
                                             : uint(f->defaultFilter(uint(mode)));
        const FilterEdges edges = f->filterEdges(mode, choice);
        device()->setFilter(0, 0, 0, edges.first, edges.second);
        device()->setAgc(0, 0, f->defaultAgc(uint(mode)));
        return sim->waitUntil([&] { return sim->state().freq[0] == quint64(std::llround(hz * 10)); }, 5000);
    }

    // Lets `seconds` of signal pass. The GUI thread keeps turning, so queued
    // signals (meters, stereo state) arrive.
    bool streamFor(double seconds)
    {
        const double packets = kAnswerRate * double(1 << sim->state().rateIndex) / 200.0 * seconds;
        const quint64 start = sim->counters().iqSent;
        quint64 last = start;
        QElapsedTimer still;
        still.start();
        while (double(sim->counters().iqSent - start) < packets) {
            QTest::qWait(5);
            const quint64 now = sim->counters().iqSent;
            if (now != last) {
                last = now;
                still.restart();
            } else if (still.elapsed() > kStalledMs) {
                qWarning().noquote() << "stream stalled:" << pump->describe();
                return false;
            }
        }
        return true;
    }

    // `seconds` of signal as heard in the answers to the receiver and at the main output.
    bool record(double seconds, Audio* answers, Audio* main)
    {
        pump->recordMain();
        if (!sim->waitUntil([&] { return pump->recording(); }, kStalledMs) || !streamFor(seconds))
            return false;
        const std::vector<float> pulled = pump->takeMain();
        const QVector<qint32> captured = sim->capture();
        *answers = Audio();
        *main = Audio();
        for (int i = 0; i + 1 < captured.size(); i += 2) {
            answers->left.push_back(captured[i] / 8388608.0);
            answers->right.push_back(captured[i + 1] / 8388608.0);
        }
        for (size_t i = 0; i + 1 < pulled.size(); i += 2) {
            main->left.push_back(pulled[i]);
            main->right.push_back(pulled[i + 1]);
        }
        return true;
    }

    LoadedPlugin plugin;
    std::unique_ptr<zorvani::sim::Simulator> sim;
    std::unique_ptr<Lockstep> pump;

private:
    QTemporaryDir m_home;
};

} // namespace systest
