#include "AllocationCounter.h"
#include "zorvaniDsp/AudioPull.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <vector>

using Frame = Ostrovix::complex<double>;

namespace {

void fill(CircularBuffer<Frame>& ring, int count)
{
    std::vector<Frame> x(count);
    for (int n = 0; n < count; ++n)
        x[n] = {(n + 1) / 1024.0, -(n + 1) / 4096.0};
    QVERIFY(ring.write(x.data(), count));
}

// The host's buffer starts with garbage so that untouched values show.
std::vector<float> garbage(int n) { return std::vector<float>(n, std::numeric_limits<float>::quiet_NaN()); }

bool allZero(const std::vector<float>& b)
{
    for (float v : b) {
        if (v != 0.0f)
            return false;
    }
    return true;
}

} // namespace

class TestAudioPull : public QObject {
    Q_OBJECT
private slots:
    void silence_data();
    void silence();
    void fullRingGivesFrames_data();
    void fullRingGivesFrames();
    void pullDoesNotAllocate();
};

void TestAudioPull::silence_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("stored");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<quint32>("channels");
    QTest::newRow("closed path: never stored audio") << false << 1024 << 512u << 2u;
    QTest::newRow("255 frames cannot fill 256") << true << 255 << 512u << 2u;
    QTest::newRow("no channels") << true << 100 << 8u << 0u;
    QTest::newRow("empty buffer") << true << 100 << 0u << 2u;
}

// Whatever the host's buffer held, it gets zeros and the ring keeps its frames.
void TestAudioPull::silence()
{
    QFETCH(bool, open);
    QFETCH(int, stored);
    QFETCH(quint32, length);
    QFETCH(quint32, channels);
    CircularBuffer<Frame> ring(4096);
    fill(ring, stored);
    auto buffer = garbage(int(length));
    QVERIFY(pullStereo(ring, open, buffer.data(), length, channels));
    QVERIFY(allZero(buffer));
    QCOMPARE(ring.fill(), uint32_t(stored));
    QVERIFY(pullStereo(ring, true, nullptr, 64, 2));
}

void TestAudioPull::fullRingGivesFrames_data()
{
    QTest::addColumn<quint32>("channels");
    QTest::addColumn<quint32>("length");
    QTest::newRow("stereo") << 2u << 512u;
    QTest::newRow("mono") << 1u << 300u;
    QTest::newRow("four channels") << 4u << 1024u;
    QTest::newRow("stereo, odd length") << 2u << 601u;
    QTest::newRow("more than one piece") << 2u << 2000u;
}

// Frame n carries left (n+1)/1024 and right -(n+1)/4096, both exact in float.
void TestAudioPull::fullRingGivesFrames()
{
    QFETCH(quint32, channels);
    QFETCH(quint32, length);
    CircularBuffer<Frame> ring(4096);
    fill(ring, 1200);
    auto buffer = garbage(int(length));
    QVERIFY(pullStereo(ring, true, buffer.data(), length, channels));
    const quint32 frames = length / channels;
    QCOMPARE(ring.fill(), 1200u - frames);
    for (quint32 n = 0; n < frames; ++n) {
        const float left = (n + 1) / 1024.0f;
        const float right = -float(n + 1) / 4096.0f;
        const float* f = buffer.data() + n * channels;
        if (channels == 1) {
            QCOMPARE(f[0], (left + right) / 2.0f);
            continue;
        }
        QCOMPARE(f[0], left);
        QCOMPARE(f[1], right);
        for (quint32 c = 2; c < channels; ++c)
            QCOMPARE(f[c], 0.0f);
    }
    for (quint32 i = frames * channels; i < length; ++i)
        QCOMPARE(buffer[i], 0.0f);
}

void TestAudioPull::pullDoesNotAllocate()
{
    CircularBuffer<Frame> ring(4096);
    std::vector<Frame> x(1024, Frame{0.5, 0.25});
    std::vector<float> buffer(2048);
    testsupport::AllocationScope scope;
    for (int i = 0; i < 10; ++i) {
        QVERIFY(ring.write(x.data(), 1024));
        QVERIFY(pullStereo(ring, true, buffer.data(), 2048, 2));
    }
    QCOMPARE(scope.count(), 0u);
    QCOMPARE(buffer[2047], 0.25f);
}

QTEST_GUILESS_MAIN(TestAudioPull)
#include "tst_audiopull.moc"
