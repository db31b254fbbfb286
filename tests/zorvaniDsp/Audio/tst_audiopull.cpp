#include "AllocationCounter.h"
#include "zorvaniDsp/Audio/AudioPull.h"

#include <QtTest>

#include <limits>

using Frame = Ostrovix::complex<double>;

class TestAudioPull : public QObject {
    Q_OBJECT
private slots:
    void pull_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("stored");
        QTest::addColumn<quint32>("length");
        QTest::addColumn<quint32>("channels");
        QTest::addColumn<bool>("sound");
        QTest::newRow("closed path: never stored audio") << false << 1024 << 512u << 2u << false;
        QTest::newRow("255 frames cannot fill 256") << true << 255 << 512u << 2u << false;
        QTest::newRow("no channels") << true << 100 << 8u << 0u << false;
        QTest::newRow("empty buffer") << true << 100 << 0u << 2u << false;
        QTest::newRow("stereo") << true << 1200 << 512u << 2u << true;
        QTest::newRow("mono") << true << 1200 << 300u << 1u << true;
        QTest::newRow("four channels") << true << 1200 << 1024u << 4u << true;
        QTest::newRow("stereo, odd length") << true << 1200 << 601u << 2u << true;
        QTest::newRow("more than one piece") << true << 1200 << 2000u << 2u << true;
    }

    // Whatever the host's buffer held, it gets silence while the ring cannot
    // fill it, and the ring keeps its frames; otherwise frame n carries left
    // (n+1)/1024 and right -(n+1)/4096 (exact in float), mono their mean,
    // further channels and the odd rest zeros.
    void pull()
    {
        QFETCH(bool, open);
        QFETCH(int, stored);
        QFETCH(quint32, length);
        QFETCH(quint32, channels);
        QFETCH(bool, sound);
        CircularBuffer<Frame> ring(4096);
        std::vector<Frame> x(static_cast<size_t>(stored));
        for (int n = 0; n < stored; ++n)
            x[size_t(n)] = {(n + 1) / 1024.0, -(n + 1) / 4096.0};
        QVERIFY(ring.write(x.data(), uint32_t(stored)));
        std::vector<float> buffer(length, std::numeric_limits<float>::quiet_NaN()); // untouched values show
        testsupport::AllocationScope scope;
        QVERIFY(pullStereo(ring, open, buffer.data(), length, channels) && pullStereo(ring, true, nullptr, 64, 2));
        QCOMPARE(scope.count(), 0u);
        const quint32 frames = sound ? length / channels : 0;
        QCOMPARE(ring.fill(), uint32_t(stored) - frames);
        std::vector<float> expected(length, 0.0f);
        for (quint32 n = 0; n < frames; ++n) {
            const float left = (n + 1) / 1024.0f, right = -float(n + 1) / 4096.0f;
            expected[n * channels] = channels == 1 ? (left + right) / 2.0f : left;
            if (channels > 1)
                expected[n * channels + 1] = right;
        }
        QVERIFY(buffer == expected);
    }

    void reserveRidesOutALateProducer_data()
    {
        QTest::addColumn<quint32>("reserve");
        QTest::addColumn<int>("firstMs"); // how late the chunks due from 2000 ms and from 5000 ms come
        QTest::addColumn<int>("secondMs");
        QTest::addColumn<int>("minGaps");
        QTest::addColumn<int>("maxGaps");
        QTest::newRow("no reserve, a chunk 20 ms late") << 0u << 20 << 0 << 1 << 1000;
        QTest::newRow("50 ms, a chunk 20 ms late") << 2400u << 20 << 0 << 0 << 0;
        QTest::newRow("50 ms, 40 ms late twice") << 2400u << 40 << 40 << 0 << 0;
        // Beyond the reserve: one gap, then the reserve is gathered again.
        QTest::newRow("50 ms, 60 ms late then 40 ms") << 2400u << 60 << 40 << 1 << 1;
    }

    // In simulated time, with the host's output opened before the audio flows: a
    // producer that delivers 768 frames every 16 ms (48000 Hz in the converter's
    // bursts), held back now and then and catching up at once, and a host pulling
    // 480 frames every 10 ms. After the first sound, count the runs of silent
    // pulls; what is played is every frame in order, nothing lost or repeated.
    void reserveRidesOutALateProducer()
    {
        QFETCH(quint32, reserve);
        QFETCH(int, firstMs);
        QFETCH(int, secondMs);
        QFETCH(int, minGaps);
        QFETCH(int, maxGaps);
        CircularBuffer<Frame> ring(4096);
        ring.setPrefill(reserve);
        constexpr int kChunk = 768, kPull = 480;
        std::vector<Frame> chunk(kChunk);
        std::vector<float> buffer(2 * kPull);
        long written = 0, expected = 0;
        int gaps = 0;
        bool sounding = false, silent = false;
        auto held = [&](int ms) { return (ms >= 2000 && ms < 2000 + firstMs) || (ms >= 5000 && ms < 5000 + secondMs); };
        for (int ms = 0; ms < 8000; ++ms) {
            for (; !held(ms) && written < long(ms / 16 + 1) * kChunk; written += kChunk) {
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
                QCOMPARE(buffer[size_t(2 * i)], float(++expected));
        }
        QVERIFY2(expected > 7000 * 48 && gaps >= minGaps && gaps <= maxGaps, qPrintable(QString("%1 gaps").arg(gaps)));
    }
};

QTEST_GUILESS_MAIN(TestAudioPull)
#include "tst_audiopull.moc"
