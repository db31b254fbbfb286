// IQ playback in the emulator: recordings written by the plug-in's own IQ
// file writer read back in all three layouts.
#include "IqPlayback.h"
#include "SimClient.h"
#include "recording/IQFile.h"

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

} // namespace

class TestIqPlayback : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // `packets` packets of recordedValue() by the plug-in's writer (its ring holds them all at once).
    QString recording(int format, double rateHz, double centreHz, int packets)
    {
        const QString path = m_dir.filePath(QStringLiteral("%1-%2-%3.wav").arg(format).arg(rateHz).arg(centreHz));
        QFile::remove(path);
        ox::file::IQFile file;
        file.setFormat(ox::file::IQFile::Format(format));
        file.setSampleRate(rateHz);
        file.setFrequency(centreHz);
        if (!file.open(path))
            return {};
        QByteArray payload(ox::file::IQFile::kPacketBytes, '\0');
        for (int p = 0; p < packets; ++p) {
            for (int i = 0; i < 2 * kFrames; ++i)
                wr24(payload.data() + 3 * i, recordedValue(qint64(p) * kFrames + i / 2, i % 2));
            file.writePacket(reinterpret_cast<const unsigned char*>(payload.constData()));
        }
        // Bytes still in the ring at the stop are not written: wait for them first.
        const quint64 total = quint64(packets) * quint64(payload.size());
        const bool written = QTest::qWaitFor([&] { return file.dataBytes() == total; }, 5000);
        file.stop();
        return written && file.dataBytes() == total ? path : QString();
    }

private slots:
    // Layout 0 keeps the device's values; the scaled ones lose less than one
    // step by truncation; the auxi layout keeps whole hertz only; past the end: zeros.
    void layouts()
    {
        for (auto [format, rate, centre] : {std::tuple{0, 39062.5, 7100000.0}, {1, 312500.0, 7100000.0}, {2, 78125.0, 14250000.0},
                                            {2, 156250.0, 3573000.7}}) {
            const QString path = recording(format, rate, centre, 25);
            IqWavFile file;
            QString error;
            QVERIFY2(!path.isEmpty() && file.open(path, &error), qPrintable(error));
            const IqWavInfo& info = file.info();
            QVERIFY(info.format == format && info.rateHz == rate && info.frames == 25 * kFrames && info.hasCentre == (format != 1));
            QVERIFY(format == 1 || info.centreHz == (format == 2 ? std::floor(centre) : centre));
            std::vector<Frame> frames(size_t(info.frames) + 3);
            file.read(0, frames.data(), int(frames.size()));
            double worst = 0.0;
            for (qint64 f = 0; f < info.frames; ++f)
                worst = std::max({worst, std::abs(frames[size_t(f)].re * kFullScale - recordedValue(f, 0)),
                                  std::abs(frames[size_t(f)].im * kFullScale - recordedValue(f, 1))});
            QVERIFY2(worst < (format == 0 ? 1e-6 : 1.0), qPrintable(QStringLiteral("layout %1 off by %2 steps").arg(format).arg(worst)));
            for (size_t f = size_t(info.frames); f < frames.size(); ++f)
                QVERIFY(frames[f].re == 0.0 && frames[f].im == 0.0);
        }
    }
};

QTEST_GUILESS_MAIN(TestIqPlayback)
#include "tst_iqplayback.moc"
