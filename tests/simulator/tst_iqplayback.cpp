// IQ playback in the emulator: recordings written by the plug-in's own IQ
// file writer are read back in all three layouts, the transport pauses, loops
// and seeks, and the emulator streams the recorded samples unchanged.
#include "IqPlayback.h"
#include "Protocol.h"
#include "SimClient.h"
#include "Simulator.h"
#include "recording/IQFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <vector>

using namespace zorvani::sim;
using namespace zorvani::sim::proto;

namespace {

constexpr int kFramesPerPacket = 200;
constexpr double kFullScale = 8388607.0;

// Frame f, channel c: distinct values small enough for the x100 layout.
qint32 recordedValue(qint64 f, int c)
{
    return qint32((f * 37 + c * 11) % 160001) - 80000;
}

// Writes `packets` packets of recordedValue() with the plug-in's writer.
bool writeRecording(const QString& path, int format, double rateHz, double centreHz, int packets)
{
    ox::file::IQFile file;
    file.setFormat(ox::file::IQFile::Format(format));
    file.setSampleRate(rateHz);
    file.setFrequency(centreHz);
    if (!file.open(path))
        return false;
    // The writer's ring holds all of these packets at once.
    std::vector<unsigned char> payload(ox::file::IQFile::kPacketBytes);
    for (int p = 0; p < packets; ++p) {
        for (int i = 0; i < kFramesPerPacket; ++i)
            for (int c = 0; c < 2; ++c)
                wr24(reinterpret_cast<char*>(payload.data()) + 6 * i + 3 * c,
                     recordedValue(qint64(p) * kFramesPerPacket + i, c));
        file.writePacket(payload.data());
    }
    // Bytes still in the ring at the stop are not written: wait for them first.
    const quint64 total = quint64(packets) * payload.size();
    const bool written = QTest::qWaitFor([&] { return file.dataBytes() == total; }, 5000);
    file.stop();
    return written && file.dataBytes() == total;
}

void patch32(const QString& path, qint64 at, quint32 value)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray v(4, '\0');
    wr32(v, 0, value);
    f.seek(at);
    f.write(v);
}

} // namespace

class TestIqPlayback : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString recording(const QString& name, int format, double rateHz, double centreHz, int packets)
    {
        const QString path = m_dir.filePath(name);
        if (!QFile::exists(path) && !writeRecording(path, format, rateHz, centreHz, packets))
            return {};
        return path;
    }

private slots:
    void layouts_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("centre");
        QTest::addColumn<bool>("hasCentre");
        QTest::newRow("0: vmsd, 39062.5 Hz") << 0 << 39062.5 << 7100000.0 << true;
        QTest::newRow("1: plain, 312500 Hz") << 1 << 312500.0 << 7100000.0 << false;
        QTest::newRow("2: auxi, 78125 Hz") << 2 << 78125.0 << 14250000.0 << true;
        QTest::newRow("2: auxi, 156250 Hz, fraction of a hertz") << 2 << 156250.0 << 3573000.7 << true;
    }
    void layouts()
    {
        QFETCH(int, format);
        QFETCH(double, rate);
        QFETCH(double, centre);
        QFETCH(bool, hasCentre);
        const int packets = 25;
        const QString path = recording(QStringLiteral("layout%1-%2.wav").arg(format).arg(rate), format, rate, centre,
                                       packets);
        QVERIFY(!path.isEmpty());

        IqWavFile file;
        QString error;
        QVERIFY2(file.open(path, &error), qPrintable(error));
        const IqWavInfo& info = file.info();
        QCOMPARE(info.format, format);
        QCOMPARE(info.rateHz, rate);
        QCOMPARE(info.frames, qint64(packets) * kFramesPerPacket);
        QCOMPARE(info.hasCentre, hasCentre);
        if (hasCentre) // the auxi layout keeps whole hertz only
            QCOMPARE(info.centreHz, format == 2 ? std::floor(centre) : centre);

        std::vector<Ostrovix::complex<double>> frames(size_t(info.frames) + 3);
        file.read(0, frames.data(), int(frames.size()));
        double worst = 0.0;
        for (qint64 f = 0; f < info.frames; ++f) {
            worst = std::max(worst, std::abs(frames[size_t(f)].re * kFullScale - recordedValue(f, 0)));
            worst = std::max(worst, std::abs(frames[size_t(f)].im * kFullScale - recordedValue(f, 1)));
        }
        // Layout 0 keeps the device's values; the scaled ones lose less than one step by truncation.
        QVERIFY2(worst < (format == 0 ? 1e-6 : 1.0), qPrintable(QStringLiteral("off by %1 steps").arg(worst)));
        for (size_t f = size_t(info.frames); f < frames.size(); ++f)
            QVERIFY(frames[f].re == 0.0 && frames[f].im == 0.0);
    }

    // A header left unfinished (the program ended while recording) or wrong
    // reads the samples up to the end of the file.
    void unfinishedSizes_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<quint32>("value");
        QTest::newRow("0: RIFF size never written") << 0 << qint64(4) << 0u;
        QTest::newRow("1: data size never written") << 1 << qint64(40) << 0u;
        QTest::newRow("2: data size beyond the file") << 2 << qint64(212) << 0x7FFFFFF0u;
    }
    void unfinishedSizes()
    {
        QFETCH(int, format);
        QFETCH(qint64, at);
        QFETCH(quint32, value);
        const QString path = m_dir.filePath(QStringLiteral("unfinished%1.wav").arg(format));
        QVERIFY(writeRecording(path, format, 39062.5, 7000000.0, 3));
        patch32(path, at, value);
        IqWavFile file;
        QString error;
        QVERIFY2(file.open(path, &error), qPrintable(error));
        QCOMPARE(file.info().frames, qint64(3 * kFramesPerPacket));
    }

    void refusals_data()
    {
        QTest::addColumn<qint64>("at");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QString>("why");
        QTest::newRow("not RIFF") << qint64(0) << 0u << "no RIFF/WAVE header";
        QTest::newRow("16-bit samples") << qint64(32) << 0x00100004u << "24-bit";
        QTest::newRow("44100 Hz") << qint64(24) << 44100u << "44100 Hz";
        QTest::newRow("unknown chunk") << qint64(36) << 0x4B4E554Au << "layouts";
    }
    void refusals()
    {
        QFETCH(qint64, at);
        QFETCH(quint32, value);
        QFETCH(QString, why);
        const QString path = m_dir.filePath(QStringLiteral("refused.wav"));
        QFile::remove(path);
        QVERIFY(writeRecording(path, 1, 39062.5, 0.0, 1));
        patch32(path, at, value);
        IqWavFile file;
        QString error;
        QVERIFY(!file.open(path, &error));
        QVERIFY2(error.contains(why), qPrintable(error));
        QVERIFY(!IqPlayback::open(path, 0.0, &error));
    }

    void transport()
    {
        const QString path = recording(QStringLiteral("transport.wav"), 0, 39062.5, 7100000.0, 10);
        QVERIFY(!path.isEmpty());
        QString error;
        const auto playback = IqPlayback::open(path, 0.0, &error);
        QVERIFY2(playback, qPrintable(error));
        const qint64 frames = playback->info().frames;
        std::vector<Ostrovix::complex<double>> block(kFramesPerPacket);
        auto firstFrame = [&] {
            playback->next(block.data(), int(block.size()), 0);
            for (qint64 f = 0; f < frames; ++f) // the frame whose values the block starts with
                if (std::lround(block[0].re * kFullScale) == recordedValue(f, 0) &&
                    std::lround(block[0].im * kFullScale) == recordedValue(f, 1))
                    return f;
            return qint64(-1);
        };
        QCOMPARE(firstFrame(), qint64(0));
        QCOMPARE(firstFrame(), qint64(200));

        playback->seek(1000.0 / 39062.5);
        QCOMPARE(playback->positionSeconds(), 1000.0 / 39062.5);
        QCOMPARE(firstFrame(), qint64(1000));

        playback->setPaused(true);
        playback->next(block.data(), int(block.size()), 0);
        QVERIFY(block[7].re == 0.0 && block[7].im == 0.0);
        playback->setPaused(false);
        QCOMPARE(firstFrame(), qint64(1200));

        // The end: zeros without loop, the start again with it.
        playback->seek(1e9);
        QCOMPARE(playback->positionSeconds(), double(frames) / 39062.5);
        playback->next(block.data(), int(block.size()), 0);
        QVERIFY(playback->atEnd());
        QVERIFY(block[0].re == 0.0 && block[199].im == 0.0);
        playback->setLoop(true);
        playback->seek(double(frames - 50) / 39062.5);
        playback->next(block.data(), int(block.size()), 0);
        QCOMPARE(std::lround(block[49].re * kFullScale), long(recordedValue(frames - 1, 0)));
        QCOMPARE(std::lround(block[50].re * kFullScale), long(recordedValue(0, 0)));
        QVERIFY(!playback->atEnd());
    }

    // The emulator sends the recorded values in its IQ packets.
    void streamsRecording()
    {
        const QString path = recording(QStringLiteral("stream.wav"), 2, 78125.0, 7100000.0, 20);
        QVERIFY(!path.isEmpty());
        Config config;
        // A range no other test uses: two emulators on one port would answer each other.
        config.port = quint16(60000 + QCoreApplication::applicationPid() % 4000);
        config.paced = false;
        config.logCommands = false;
        Simulator sim(config);
        QVERIFY(sim.start());
        QString error;
        const auto playback = sim.play(path, &error);
        QVERIFY2(playback, qPrintable(error));
        QCOMPARE(sim.playback(), playback);

        SimClient client;
        QByteArray start(50, '\0');
        for (int i = 0; i < 8; ++i)
            wr32(start, 4 * i, kRateParams[1][size_t(i)]);
        wr16(start, 36, 1);
        wr16(start, 38, 1);
        wr16(start, 40, 1);
        client.send(packet(kMagicApp, CmdStart, 0, 1, start), config.address, config.port);
        QCOMPARE(rd32(client.receive(2000, CmdStart), 10), 1u);
        for (int k = 0; k < 5; ++k) {
            const QByteArray iq = client.receive(2000, kIqMark);
            QCOMPARE(iq.size(), kIqPacketBytes);
            for (int i = 0; i < kFramesPerPacket; i += 37) {
                const qint64 f = qint64(k) * kFramesPerPacket + i;
                // Layout 2 scaled by 10^1.5 and back: within one step.
                QVERIFY(std::abs(rd24(iq.constData() + 10 + 6 * i) - recordedValue(f, 0)) <= 1);
                QVERIFY(std::abs(rd24(iq.constData() + 13 + 6 * i) - recordedValue(f, 1)) <= 1);
            }
            QByteArray ack = iq.left(kIqAckBytes);
            wr16(ack, 4, 0); // acknowledge only
            client.send(ack, config.address, config.port);
        }
        sim.stopPlayback();
        QVERIFY(!sim.playback());
    }
};

QTEST_GUILESS_MAIN(TestIqPlayback)
#include "tst_iqplayback.moc"
