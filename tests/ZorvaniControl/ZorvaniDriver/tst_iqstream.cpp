#include "AllocationCounter.h"
#include "DriverFixture.h"
#include "ZorvaniControl/ZorvaniDriver/IqStream.h"

#include <QtTest>

#include <chrono>
#include <cmath>
#include <numeric>

using Sample = IqStream::Sample;
using Clock = IqStream::Clock;
using std::chrono::milliseconds;

namespace {
// A packet whose first I value is its own sequence number, so the engine side can tell which packet it got.
QByteArray numbered(quint16 sequence, quint8 channel = 0)
{
    return iqtest::packet(sequence, channel, [sequence](int i, int q) { return i == 0 && q == 0 ? int(sequence) : i; });
}
bool isAcknowledge(const QByteArray& a) { return a.size() == 10 && iqtest::lengthOf(a) == 0 && commandOf(a) == 0xFFFE; }

// Engine stand-in: keeps the number of every packet it got, answers with a fixed frame if asked.
struct FakeEngine {
    bool produce = false;
    int calls = 0;
    std::vector<int> seen;

    FakeEngine() { seen.reserve(70000); }
    IqStream::BlockEntry entry()
    {
        return [this](Sample* in, Sample* audio, quint32) {
            ++calls;
            if (seen.size() < seen.capacity())
                seen.push_back(int(std::lround(in[0].re * 8388608.0)));
            std::fill(audio, audio + 200, Sample{0.25, -0.5});
            return produce;
        };
    }
};

// A stream on a fake engine whose answers are collected; its clock stands still unless a test moves it.
struct Harness {
    FakeEngine engine;
    IqStream stream;
    QList<QByteArray> answers;
    Clock::time_point t0 = Clock::now(), now = t0;

    explicit Harness(const IqFileSlots* files = nullptr) : stream(engine.entry(), files)
    {
        stream.setAnswerSink([this](const char* d, qint64 n) { answers << QByteArray(d, int(n)); });
    }
    // One packet, then a look for overdue gaps as the socket thread does when nothing more waits.
    QList<QByteArray> feed(const QByteArray& packet)
    {
        const int before = answers.size();
        const int n = stream.handle(packet.constData(), packet.size(), now) + stream.expireGaps(now);
        if (n != answers.size() - before)
            qFatal("handle() reported %d answers, the sink got %d", n, int(answers.size() - before));
        return answers.mid(before);
    }
    QList<QByteArray> feed(quint16 sequence) { return feed(numbered(sequence)); }
    QList<QByteArray> feedAt(quint16 sequence, int ms)
    {
        now = t0 + milliseconds(ms);
        return feed(sequence);
    }
};

// Arrivals at given times (ms); answers caused by each; what the engine got (empty: every sequence up to the last).
struct Arrivals { QList<int> sequences, times, answers, processed; int givenUp; };
} // namespace
Q_DECLARE_METATYPE(Arrivals)

class TestIqStream : public QObject {
    Q_OBJECT

private slots:
    void inOrderWrapsAndResendsComeFromTheRing()
    {
        Harness h;
        h.engine.produce = true;
        for (int s = 0; s <= 65536 + 3; ++s) {
            const QList<QByteArray> a = h.feed(quint16(s));
            QVERIFY(a.size() == 1 && a[0].size() == 1210);
        }
        QCOMPARE(h.engine.calls, 65540);
        QCOMPARE(h.stream.counters().processed, quint64(65540));
        // Any of the last half ring of answers is there for a re-send, without processing.
        for (int back : {1, 100, 256})
            QCOMPARE(h.feed(iqtest::packet(quint16(4 - back), 0, [](int, int) { return 77; })), QList<QByteArray>{h.answers[65540 - back]});
        QCOMPARE(h.engine.calls, 65540);
        QCOMPARE(h.stream.expectedSequence(), quint16(4));
        QCOMPARE(h.feed(4).size(), 1);
        QCOMPARE(h.engine.calls, 65541);
    }

    // Every packet reaches the engine at most once, in sequence order, and is
    // answered in sequence order as soon as its gap closes or is given up,
    // 150 ms after the first packet held behind it; each gap has its own
    // clock, started when the packet before it was processed.
    void packetsAreProcessedInOrder_data()
    {
        QTest::addColumn<Arrivals>("a");
        const QList<int> zero = QVector<int>(10, 0).toList();
        QTest::newRow("swapped pair") << Arrivals{{0, 2, 1, 3}, zero, {1, 0, 2, 1}, {}, 0};
        QTest::newRow("one late by five") << Arrivals{{0, 2, 3, 4, 5, 6, 1, 7}, zero, {1, 0, 0, 0, 0, 0, 6, 1}, {}, 0};
        QTest::newRow("two gaps") << Arrivals{{0, 3, 1, 5, 2, 4}, zero, {1, 0, 1, 0, 2, 2}, {}, 0};
        QTest::newRow("re-sent while held") << Arrivals{{0, 2, 2, 3, 2, 1}, zero, {1, 0, 0, 0, 0, 3}, {}, 0};
        QTest::newRow("re-sent after answered") << Arrivals{{0, 1, 0, 3, 1, 2}, zero, {1, 1, 1, 0, 1, 2}, {}, 0};
        QTest::newRow("first packet late") << Arrivals{{1, 2, 0, 3}, zero, {0, 0, 3, 1}, {}, 0};
        // The late re-send of 1 gets the same acknowledge, and no processing.
        QTest::newRow("gap given up") << Arrivals{{0, 2, 3, 4, 5, 6, 7, 1}, {0, 20, 30, 40, 50, 170, 171, 200},
                                                  {1, 0, 0, 0, 0, 0, 7, 1}, {0, 2, 3, 4, 5, 6, 7}, 1};
        QTest::newRow("each gap its own clock") << Arrivals{{0, 2, 3, 5, 1, 6, 7, 8, 9, 10}, {0, 1, 2, 3, 140, 200, 200, 200, 290, 291},
                                                            {1, 0, 0, 0, 3, 0, 0, 0, 0, 7}, {0, 1, 2, 3, 5, 6, 7, 8, 9, 10}, 1};
        QTest::newRow("missing in a row, given up together") << Arrivals{{0, 6, 7, 8, 9}, {0, 10, 10, 10, 161}, {1, 0, 0, 0, 9}, {0, 6, 7, 8, 9}, 5};
    }
    void packetsAreProcessedInOrder()
    {
        QFETCH(Arrivals, a);
        Harness h;
        QList<int> caused;
        for (int i = 0; i < a.sequences.size(); ++i)
            caused << h.feedAt(quint16(a.sequences[i]), a.times[i]).size();
        QCOMPARE(caused, a.answers);
        std::vector<int> every(size_t(*std::max_element(a.sequences.cbegin(), a.sequences.cend()) + 1));
        std::iota(every.begin(), every.end(), 0);
        QCOMPARE(h.engine.seen, a.processed.isEmpty() ? every : std::vector<int>(a.processed.cbegin(), a.processed.cend()));
        QList<int> firsts; // first answers in order; repeats only for packets re-sent after their answer
        for (const QByteArray& answer : h.answers)
            if (!firsts.contains(iqtest::sequenceOf(answer)))
                firsts << iqtest::sequenceOf(answer);
        QCOMPARE(firsts, QList<int>(every.cbegin(), every.cend()));
        QVERIFY(std::all_of(h.answers.cbegin(), h.answers.cend(), isAcknowledge));
        QCOMPARE(h.stream.counters().givenUp, quint64(a.givenUp));
    }

    void gapsAreGivenUpOnlyWhenNothingWaitsAndByDistance()
    {
        // A re-send queued behind later packets still closes the gap, however late.
        Harness h;
        h.feed(0);
        const Clock::time_point late = h.now + std::chrono::seconds(1);
        const QByteArray two = numbered(2), one = numbered(1);
        QCOMPARE(h.stream.handle(two.constData(), two.size(), late), 0);
        QCOMPARE(h.stream.handle(one.constData(), one.size(), late), 2);
        QCOMPARE(h.stream.expireGaps(late), 0);
        // Nor while the receiver sends nothing newer: it may be stalled, not done re-sending.
        for (int s = 4; s < 4 + IqStream::kGapEvidence - 1; ++s)
            h.feed(quint16(s));
        QCOMPARE(h.stream.expireGaps(late + std::chrono::seconds(10)), 0);
        QCOMPARE(h.stream.counters().givenUp, quint64(0));
        // A packet beyond the hold window gives up the oldest gaps at once.
        Harness d;
        d.feed(0);
        const int far = IqStream::kHoldWindow + 44;
        QCOMPARE(d.feed(quint16(far)).size(), 44);
        QCOMPARE(d.stream.counters().givenUp, quint64(44));
        QCOMPARE(iqtest::sequenceOf(d.answers.last()), quint16(44));
        for (int s = 45; s < far; ++s) // the held packet is processed once its own gap closes
            d.feed(quint16(s));
        QCOMPARE(d.engine.seen.back(), far);
        QCOMPARE(d.stream.expectedSequence(), quint16(far + 1));
    }

    void foreignSequencesDropThenResynchronise()
    {
        Harness h;
        for (int s : {0, 1, 2, 3, 4, 7}) // 7 held when the receiver moves on
            h.feed(quint16(s));
        for (int i = 0; i < 33; ++i)
            QVERIFY2(h.feed(quint16(1000 + 50 * i)).isEmpty(), qPrintable(QStringLiteral("miss %1 was answered").arg(i + 1)));
        // The held packet is processed (its gap given up) before the acknowledge of 4000.
        const QList<QByteArray> resync = h.feed(4000);
        QCOMPARE(resync.size(), 4);
        QVERIFY(isAcknowledge(resync.last()) && iqtest::sequenceOf(resync.last()) == 4000);
        QCOMPARE(h.stream.expectedSequence(), quint16(4008));
        QCOMPARE(h.engine.calls, 6);
        QCOMPARE(h.stream.counters().resyncs, quint64(1));
        // The numbers between are in the ring and get acknowledges.
        const QList<QByteArray> between = h.feed(4003);
        QVERIFY(between.size() == 1 && isAcknowledge(between[0]) && iqtest::sequenceOf(between[0]) == 4003);
        QCOMPARE(h.feed(4008).size(), 1);
        QCOMPARE(h.engine.calls, 7);
        // A further consecutive miss resynchronises again at once; an in-order packet resets the count.
        Harness m;
        for (int i = 0; i < 33; ++i)
            QVERIFY(m.feed(quint16(1000 + 20 * i)).isEmpty());
        QCOMPARE(m.feed(9000).size(), 1);
        QCOMPARE(m.feed(20000).size(), 1);
        QCOMPARE(m.stream.expectedSequence(), quint16(20008));
        m.feed(20008);
        QVERIFY(m.feed(30000).isEmpty());
    }

    void lateResendsNeverTakeTheStreamBack()
    {
        // Re-sends whose answers have left the ring (a long stall, then the
        // receiver catching up) are dropped, however many in a row.
        Harness h;
        for (int s = 0; s < 2000; ++s)
            h.feed(quint16(s));
        const int late = 2000 - IqStream::kLateWindow;
        for (int s = late; s < late + 3 * IqStream::kDroppedMisses; ++s)
            QVERIFY2(h.feed(quint16(s)).isEmpty(), qPrintable(QStringLiteral("late %1 was answered").arg(s)));
        QCOMPARE(h.stream.expectedSequence(), quint16(2000));
        QCOMPARE(h.stream.counters().resyncs, quint64(0));
        QCOMPARE(h.stream.counters().late, quint64(3 * IqStream::kDroppedMisses));
        QCOMPARE(h.feed(2000).size(), 1);
        QCOMPARE(h.engine.calls, 2001);
        // Nor do they hide a receiver that did move on: its packets still count as consecutive misses.
        for (int i = 0; i < IqStream::kDroppedMisses; ++i) {
            h.feed(quint16(late + 1 + i)); // still within the late window of 2001
            QVERIFY(h.feed(quint16(9000 + i)).isEmpty());
        }
        QCOMPARE(h.feed(9100).size(), 1);
        QCOMPARE(h.stream.expectedSequence(), quint16(9108));
        QCOMPARE(h.stream.counters().late, quint64(4 * IqStream::kDroppedMisses));
        // Beyond the late window a packet behind is foreign: the miss count goes on, so it resynchronises at once.
        QCOMPARE(h.feed(quint16(9108 - IqStream::kLateWindow - 1)).size(), 1);
        QCOMPARE(h.stream.counters().resyncs, quint64(2));
    }

    void malformedPacketsAreCountedAndDropped_data()
    {
        QTest::addColumn<QList<int>>("sizeLengthChannelSlots"); // slots 0: no IQ files
        QTest::newRow("one byte short") << QList<int>{1209, 1200, 0, 0};
        QTest::newRow("one byte long") << QList<int>{1211, 1200, 0, 0};
        QTest::newRow("header only") << QList<int>{10, 1200, 0, 0};
        QTest::newRow("empty") << QList<int>{0, 1200, 0, 0};
        QTest::newRow("length word 0") << QList<int>{1210, 0, 0, 0};
        QTest::newRow("length word 1199") << QList<int>{1210, 1199, 0, 0};
        QTest::newRow("channel 2") << QList<int>{1210, 1200, 2, 0};
        QTest::newRow("channel 255") << QList<int>{1210, 1200, 255, 0};
        QTest::newRow("channel beyond the IQ file slots") << QList<int>{1210, 1200, 1, 1};
    }
    void malformedPacketsAreCountedAndDropped()
    {
        QFETCH(QList<int>, sizeLengthChannelSlots);
        const int size = sizeLengthChannelSlots[0], fileSlots = sizeLengthChannelSlots[3];
        IqFileSlots files(static_cast<size_t>(fileSlots));
        Harness h(fileSlots ? &files : nullptr);
        QByteArray p = iqtest::packet(0, quint8(sizeLengthChannelSlots[2]));
        qToLittleEndian<quint16>(quint16(sizeLengthChannelSlots[1]), p.data() + 4);
        p.resize(std::max(size, 1210));
        QCOMPARE(h.stream.handle(p.constData(), size), 0);
        QCOMPARE(h.engine.calls, 0);
        QCOMPARE(h.stream.expectedSequence(), quint16(0));
        QCOMPARE(h.stream.counters().malformed, quint64(1));
        QCOMPARE(h.feed(numbered(0, 0)).size(), 1); // a good one goes on
    }

    // The socket thread's path allocates nothing, socket calls included (the
    // socket is connected to the receiver: reads need no sender address and
    // answers go out with write()), for a stream in order, swapped, held
    // behind a gap, re-sent, given up by distance, foreign, timed out, while
    // receiver 0 records.
    void socketPathDoesNotAllocate()
    {
        QTemporaryDir dir;
        IqFileSlots files(2);
        QVERIFY(files[0]->open(dir.filePath(QStringLiteral("rx0.wav"))));
        FakeEngine engine;
        engine.produce = true;
        IqStream stream(engine.entry(), &files);
        QUdpSocket device, receiver;
        const QHostAddress peer(QStringLiteral("127.0.0.2"));
        QVERIFY(device.bind(QHostAddress::AnyIPv4, 51401, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
        device.connectToHost(peer, 51401);
        QVERIFY(device.waitForConnected(1000));
        QVERIFY(receiver.bind(peer, 51401, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
        int answers = 0;
        stream.setAnswerSink([&](const char* answer, qint64 size) { answers += device.write(answer, size) == size; });
        QList<int> order = QVector<int>(64).toList();
        std::iota(order.begin(), order.end(), 0);
        std::swap(order[10], order[11]);
        order.move(20, 30);
        order << 60 << 63 << 64 + IqStream::kHoldWindow + 3;
        std::vector<QByteArray> packets;
        for (int s : order)
            packets.push_back(iqtest::packet(quint16(s), quint8(s & 1)));
        packets.insert(packets.end(), 40, iqtest::packet(30000, 0)); // the 34th foreign packet resynchronises, giving up what is held
        for (int s = 0; s < IqStream::kGapEvidence; ++s) // then a gap of five times out
            packets.push_back(iqtest::packet(quint16(30000 + 8 + 5 + s), 0));
        const QByteArray first = iqtest::packet(0, 0); // warm up once, so that lazily built state exists
        stream.handle(first.constData(), first.size());
        stream.resetSequence();
        const Clock::time_point now = Clock::now();
        std::vector<char> buffer(65536);
        for (size_t i = 0; i <= packets.size(); ++i) {
            if (i < packets.size()) {
                receiver.writeDatagram(packets[i], QHostAddress(QStringLiteral("127.0.0.1")), 51401);
                QVERIFY(device.waitForReadyRead(1000));
            }
            qint64 received = 0;
            testsupport::AllocationScope scope; // what the socket thread does for one packet
            while (device.hasPendingDatagrams()) {
                const qint64 n = device.readDatagram(buffer.data(), qint64(buffer.size()));
                received += n;
                stream.setMute(i % 3 == 0 && i < size_t(order.size()));
                stream.handle(buffer.data(), n, now);
            }
            stream.expireGaps(i < packets.size() ? now : now + std::chrono::seconds(1));
            const auto count = scope.count();
            QVERIFY2(count == 0, qPrintable(QStringLiteral("%1 allocations for packet %2").arg(count).arg(i)));
            QCOMPARE(received, i < packets.size() ? qint64(1210) : 0);
            while (receiver.hasPendingDatagrams())
                receiver.readDatagram(buffer.data(), qint64(buffer.size()));
        }
        files[0]->stop();
        QCOMPARE(engine.calls, 1 + 64 + 1 + IqStream::kGapEvidence);
        QCOMPARE(stream.counters().resyncs, quint64(1));
        QCOMPARE(stream.counters().givenUp, quint64(4 + IqStream::kHoldWindow - 1 + 5));
        QVERIFY(answers > 64 && files[0]->dataBytes() > 0);
    }
};

QTEST_GUILESS_MAIN(TestIqStream)
#include "tst_iqstream.moc"
