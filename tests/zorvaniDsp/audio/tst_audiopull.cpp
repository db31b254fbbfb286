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
    void closedPathIsSilent();
    void shortRingIsSilent();
    void fullRingGivesFrames_data();
    void fullRingGivesFrames();
    void degenerateBuffers();
    void pullDoesNotAllocate();
};

void TestAudioPull::closedPathIsSilent()
{
    CircularBuffer<Frame> ring(4096);
    fill(ring, 1024);
    auto buffer = garbage(512);
    QVERIFY(pullStereo(ring, false, buffer.data(), 512, 2));
    QVERIFY2(allZero(buffer), "a closed path must give silence, never stored audio");
    QCOMPARE(ring.fill(), 1024u);
}

void TestAudioPull::shortRingIsSilent()
{
    CircularBuffer<Frame> ring(4096);
    fill(ring, 255);
    auto buffer = garbage(512);
    QVERIFY(pullStereo(ring, true, buffer.data(), 512, 2));
    QVERIFY2(allZero(buffer), "255 frames cannot fill 256: silence");
    QCOMPARE(ring.fill(), 255u);
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

void TestAudioPull::degenerateBuffers()
{
    CircularBuffer<Frame> ring(4096);
    fill(ring, 100);
    QVERIFY(pullStereo(ring, true, nullptr, 64, 2));
    auto buffer = garbage(8);
    QVERIFY(pullStereo(ring, true, buffer.data(), 8, 0));
    QVERIFY(allZero(buffer));
    QVERIFY(pullStereo(ring, true, buffer.data(), 0, 2));
    QCOMPARE(ring.fill(), 100u);
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
