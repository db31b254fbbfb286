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
    void allOrNothingAcrossTheEndWithoutAllocating();
    void watermarks();
    void producerConsumerStress();
    void watermarksChangeWhilePolled();
};

// The capacity rounds up to a power of two; pieces of 3 and 5 walk the indices
// across the end many times; a write or read larger than the room is refused
// whole; the newest can be looked at without taking them.
void TestCircularBuffer::allOrNothingAcrossTheEndWithoutAllocating()
{
    for (auto [requested, expected] : {std::pair{1u, 1u}, {4096u, 4096u}, {4097u, 8192u}}) {
        CircularBuffer<int> ring(requested);
        std::vector<int> data(expected + 1, 3);
        QVERIFY(ring.free() == expected && !ring.write(data.data(), expected + 1));
        QVERIFY(ring.write(data.data(), expected) && ring.fill() == expected);
    }
    CircularBuffer<int> ring(8);
    int in[9] = {}, out[9] = {};
    QVERIFY(ring.write(in, 5));
    QVERIFY2(!ring.write(in, 4), "only 3 are free");
    QVERIFY2(!ring.read(out, 6), "only 5 are stored");
    QVERIFY(ring.read(out, 5) && ring.write(in, 0) && ring.read(out, 0));
    testsupport::AllocationScope scope;
    int counter = 0, expected = 0;
    for (int round = 0; round < 50; ++round) {
        const int n = round % 2 ? 3 : 5;
        for (int i = 0; i < n; ++i)
            in[i] = counter++;
        QVERIFY(ring.write(in, n));
        if (round % 2) {
            QVERIFY(ring.peekLatest(out, 3));
            QVERIFY(std::equal(out, out + 3, in));
            QVERIFY(!ring.peekLatest(out, 9));
        }
        QCOMPARE(ring.fill(), uint32_t(n));
        QVERIFY(ring.read(out, n));
        for (int i = 0; i < n; ++i)
            QCOMPARE(out[i], expected++);
    }
    QCOMPARE(scope.count(), 0u);
}

void TestCircularBuffer::watermarks()
{
    CircularBuffer<int> ring(64), plain(64);
    ring.setWatermarks(true, 10, 40);
    std::vector<int> data(64, 7);
    // (write count, read count, expected below low, expected above high)
    const int steps[][4] = {{0, 0, 1, 0}, {10, 0, 1, 0}, {1, 0, 0, 0}, {28, 0, 0, 0}, {1, 0, 0, 1}, {0, 30, 1, 0}};
    for (const auto &s : steps) {
        QVERIFY(ring.write(data.data(), s[0]) && ring.read(data.data(), s[1]));
        QVERIFY2(ring.belowLowMark() == bool(s[2]), qPrintable(QString::number(ring.fill())));
        QVERIFY2(ring.aboveHighMark() == bool(s[3]), qPrintable(QString::number(ring.fill())));
    }
    ring.reset();
    QVERIFY(ring.free() == 64u && ring.belowLowMark());
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
    std::atomic<bool> failed{false}, countOutOfRange{false};
    auto side = [&](bool producing) {
        std::mt19937 rng(producing ? 1 : 2);
        std::uniform_int_distribution<uint32_t> size(1, 300);
        std::vector<uint32_t> piece(300);
        uint32_t next = 0;
        while (next < kTotal && !failed) {
            const uint32_t n = std::min(size(rng), kTotal - next);
            if (producing)
                std::iota(piece.begin(), piece.begin() + n, next);
            if (!(producing ? ring.write(piece.data(), n) : ring.read(piece.data(), n))) {
                std::this_thread::yield();
                continue;
            }
            for (uint32_t i = 0; !producing && i < n; ++i)
                failed = failed || piece[i] != next + i;
            next += n;
            // Each side sees its own count conservatively; their sum is no snapshot.
            if ((producing ? ring.free() : ring.fill()) > ring.capacity())
                countOutOfRange = true;
            // Both sides poll the marks while the other moves the indices.
            producing ? void(ring.aboveHighMark()) : void(ring.belowLowMark());
        }
    };
    std::thread producer(side, true), consumer(side, false);
    producer.join();
    consumer.join();
    QVERIFY2(!failed, "a value was lost, duplicated or reordered");
    QVERIFY2(!countOutOfRange, "fill or free exceeded the capacity");
    QVERIFY(ring.fill() == 0u && ring.free() == 1024u && ring.belowLowMark());
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
        while (!stop)
            highSeen += ring.aboveHighMark();
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

QTEST_GUILESS_MAIN(TestCircularBuffer)
#include "tst_circularbuffer.moc"
