#include "AllocationCounter.h"
#include "common/CircularBuffer.h"

#include <QtTest>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

class TestCircularBuffer : public QObject {
    Q_OBJECT
private slots:
    void capacityRoundsUpToPowerOfTwo_data();
    void capacityRoundsUpToPowerOfTwo();
    void allOrNothingAcrossTheEnd();
    void watermarks();
    void producerConsumerStress();
    void watermarksChangeWhilePolled();
    void readWriteDoNotAllocate();
};

void TestCircularBuffer::capacityRoundsUpToPowerOfTwo_data()
{
    QTest::addColumn<uint32_t>("requested");
    QTest::addColumn<uint32_t>("expected");
    QTest::newRow("1") << 1u << 1u;
    QTest::newRow("4096") << 4096u << 4096u;
    QTest::newRow("4097") << 4097u << 8192u;
}

void TestCircularBuffer::capacityRoundsUpToPowerOfTwo()
{
    QFETCH(uint32_t, requested);
    QFETCH(uint32_t, expected);
    CircularBuffer<int> ring(requested);
    QCOMPARE(ring.free(), expected);
    std::vector<int> data(expected + 1, 3);
    QVERIFY(!ring.write(data.data(), expected + 1));
    QVERIFY(ring.write(data.data(), expected));
    QCOMPARE(ring.fill(), expected);
}

// Writes and reads larger than the room are refused whole; pieces of 3 and 5
// walk the indices across the end many times; the newest can be looked at
// without taking them.
void TestCircularBuffer::allOrNothingAcrossTheEnd()
{
    CircularBuffer<int> ring(8);
    int in[9] = {}, out[9] = {};
    QVERIFY(ring.write(in, 5));
    QVERIFY2(!ring.write(in, 4), "only 3 are free");
    QVERIFY2(!ring.read(out, 6), "only 5 are stored");
    QCOMPARE(ring.fill(), 5u);
    QVERIFY(ring.read(out, 5));
    QVERIFY(ring.write(in, 0) && ring.read(out, 0));
    int counter = 0, expected = 0;
    for (int round = 0; round < 50; ++round) {
        const int n = round % 2 ? 3 : 5;
        for (int i = 0; i < n; ++i)
            in[i] = counter++;
        QVERIFY(ring.write(in, n));
        if (round % 2) {
            QVERIFY(ring.peekLatest(out, 3));
            QCOMPARE(std::vector<int>(out, out + 3), std::vector<int>(in, in + 3));
            QVERIFY(!ring.peekLatest(out, 9));
        }
        QCOMPARE(ring.fill(), uint32_t(n));
        QVERIFY(ring.read(out, n));
        for (int i = 0; i < n; ++i)
            QCOMPARE(out[i], expected++);
    }
}

void TestCircularBuffer::watermarks()
{
    CircularBuffer<int> ring(64);
    ring.setWatermarks(true, 10, 40);
    std::vector<int> data(64, 7);
    QVERIFY2(ring.belowLowMark(), "an empty ring is below its low mark");
    QVERIFY(ring.write(data.data(), 10));
    QVERIFY2(ring.belowLowMark(), "fill 10 is still at the low mark");
    QVERIFY(ring.write(data.data(), 1));
    QVERIFY2(!ring.belowLowMark(), "fill 11 is above the low mark");
    QVERIFY(ring.write(data.data(), 28));
    QVERIFY2(!ring.aboveHighMark(), "fill 39 is below the high mark");
    QVERIFY(ring.write(data.data(), 1));
    QVERIFY2(ring.aboveHighMark(), "fill 40 reaches the high mark");
    QVERIFY(ring.read(data.data(), 30));
    QVERIFY2(ring.belowLowMark(), "a read down to the low mark raises the flag");
    ring.reset();
    QCOMPARE(ring.free(), 64u);
    QVERIFY(ring.belowLowMark());

    CircularBuffer<int> plain(64);
    QVERIFY(plain.write(data.data(), 50));
    QVERIFY2(!plain.aboveHighMark(), "without watermarks there is no high mark");
}

// One producer and one consumer move a counter through a small ring in pieces
// of random size; every value must arrive exactly once and in order.
void TestCircularBuffer::producerConsumerStress()
{
    constexpr uint32_t kTotal = 16'000'000;
    CircularBuffer<uint32_t> ring(1024);
    ring.setWatermarks(true, 128, 896);
    std::atomic<bool> failed{false};
    std::atomic<bool> countOutOfRange{false};
    std::atomic<uint32_t> lowSeen{0};
    std::atomic<uint32_t> highSeen{0};

    std::thread producer([&] {
        std::mt19937 rng(1);
        std::uniform_int_distribution<uint32_t> size(1, 300);
        std::vector<uint32_t> piece(300);
        uint32_t next = 0;
        while (next < kTotal && !failed) {
            const uint32_t n = std::min(size(rng), kTotal - next);
            for (uint32_t i = 0; i < n; ++i)
                piece[i] = next + i;
            if (ring.free() > ring.capacity())
                countOutOfRange = true;
            if (ring.write(piece.data(), n)) {
                next += n;
                if (ring.aboveHighMark())
                    ++highSeen;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::thread consumer([&] {
        std::mt19937 rng(2);
        std::uniform_int_distribution<uint32_t> size(1, 300);
        std::vector<uint32_t> piece(300);
        uint32_t expected = 0;
        while (expected < kTotal && !failed) {
            const uint32_t n = std::min(size(rng), kTotal - expected);
            if (!ring.read(piece.data(), n)) {
                std::this_thread::yield();
                continue;
            }
            for (uint32_t i = 0; i < n; ++i) {
                if (piece[i] != expected + i)
                    failed = true;
            }
            expected += n;
            if (ring.belowLowMark())
                ++lowSeen;
            // Each side sees its own count conservatively; their sum is not a
            // snapshot and is not checked.
            if (ring.fill() > ring.capacity())
                countOutOfRange = true;
        }
    });
    producer.join();
    consumer.join();
    QVERIFY2(!failed, "a value was lost, duplicated or reordered");
    QVERIFY2(!countOutOfRange, "fill or free exceeded the capacity");
    QCOMPARE(ring.fill(), 0u);
    QCOMPARE(ring.free(), 1024u);
    QVERIFY2(ring.belowLowMark(), "the drained ring is below its low mark");
    qDebug() << "low mark seen" << lowSeen.load() << "high mark seen" << highSeen.load();
}

// The marks may change while either side polls them (a race the thread
// sanitizer build reports if they are plain fields).
void TestCircularBuffer::watermarksChangeWhilePolled()
{
    CircularBuffer<int> ring(64);
    std::vector<int> data(40, 1);
    QVERIFY(ring.write(data.data(), 40));
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> highSeen{0};
    std::thread poller([&] {
        while (!stop) {
            if (ring.aboveHighMark())
                ++highSeen;
        }
    });
    for (int i = 0; i < 20000; ++i)
        ring.setWatermarks(i % 2 == 0, 8, i % 4 == 0 ? 30 : 50);
    ring.setWatermarks(true, 8, 30);
    QTRY_VERIFY_WITH_TIMEOUT(highSeen.load() > 0, 5000);
    stop = true;
    poller.join();
    QVERIFY2(ring.aboveHighMark(), "fill 40 is above the final high mark 30");
    ring.setWatermarks(true, 8, 50);
    QVERIFY2(!ring.aboveHighMark(), "fill 40 is below the final high mark 50");
}

void TestCircularBuffer::readWriteDoNotAllocate()
{
    CircularBuffer<double> ring(4096);
    std::vector<double> data(1000, 1.0);
    testsupport::AllocationScope scope;
    for (int i = 0; i < 100; ++i) {
        QVERIFY(ring.write(data.data(), 1000));
        QVERIFY(ring.read(data.data(), 1000));
    }
    QCOMPARE(scope.count(), 0u);
}

QTEST_GUILESS_MAIN(TestCircularBuffer)
#include "tst_circularbuffer.moc"
