#include "AllocationCounter.h"
#include "zorvaniDsp/Audio/AudioPull.h"

#include <QtTest>

#include <limits>

using Frame = Ostrovix::complex<double>;

class TestAudioPull : public QObject {
    Q_OBJECT
private slots:
    // Whatever the host's buffer held, it gets silence while the ring cannot
    // fill it, and the ring keeps its frames; otherwise frame n carries left
    // (n+1)/1024 and right -(n+1)/4096 (exact in float), mono their mean,
    // further channels and the odd rest zeros.
    void pull()
    {
        const struct {
            bool open;
            int stored;
            quint32 length, channels;
            bool sound;
        } rows[] = {// a closed path, 255 frames for 256, no channels, an empty buffer; then stereo, mono,
                    // four channels, an odd length and more than one piece
                    {false, 1024, 512, 2, false}, {true, 255, 512, 2, false}, {true, 100, 8, 0, false},
                    {true, 100, 0, 2, false}, {true, 1200, 512, 2, true}, {true, 1200, 300, 1, true},
                    {true, 1200, 1024, 4, true}, {true, 1200, 601, 2, true}, {true, 1200, 2000, 2, true}};
        for (const auto& [open, stored, length, channels, sound] : rows) {
            const QByteArray row = QByteArray::number(stored) + " frames, " + QByteArray::number(length) + " values";
            CircularBuffer<Frame> ring(4096);
            std::vector<Frame> x(static_cast<size_t>(stored));
            for (int n = 0; n < stored; ++n)
                x[size_t(n)] = {(n + 1) / 1024.0, -(n + 1) / 4096.0};
            QVERIFY(ring.write(x.data(), uint32_t(stored)));
            std::vector<float> buffer(length, std::numeric_limits<float>::quiet_NaN()); // untouched values show
            testsupport::AllocationScope scope;
            QVERIFY2(pullStereo(ring, open, buffer.data(), length, channels), row);
            QVERIFY2(pullStereo(ring, true, nullptr, 64, 2), row);
            QVERIFY2(scope.count() == 0u, row);
            const quint32 frames = sound ? length / channels : 0;
            QVERIFY2(ring.fill() == uint32_t(stored) - frames, row);
            std::vector<float> expected(length, 0.0f);
            for (quint32 n = 0; n < frames; ++n) {
                const float left = (n + 1) / 1024.0f, right = -float(n + 1) / 4096.0f;
                expected[n * channels] = channels == 1 ? (left + right) / 2.0f : left;
                if (channels > 1)
                    expected[n * channels + 1] = right;
            }
            QVERIFY2(buffer == expected, row);
        }
    }

    // In simulated time, with the host's output opened before the audio flows: a
    // producer that delivers 768 frames every 16 ms (48000 Hz in the converter's
    // bursts), held back now and then and catching up at once, and a host pulling
    // 480 frames every 10 ms. After the first sound, count the runs of silent
    // pulls; what is played is every frame in order, nothing lost or repeated.
    // Rows: the reserve, how late the chunks due from 2000 ms and from 5000 ms
    // come, the fewest and most gaps. Beyond the reserve (60 ms late): one gap,
    // then the reserve is gathered again.
    void reserveRidesOutALateProducer()
    {
        const int rows[][5] = {{0, 20, 0, 1, 1000}, {2400, 20, 0, 0, 0}, {2400, 40, 40, 0, 0}, {2400, 60, 40, 1, 1}};
        for (const auto& [reserve, firstMs, secondMs, minGaps, maxGaps] : rows) {
            CircularBuffer<Frame> ring(4096);
            ring.setPrefill(reserve);
            constexpr int kChunk = 768, kPull = 480;
            std::vector<Frame> chunk(kChunk);
            std::vector<float> buffer(2 * kPull);
            long written = 0, expected = 0;
            int gaps = 0;
            bool sounding = false, silent = false;
            for (int ms = 0; ms < 8000; ++ms) {
                const bool held = (ms >= 2000 && ms < 2000 + firstMs) || (ms >= 5000 && ms < 5000 + secondMs);
                for (; !held && written < long(ms / 16 + 1) * kChunk; written += kChunk) {
                    for (int i = 0; i < kChunk; ++i)
                        chunk[size_t(i)] = {double(written + i + 1), 0.0};
                    QVERIFY(ring.write(chunk.data(), kChunk));
                }
                if (ms % 10)
                    continue;
                QVERIFY(pullStereo(ring, true, buffer.data(), 2 * kPull, 2));
                const bool quiet = buffer[0] == 0.0f;
                gaps += quiet && sounding && !silent ? 1 : 0;
                silent = quiet;
                sounding = sounding || !quiet;
                for (int i = 0; !quiet && i < kPull; ++i)
                    QVERIFY2(buffer[size_t(2 * i)] == float(++expected), qPrintable(QString("frame %1").arg(expected)));
            }
            QVERIFY2(expected > 7000 * 48 && gaps >= minGaps && gaps <= maxGaps,
                     qPrintable(QString("row %1/%2/%3: %4 gaps").arg(reserve).arg(firstMs).arg(secondMs).arg(gaps)));
        }
    }
};

QTEST_GUILESS_MAIN(TestAudioPull)
#include "tst_audiopull.moc"
