#include "AllocationCounter.h"
#include "IqPackets.h"
#include "ZorvaniControl/ZorvaniDriver/IqStream.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <numeric>
#include <vector>

using Sample = IqStream::Sample;
using Clock = IqStream::Clock;

namespace {
// A packet whose first I value is its own sequence number, so the engine
// side can tell which packet it got.
QByteArray numbered(quint16 sequence, quint8 channel = 0)
{
    return iqtest::packet(sequence, channel, [sequence](int i, int q) { return i == 0 && q == 0 ? int(sequence) : i; });
}
} // namespace

// Engine stand-in: keeps the last input, the sequence of every numbered packet
// it got, and answers with a fixed audio frame.
struct FakeEngine {
    bool produce = false;
    double left = 0.25;
    double right = -0.5;
    int calls = 0;
    quint32 lastRx = 99;
    Sample lastInput[200] = {};
    std::vector<int> seen;

    FakeEngine() { seen.reserve(70000); }

    IqStream::BlockEntry entry()
    {
        return [this](Sample* in, Sample* audio, quint32 rx) {
            ++calls;
            lastRx = rx;
            std::copy(in, in + 200, lastInput);
            if (seen.size() < seen.capacity())
                seen.push_back(int(std::lround(in[0].re * 8388608.0)));
            if (!produce)
                return false;
            for (int i = 0; i < 200; ++i)
                audio[i] = Sample{left, right};
            return true;
        };
    }
    bool inputIsZero() const
    {
        return std::all_of(lastInput, lastInput + 200, [](const Sample& s) { return s.re == 0.0 && s.im == 0.0; });
    }
};

// A stream on a fake engine whose answers are collected. Its clock stands
// still unless a test moves it.
struct Harness {
    FakeEngine engine;
    IqStream stream;
    QList<QByteArray> answers;
    Clock::time_point now = Clock::now();

    explicit Harness(const IqFileSlots* files = nullptr) : stream(engine.entry(), files)
    {
        stream.setAnswerSink([this](const char* d, qint64 n) { answers << QByteArray(d, int(n)); });
    }
    // Feeds one packet, then looks for overdue gaps as the socket thread does
    // when nothing more waits; the answers it caused.
    QList<QByteArray> feed(const QByteArray& packet)
    {
        const int before = answers.size();
        int n = stream.handle(packet.constData(), packet.size(), now);
        n += stream.expireGaps(now);
        const QList<QByteArray> caused = answers.mid(before);
        if (n != caused.size())
            qFatal("handle() reported %d answers, the sink got %d", n, int(caused.size()));
        return caused;
    }
    QList<QByteArray> feed(quint16 sequence) { return feed(numbered(sequence)); }
    QList<QByteArray> feedAt(quint16 sequence, int ms, Clock::time_point t0)
    {
        now = t0 + std::chrono::milliseconds(ms);
        return feed(sequence);
    }
    QList<int> answeredSequences() const
    {
        QList<int> s;
        for (const QByteArray& a : answers)
            s << iqtest::sequenceOf(a);
        return s;
    }
};

class TestIqStream : public QObject {
    Q_OBJECT

private slots:
    void inOrderPacketsAreProcessedAndWrap()
    {
        Harness h;
        for (int s = 0; s <= 65536 + 3; ++s) {
            const QList<QByteArray> a = h.feed(quint16(s));
            QCOMPARE(a.size(), 1);
            QCOMPARE(a[0].size(), 10);
        }
        QCOMPARE(h.engine.calls, 65540);
        QCOMPARE(h.stream.expectedSequence(), quint16(4));
        QCOMPARE(h.stream.counters().processed, quint64(65540));
    }

    void resentPacketIsAnsweredFromTheRing()
    {
        Harness h;
        h.engine.produce = true;
        for (int s = 0; s < 300; ++s)
            h.feed(quint16(s));
        const int calls = h.engine.calls;
        // Any of the last half ring of answers is there for a re-send.
        for (int s : {299, 200, 44}) {
            const QList<QByteArray> again = h.feed(iqtest::packet(quint16(s), 0, [](int, int) { return 77; }));
            QCOMPARE(again.size(), 1);
            QCOMPARE(again[0], h.answers[s]);
        }
        QCOMPARE(h.engine.calls, calls);
        QCOMPARE(h.stream.expectedSequence(), quint16(300));
        QCOMPARE(h.feed(300).size(), 1);
        QCOMPARE(h.engine.calls, calls + 1);
    }

    // Arrival orders; every packet reaches the engine once, in sequence order,
    // and is answered once, in sequence order, as soon as its gap closes.
    void heldPacketsAreProcessedInOrder_data()
    {
        QTest::addColumn<QList<int>>("arrivals");
        QTest::addColumn<QList<int>>("answersAfterEach");
        QTest::newRow("swapped pair") << QList<int>{0, 2, 1, 3} << QList<int>{1, 0, 2, 1};
        QTest::newRow("one late by five") << QList<int>{0, 2, 3, 4, 5, 6, 1, 7} << QList<int>{1, 0, 0, 0, 0, 0, 6, 1};
        QTest::newRow("two gaps") << QList<int>{0, 3, 1, 5, 2, 4} << QList<int>{1, 0, 1, 0, 2, 2};
        QTest::newRow("re-sent while held") << QList<int>{0, 2, 2, 3, 2, 1} << QList<int>{1, 0, 0, 0, 0, 3};
        QTest::newRow("re-sent after answered") << QList<int>{0, 1, 0, 3, 1, 2} << QList<int>{1, 1, 1, 0, 1, 2};
        QTest::newRow("first packet late") << QList<int>{1, 2, 0, 3} << QList<int>{0, 0, 3, 1};
    }
    void heldPacketsAreProcessedInOrder()
    {
        QFETCH(QList<int>, arrivals);
        QFETCH(QList<int>, answersAfterEach);
        Harness h;
        QList<int> caused;
        for (int s : arrivals)
            caused << h.feed(quint16(s)).size();
        QCOMPARE(caused, answersAfterEach);
        const int last = *std::max_element(arrivals.cbegin(), arrivals.cend());
        std::vector<int> expected(size_t(last + 1));
        std::iota(expected.begin(), expected.end(), 0);
        QCOMPARE(h.engine.seen, expected);
        // First answers in order; repeats only for packets re-sent after their answer.
        QList<int> firsts;
        for (int s : h.answeredSequences())
            if (!firsts.contains(s))
                firsts << s;
        QCOMPARE(firsts, QList<int>(expected.cbegin(), expected.cend()));
        QCOMPARE(h.stream.counters().givenUp, quint64(0));
    }

    void gapIsGivenUpAfterItsTimeout()
    {
        Harness h;
        const Clock::time_point t0 = h.now;
        h.feedAt(0, 0, t0);
        for (int s = 2; s <= 5; ++s)
            QVERIFY(h.feedAt(quint16(s), 10 * s, t0).isEmpty());
        // 150 ms after the first held packet (sequence 2, at 20 ms) the gap is given up.
        QVERIFY(h.feedAt(6, 170, t0).isEmpty());
        const QList<QByteArray> burst = h.feedAt(7, 171, t0);
        QCOMPARE(burst.size(), 7);
        QCOMPARE(burst[0].size(), 10);
        QCOMPARE(iqtest::lengthOf(burst[0]), quint16(0));
        QCOMPARE(qFromLittleEndian<quint16>(burst[0].constData() + 2), quint16(0xFFFE));
        QCOMPARE(h.answeredSequences(), (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(h.engine.seen, (std::vector<int>{0, 2, 3, 4, 5, 6, 7}));
        QCOMPARE(h.stream.counters().givenUp, quint64(1));
        // The receiver's late re-send gets the same acknowledge, and no processing.
        const QList<QByteArray> late = h.feedAt(1, 200, t0);
        QCOMPARE(late.size(), 1);
        QCOMPARE(late[0], burst[0]);
        QCOMPARE(h.engine.calls, 7);
    }

    void eachGapHasItsOwnTimeout()
    {
        // 1 and 4 missing; 1 comes back late, 4 never. 4's clock starts when 3
        // was processed, not when 5 came: a packet held far ahead may be early
        // or forged.
        Harness h;
        const Clock::time_point t0 = h.now;
        h.feedAt(0, 0, t0);
        h.feedAt(2, 1, t0);
        h.feedAt(3, 2, t0);
        h.feedAt(5, 3, t0);
        QCOMPARE(h.feedAt(1, 140, t0).size(), 3);
        for (int s = 6; s <= 8; ++s)
            QVERIFY(h.feedAt(quint16(s), 200, t0).isEmpty());
        QVERIFY(h.feedAt(9, 290, t0).isEmpty());
        QCOMPARE(h.feedAt(10, 291, t0).size(), 7);
        QCOMPARE(h.answeredSequences(), (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        QCOMPARE(h.stream.counters().givenUp, quint64(1));
    }

    void gapsAreGivenUpOnlyWhenNothingWaits()
    {
        // The socket thread reads what waits before it looks at the clock: a
        // re-send queued behind later packets still closes the gap, however late.
        Harness h;
        h.feed(0);
        const Clock::time_point late = h.now + std::chrono::seconds(1);
        const QByteArray two = numbered(2);
        const QByteArray one = numbered(1);
        QCOMPARE(h.stream.handle(two.constData(), two.size(), late), 0);
        QCOMPARE(h.stream.handle(one.constData(), one.size(), late), 2);
        QCOMPARE(h.stream.expireGaps(late), 0);
        // Nor while the receiver sends nothing newer: it may be stalled, not done re-sending.
        for (int s = 4; s < 4 + IqStream::kGapEvidence - 1; ++s)
            h.feed(quint16(s));
        QCOMPARE(h.stream.expireGaps(late + std::chrono::seconds(10)), 0);
        QCOMPARE(h.stream.counters().givenUp, quint64(0));
    }

    void packetsMissingInARowAreGivenUpTogether()
    {
        Harness h;
        const Clock::time_point t0 = h.now;
        h.feedAt(0, 0, t0);
        for (int s = 6; s <= 8; ++s)
            h.feedAt(quint16(s), 10, t0);
        QCOMPARE(h.feedAt(9, 161, t0).size(), 9);
        QCOMPARE(h.stream.counters().givenUp, quint64(5));
        QCOMPARE(h.engine.seen, (std::vector<int>{0, 6, 7, 8, 9}));
    }

    void packetBeyondTheHoldWindowGivesUpTheOldestGaps()
    {
        Harness h;
        h.feed(0);
        const int far = IqStream::kHoldWindow + 44;
        QCOMPARE(h.feed(quint16(far)).size(), 44);
        QCOMPARE(h.stream.counters().givenUp, quint64(44));
        QCOMPARE(h.stream.expectedSequence(), quint16(45));
        QCOMPARE(h.answeredSequences().last(), 44);
        // The held packet is processed once its own gap closes.
        for (int s = 45; s < far; ++s)
            h.feed(quint16(s));
        QCOMPARE(h.engine.seen.back(), far);
        QCOMPARE(h.stream.expectedSequence(), quint16(far + 1));
    }

    void foreignSequencesDropThenResynchronise()
    {
        Harness h;
        for (int s = 0; s < 5; ++s)
            h.feed(quint16(s));
        h.feed(7); // held when the receiver moves on
        const int calls = h.engine.calls;
        for (int i = 0; i < 33; ++i)
            QVERIFY2(h.feed(quint16(1000 + 50 * i)).isEmpty(), qPrintable(QStringLiteral("miss %1 was answered").arg(i + 1)));
        const QList<QByteArray> resync = h.feed(4000);
        // The held packet is processed (its gap given up) before the acknowledge of 4000.
        QCOMPARE(resync.size(), 4);
        QCOMPARE(resync.last().size(), 10);
        QCOMPARE(iqtest::lengthOf(resync.last()), quint16(0));
        QCOMPARE(iqtest::sequenceOf(resync.last()), quint16(4000));
        QCOMPARE(h.stream.expectedSequence(), quint16(4008));
        QCOMPARE(h.engine.calls, calls + 1);
        QCOMPARE(h.stream.counters().resyncs, quint64(1));
        // The numbers between are in the ring and get acknowledges.
        const QList<QByteArray> between = h.feed(4003);
        QCOMPARE(between.size(), 1);
        QCOMPARE(between[0].size(), 10);
        QCOMPARE(iqtest::sequenceOf(between[0]), quint16(4003));
        QCOMPARE(qFromLittleEndian<quint16>(between[0].constData() + 2), quint16(0xFFFE));
        QCOMPARE(h.engine.calls, calls + 1);
        QCOMPARE(h.feed(4008).size(), 1);
        QCOMPARE(h.engine.calls, calls + 2);
        QCOMPARE(h.stream.expectedSequence(), quint16(4009));
    }

    void missCounterKeepsCountingAfterResync()
    {
        Harness h;
        for (int i = 0; i < 33; ++i)
            QVERIFY(h.feed(quint16(1000 + 20 * i)).isEmpty());
        QCOMPARE(h.feed(9000).size(), 1);
        // A further consecutive miss resynchronises again at once.
        QCOMPARE(h.feed(20000).size(), 1);
        QCOMPARE(h.stream.expectedSequence(), quint16(20008));
        // An in-order packet resets the counter: the next foreign one is dropped.
        h.feed(20008);
        QVERIFY(h.feed(30000).isEmpty());
    }

    void lateResendsNeverTakeTheStreamBack()
    {
        // Re-sends of packets whose answers have left the ring (a long stall,
        // then the receiver catching up) are dropped, however many in a row.
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
        // Nor do they hide a receiver that did move on: its packets still count
        // as consecutive misses.
        for (int i = 0; i < IqStream::kDroppedMisses; ++i) {
            h.feed(quint16(late + 1 + i)); // still within the late window of 2001
            QVERIFY(h.feed(quint16(9000 + i)).isEmpty());
        }
        QCOMPARE(h.feed(9100).size(), 1);
        QCOMPARE(h.stream.expectedSequence(), quint16(9108));
        QCOMPARE(h.stream.counters().late, quint64(4 * IqStream::kDroppedMisses));
        // Beyond the late window a packet behind is foreign: the miss count
        // goes on after a resynchronisation, so it resynchronises at once.
        QCOMPARE(h.feed(quint16(9108 - IqStream::kLateWindow - 1)).size(), 1);
        QCOMPARE(h.stream.counters().resyncs, quint64(2));
    }

    void muteGivesShortAnswersButRingKeepsAudio()
    {
        Harness h;
        h.engine.produce = true;
        h.stream.setMute(true);
        const QList<QByteArray> a0 = h.feed(0);
        QCOMPARE(a0[0].size(), 10);
        QCOMPARE(iqtest::lengthOf(a0[0]), quint16(0));
        // Held packets released later are muted too.
        h.feed(2);
        QCOMPARE(h.feed(1).at(1).size(), 10);
        const QList<QByteArray> resent = h.feed(0);
        QCOMPARE(resent[0].size(), 1210);
        h.stream.setMute(false);
        QCOMPARE(h.feed(3).at(0).size(), 1210);
    }

    void noAudioGivesAcknowledge()
    {
        Harness h;
        const QList<QByteArray> a = h.feed(numbered(0, 1));
        QCOMPARE(a[0].size(), 10);
        QCOMPARE(iqtest::lengthOf(a[0]), quint16(0));
        QCOMPARE(h.engine.lastRx, 1u);
        IqStream noEngine(nullptr, nullptr);
        const QByteArray p = iqtest::packet(0, 0);
        QCOMPARE(noEngine.handle(p.constData(), p.size()), 1);
    }

    void answerEncodesAudioAs24Bit_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<qint32>("expected");
        // int32(v * 2147483647) truncated toward zero, upper three bytes.
        QTest::newRow("half") << 0.5 << qint32(1073741823 >> 8);
        QTest::newRow("minus full") << -1.0 << qint32(-2147483647 >> 8);
        QTest::newRow("full") << 1.0 << qint32(2147483647 >> 8);
        QTest::newRow("zero") << 0.0 << 0;
        QTest::newRow("clipped high") << 3.0 << qint32(2147483647 >> 8);
        QTest::newRow("clipped low") << -7.0 << qint32(-2147483647 >> 8);
        QTest::newRow("small negative") << -1e-9 << qint32(-2 >> 8);
    }
    void answerEncodesAudioAs24Bit()
    {
        QFETCH(double, value);
        QFETCH(qint32, expected);
        Harness h;
        h.engine.produce = true;
        h.engine.left = value;
        h.engine.right = -value;
        const QByteArray a = h.feed(0).value(0);
        QCOMPARE(a.size(), 1210);
        QCOMPARE(iqtest::lengthOf(a), quint16(1200));
        const qint32 expectedRight = qint32(qint32(-std::clamp(value, -1.0, 1.0) * 2147483647.0) >> 8);
        for (int i = 0; i < 200; ++i) {
            QCOMPARE(iqtest::get24(a.constData() + 10 + 6 * i), expected);
            QCOMPARE(iqtest::get24(a.constData() + 13 + 6 * i), expectedRight);
        }
    }

    void scaling_data()
    {
        QTest::addColumn<qint32>("raw");
        QTest::addColumn<double>("gain");
        QTest::addColumn<double>("expected");
        QTest::newRow("max") << 0x7FFFFF << 1.0 << 8388607.0 / 8388608.0;
        QTest::newRow("min") << -0x800000 << 1.0 << -1.0;
        QTest::newRow("lsb") << 1 << 1.0 << std::ldexp(1.0, -23);
        QTest::newRow("minus lsb") << -1 << 1.0 << -std::ldexp(1.0, -23);
        QTest::newRow("gain 20 dB") << 0x400000 << 10.0 << 5.0;
        QTest::newRow("zero") << 0 << 3.0 << 0.0;
    }
    void scaling()
    {
        QFETCH(qint32, raw);
        QFETCH(double, gain);
        QFETCH(double, expected);
        Harness h;
        h.stream.setGain(gain);
        h.feed(iqtest::packet(0, 0, [raw](int, int q) { return q == 0 ? raw : -raw; }));
        for (int i : {0, 117, 199}) {
            QCOMPARE(h.engine.lastInput[i].re, expected);
            // -(-0x800000) does not fit 24 bits and wraps to itself.
            QCOMPARE(h.engine.lastInput[i].im, raw == -0x800000 ? expected : -expected);
        }
    }

    void firstTwentyMillisecondsReachEngineAsZeros()
    {
        Harness h;
        h.stream.resetSequence();
        const Clock::time_point start = Clock::now();
        // Packets stamped before and after the mute's end, the gap closing after it.
        h.feedAt(0, 1, start);
        QVERIFY(h.engine.inputIsZero());
        h.feedAt(2, 2, start);
        h.feedAt(1, 60, start);
        QVERIFY2(!h.engine.inputIsZero(), "released after the mute ended, still muted");
        QCOMPARE(h.engine.seen, (std::vector<int>{0, 1, 2}));
        // A stream that was never started is not muted.
        Harness plain;
        plain.feed(0);
        QVERIFY(!plain.engine.inputIsZero());
    }

    void resetSequenceRestartsNumberingAndDropsHeldPackets()
    {
        Harness h;
        for (int s = 0; s < 5; ++s)
            h.feed(quint16(s));
        h.feed(7);
        h.stream.resetSequence();
        QCOMPARE(h.stream.expectedSequence(), quint16(0));
        // The held 7 of the old numbering is gone: each packet answers only itself.
        for (int s = 0; s < 10; ++s)
            QCOMPARE(h.feed(quint16(s)).size(), 1);
        QCOMPARE(h.engine.calls, 15);
    }

    void malformedPacketsAreCountedAndDropped_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("channel");
        QTest::newRow("one byte short") << 1209 << 1200 << 0;
        QTest::newRow("one byte long") << 1211 << 1200 << 0;
        QTest::newRow("header only") << 10 << 1200 << 0;
        QTest::newRow("empty") << 0 << 1200 << 0;
        QTest::newRow("length word 0") << 1210 << 0 << 0;
        QTest::newRow("length word 1199") << 1210 << 1199 << 0;
        QTest::newRow("channel 2") << 1210 << 1200 << 2;
        QTest::newRow("channel 255") << 1210 << 1200 << 255;
    }
    void malformedPacketsAreCountedAndDropped()
    {
        QFETCH(int, size);
        QFETCH(int, length);
        QFETCH(int, channel);
        Harness h;
        QByteArray p = iqtest::packet(0, quint8(channel));
        qToLittleEndian<quint16>(quint16(length), p.data() + 4);
        p.resize(std::max(size, 1210));
        QCOMPARE(h.stream.handle(p.constData(), size), 0);
        QCOMPARE(h.engine.calls, 0);
        QCOMPARE(h.stream.expectedSequence(), quint16(0));
        QCOMPARE(h.stream.counters().malformed, quint64(1));
    }

    void channelBeyondIqFileSlotsIsDropped()
    {
        IqFileSlots one;
        one.emplace_back();
        Harness h(&one);
        QVERIFY(h.feed(numbered(0, 1)).isEmpty());
        QCOMPARE(h.feed(numbered(0, 0)).size(), 1);
        QCOMPARE(h.engine.calls, 1);
    }

    void recordingReceivesRawPayloadsInSequenceOrder()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        IqFileSlots files;
        files.emplace_back();
        files.emplace_back();
        files[1]->setFormat(ox::file::IQFile::Format0);
        const QString path = dir.filePath(QStringLiteral("rx1.wav"));
        QVERIFY(files[1]->open(path));
        Harness h(&files);
        QByteArray payloads;
        QList<QByteArray> packets;
        for (int s = 0; s < 10; ++s) {
            packets << iqtest::packet(quint16(s), 1, [s](int i, int q) { return (s * 1000 + i) * (q ? -1 : 1); });
            payloads += packets.last().mid(10);
        }
        // Arriving out of order, re-sent, and on the receiver that is not recording.
        for (int s : {0, 2, 1, 3, 5, 4, 6, 7, 9, 8, 8})
            h.feed(packets[s]);
        h.feed(numbered(10, 0));
        files[1]->stop();
        QCOMPARE(files[1]->dataBytes(), quint64(10 * 1200));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY2(file.readAll().contains(payloads), "the raw payloads are not in the file in sequence order");
        QVERIFY(!files[0]->isRecording());
    }

    void streamWithGapsDoesNotAllocate()
    {
        // Receiver 0 records while the stream runs.
        QTemporaryDir dir;
        IqFileSlots files;
        files.emplace_back();
        files.emplace_back();
        QVERIFY(files[0]->open(dir.filePath(QStringLiteral("rx0.wav"))));
        FakeEngine engine;
        engine.produce = true;
        IqStream stream(engine.entry(), &files);
        int answers = 0;
        stream.setAnswerSink([&answers](const char*, qint64) { ++answers; });
        // In order, swapped, held behind a gap, re-sent, given up by distance, foreign.
        QList<int> order;
        for (int s = 0; s < 64; ++s)
            order << s;
        std::swap(order[10], order[11]);
        order.move(20, 30);
        order << 60 << 63 << 64 + IqStream::kHoldWindow + 3;
        std::vector<QByteArray> packets;
        for (int s : order)
            packets.push_back(iqtest::packet(quint16(s), quint8(s & 1)));
        const QByteArray foreign = iqtest::packet(30000, 0);
        std::vector<QByteArray> afterGap;
        for (int s = 0; s < IqStream::kGapEvidence; ++s)
            afterGap.push_back(iqtest::packet(quint16(30000 + 8 + 5 + s), 0));
        // Warm up once so that lazily built state exists.
        const QByteArray first = iqtest::packet(0, 0);
        stream.handle(first.constData(), first.size());
        stream.resetSequence();
        const Clock::time_point now = Clock::now();

        testsupport::AllocationScope scope;
        for (size_t i = 0; i < packets.size(); ++i) {
            stream.setMute(i % 3 == 0);
            stream.handle(packets[i].constData(), 1210, now);
            stream.expireGaps(now);
        }
        // The 34th foreign packet resynchronises, giving up what is still held;
        // then a gap of five times out.
        for (int i = 0; i < 40; ++i)
            stream.handle(foreign.constData(), 1210, now);
        for (const QByteArray& p : afterGap)
            stream.handle(p.constData(), 1210, now);
        stream.expireGaps(now + std::chrono::seconds(1));
        const auto allocations = scope.count();
        files[0]->stop();
        QCOMPARE(allocations, 0u);
        QCOMPARE(engine.calls, 1 + 64 + 1 + IqStream::kGapEvidence);
        QCOMPARE(stream.counters().resyncs, quint64(1));
        QCOMPARE(stream.counters().givenUp, quint64(4 + IqStream::kHoldWindow - 1 + 5));
        QVERIFY(answers > 64);
        QVERIFY(files[0]->dataBytes() > 0);
    }
};

QTEST_GUILESS_MAIN(TestIqStream)
#include "tst_iqstream.moc"
