// IQ playback in the emulator: recordings written by the plug-in's own IQ
// file writer are read back in all three layouts, the transport pauses, loops
// and seeks, and the emulator streams the recorded samples unchanged.
#include "IqPlayback.h"
#include "SimClient.h"
#include "recording/IQFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <vector>

using namespace simtest;

namespace {

constexpr int kFrames = 200; // per packet
constexpr double kFullScale = 8388607.0;
using Frame = Ostrovix::complex<double>;

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
    std::vector<unsigned char> payload(ox::file::IQFile::kPacketBytes); // the ring holds them all at once
    for (int p = 0; p < packets; ++p) {
        for (int i = 0; i < 2 * kFrames; ++i)
            wr24(reinterpret_cast<char*>(payload.data()) + 3 * i, recordedValue(qint64(p) * kFrames + i / 2, i % 2));
        file.writePacket(payload.data());
    }
    // Bytes still in the ring at the stop are not written: wait for them first.
    const quint64 total = quint64(packets) * payload.size();
    const bool written = QTest::qWaitFor([&] { return file.dataBytes() == total; }, 5000);
    file.stop();
    return written && file.dataBytes() == total;
}

} // namespace

class TestIqPlayback : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString recording(int format, double rateHz, double centreHz, int packets)
    {
        const QString path = m_dir.filePath(QStringLiteral("%1-%2-%3.wav").arg(format).arg(rateHz).arg(centreHz));
        QFile::remove(path);
        return writeRecording(path, format, rateHz, centreHz, packets) ? path : QString();
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
        const QString path = recording(format, rate, centre, 25);
        QVERIFY(!path.isEmpty());
        IqWavFile file;
        QString error;
        QVERIFY2(file.open(path, &error), qPrintable(error));
        const IqWavInfo& info = file.info();
        QCOMPARE(info.format, format);
        QCOMPARE(info.rateHz, rate);
        QCOMPARE(info.frames, qint64(25 * kFrames));
        QCOMPARE(info.hasCentre, hasCentre);
        if (hasCentre) // the auxi layout keeps whole hertz only
            QCOMPARE(info.centreHz, format == 2 ? std::floor(centre) : centre);
        std::vector<Frame> frames(size_t(info.frames) + 3);
        file.read(0, frames.data(), int(frames.size()));
        double worst = 0.0;
        for (qint64 f = 0; f < info.frames; ++f)
            worst = std::max({worst, std::abs(frames[size_t(f)].re * kFullScale - recordedValue(f, 0)),
                              std::abs(frames[size_t(f)].im * kFullScale - recordedValue(f, 1))});
        // Layout 0 keeps the device's values; the scaled ones lose less than one step by truncation.
        QVERIFY2(worst < (format == 0 ? 1e-6 : 1.0), qPrintable(QStringLiteral("off by %1 steps").arg(worst)));
        for (size_t f = size_t(info.frames); f < frames.size(); ++f)
            QVERIFY(frames[f].re == 0.0 && frames[f].im == 0.0);
    }

    // A header left unfinished (the program ended while recording) reads the
    // samples up to the end of the file; a header of no recording is refused.
    void damagedHeaders_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QString>("why"); // empty: read to the end of the file
        QTest::newRow("0: RIFF size never written") << 0 << qint64(4) << 0u << "";
        QTest::newRow("1: data size never written") << 1 << qint64(40) << 0u << "";
        QTest::newRow("2: data size beyond the file") << 2 << qint64(212) << 0x7FFFFFF0u << "";
        QTest::newRow("not RIFF") << 1 << qint64(0) << 0u << "no RIFF/WAVE header";
        QTest::newRow("16-bit samples") << 1 << qint64(32) << 0x00100004u << "24-bit";
        QTest::newRow("44100 Hz") << 1 << qint64(24) << 44100u << "44100 Hz";
        QTest::newRow("unknown chunk") << 1 << qint64(36) << 0x4B4E554Au << "layouts";
    }
    void damagedHeaders()
    {
        QFETCH(int, format);
        QFETCH(qint64, at);
        QFETCH(quint32, value);
        QFETCH(QString, why);
        const QString path = recording(format, 39062.5, 7000000.0, 3);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(at) && f.write(u32(value)) == 4);
        f.close();
        IqWavFile file;
        QString error;
        QCOMPARE(file.open(path, &error), why.isEmpty());
        if (why.isEmpty()) {
            QCOMPARE(file.info().frames, qint64(3 * kFrames));
        } else {
            QVERIFY2(error.contains(why), qPrintable(error));
            QVERIFY(!IqPlayback::open(path, 0.0, &error));
        }
    }

    void transport()
    {
        const QString path = recording(0, 39062.5, 7100000.0, 10);
        QString error;
        const auto playback = IqPlayback::open(path, 0.0, &error);
        QVERIFY2(playback, qPrintable(error));
        const qint64 frames = playback->info().frames;
        std::vector<Frame> block(kFrames);
        auto firstFrame = [&] { // the recorded frame the next block starts with
            playback->next(block.data(), kFrames, 0);
            for (qint64 f = 0; f < frames; ++f)
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
        playback->next(block.data(), kFrames, 0);
        QVERIFY(block[7].re == 0.0 && block[7].im == 0.0);
        playback->setPaused(false);
        QCOMPARE(firstFrame(), qint64(1200));

        // The end: zeros without loop, the start again with it.
        playback->seek(1e9);
        QCOMPARE(playback->positionSeconds(), double(frames) / 39062.5);
        playback->next(block.data(), kFrames, 0);
        QVERIFY(playback->atEnd());
        QVERIFY(block[0].re == 0.0 && block[199].im == 0.0);
        playback->setLoop(true);
        playback->seek(double(frames - 50) / 39062.5);
        playback->next(block.data(), kFrames, 0);
        QCOMPARE(std::lround(block[49].re * kFullScale), long(recordedValue(frames - 1, 0)));
        QCOMPARE(std::lround(block[50].re * kFullScale), long(recordedValue(0, 0)));
        QVERIFY(!playback->atEnd());
    }

    // The emulator sends the recorded values in its IQ packets.
    void streamsRecording()
    {
        const QString path = recording(2, 78125.0, 7100000.0, 20);
        SimFixture f;
        Config c = SimFixture::quiet(testsupport::processPort(44300, 0));
        c.logCommands = false;
        QVERIFY(f.start(c));
        QString error;
        const auto playback = f.sim->play(path, &error);
        QVERIFY2(playback, qPrintable(error));
        QCOMPARE(f.sim->playback(), playback);
        QCOMPARE(status(f.ask(startBlock(1, 1))), 1u);
        for (int k = 0; k < 5; ++k) {
            const QByteArray iq = f.client.receive(2000, kIqMark);
            QCOMPARE(iq.size(), kIqPacketBytes);
            for (int i = 0; i < kFrames; i += 37) { // layout 2 scaled by 10^1.5 and back: within one step
                QVERIFY(std::abs(rd24(iq.constData() + 10 + 6 * i) - recordedValue(k * kFrames + i, 0)) <= 1);
                QVERIFY(std::abs(rd24(iq.constData() + 13 + 6 * i) - recordedValue(k * kFrames + i, 1)) <= 1);
            }
            f.send(ack(iq));
        }
        f.sim->stopPlayback();
        QVERIFY(!f.sim->playback());
    }
};

QTEST_GUILESS_MAIN(TestIqPlayback)
#include "tst_iqplayback.moc"
