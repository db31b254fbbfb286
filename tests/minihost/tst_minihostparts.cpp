// The minimal host's own pieces whose results users and the main-job test
// read: the output level and the WAV writer.
#include "HostOutputs.h"
#include "WavReaders.h"
#include "WavWriter.h"

#include <QSignalSpy>
#include <QtTest>

#include <cmath>

using namespace hosttest;

struct TestOutput : OutputAbstract {
    void setAudioSource(AudioSource) override {}
};

class TestMinihostParts : public QObject {
    Q_OBJECT

private slots:
    // Amplitude 0.5 left, 0.25 right: RMS 20 log10(A / sqrt 2), peak A, over
    // whole 10 ms blocks; silence reads -200 dBFS; an unwritable file opens nothing.
    void outputLevel()
    {
        for (const double amplitude : {0.5, 0.0}) {
            TestOutput owner;
            PullEngine engine(owner, 48000);
            int n = 0;
            engine.setSource([&n, amplitude](float* buffer, quint32 length, quint32 channels) {
                for (quint32 i = 0; i < length / channels; ++i, ++n) {
                    buffer[channels * i] = float(amplitude * std::sin(2.0 * M_PI * 1000.0 * n / 48000.0));
                    buffer[channels * i + 1] = buffer[channels * i] / 2.0f;
                }
                return true;
            });
            QSignalSpy opened(&owner, &OutputAbstract::opened);
            QVERIFY(!engine.open(QStringLiteral("/nonexistent-folder/audio.wav")) && !engine.isOpen() && opened.isEmpty());
            QVERIFY(engine.open());
            QCOMPARE(opened.count(), 1);
            QTRY_VERIFY_WITH_TIMEOUT(engine.level().frames >= 48000, 5000);
            engine.close();
            const OutputLevel level = engine.level();
            QCOMPARE(level.frames % 480, std::uint64_t(0));
            for (int c = 0; c < 2; ++c) {
                const double a = amplitude / (c + 1);
                const double rms = a > 0.0 ? 20.0 * std::log10(a / std::sqrt(2.0)) : -200.0;
                QVERIFY2(std::abs(level.rmsDbfs[c] - rms) < 0.05 && std::abs(level.peak[c] - a) < 1e-3,
                         qPrintable(QStringLiteral("%1 dBFS, peak %2 for amplitude %3").arg(level.rmsDbfs[c]).arg(level.peak[c]).arg(a)));
            }
        }
    }

    void wavWriterSamplesAndHeader()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.wav"));
        WavWriter writer;
        QVERIFY(writer.open(path, 48000, 2));
        const float values[] = {0.0f, 1.0f, -1.0f, 0.5f, 2.0f, -2.0f};
        writer.write(values, 6);
        QCOMPARE(writer.frames(), std::uint64_t(3));
        writer.close();
        const Wav wav = readWav(path);
        QVERIFY2(wav.error.isEmpty(), qPrintable(wav.error));
        QVERIFY(wav.fileSize == 44 + 18 && wav.riffSize == 44 + 18 - 8 && wav.channels == 2 && wav.rate == 48000 && wav.bits == 24);
        // Full scale is 2^23 - 1 both ways; beyond it saturates.
        QCOMPARE(wav.channel(0), (std::vector<double>{0.0, -8388607 / 8388608.0, 8388607 / 8388608.0}));
        QCOMPARE(wav.channel(1), (std::vector<double>{8388607 / 8388608.0, 4194304 / 8388608.0, -8388607 / 8388608.0}));
    }
};

QTEST_MAIN(TestMinihostParts)
#include "tst_minihostparts.moc"
