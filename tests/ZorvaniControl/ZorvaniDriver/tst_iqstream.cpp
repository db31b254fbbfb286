#include "AllocationCounter.h"
#include "IqPackets.h"
#include "ZorvaniControl/ZorvaniDriver/IqStream.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <vector>

using Sample = IqStream::Sample;

// Engine stand-in: keeps the last input and answers with a fixed audio frame.
struct FakeEngine {
    bool produce = false;
    double left = 0.25;
    double right = -0.5;
    int calls = 0;
    quint32 lastRx = 99;
    Sample lastInput[200] = {};

    IqStream::BlockEntry entry()
    {
        return [this](Sample* in, Sample* audio, quint32 rx) {
            ++calls;
            lastRx = rx;
            std::copy(in, in + 200, lastInput);
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

class TestIqStream : public QObject {
    Q_OBJECT

    // Runs one packet through the stream; returns the answer (empty when none).
    static QByteArray run(IqStream& stream, QByteArray packet)
    {
        const qint64 n = stream.handle(packet.data(), packet.size());
        return packet.left(int(n));
    }

private slots:
    void inOrderPacketsAreProcessedAndWrap()
    {
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        for (int s = 0; s <= 65536 + 3; ++s) {
            const QByteArray answer = run(stream, iqtest::packet(quint16(s), 0));
            QCOMPARE(answer.size(), 10);
        }
        QCOMPARE(engine.calls, 65540);
        QCOMPARE(stream.expectedSequence(), quint16(4));
    }

    void resentPacketIsAnsweredFromTheRing()
    {
        FakeEngine engine;
        engine.produce = true;
        IqStream stream(engine.entry(), nullptr);
        QList<QByteArray> answers;
        for (int s = 0; s < 5; ++s)
            answers << run(stream, iqtest::packet(quint16(s), 1));
        QCOMPARE(answers[3].size(), 1210);
        const int calls = engine.calls;
        const QByteArray again = run(stream, iqtest::packet(3, 1, [](int, int) { return 77; }));
        QCOMPARE(again, answers[3]);
        QCOMPARE(engine.calls, calls);
        QCOMPARE(stream.expectedSequence(), quint16(5));
        // The stream goes on where it was.
        QCOMPARE(run(stream, iqtest::packet(5, 1)).size(), 1210);
        QCOMPARE(engine.calls, calls + 1);
    }

    void foreignSequencesDropThenResynchronise()
    {
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        for (int s = 0; s < 5; ++s)
            run(stream, iqtest::packet(quint16(s), 0));
        const int calls = engine.calls;
        for (int i = 0; i < 33; ++i)
            QVERIFY2(run(stream, iqtest::packet(quint16(1000 + 50 * i), 0)).isEmpty(),
                     qPrintable(QStringLiteral("miss %1 was answered").arg(i + 1)));
        const QByteArray resync = run(stream, iqtest::packet(4000, 0));
        QCOMPARE(resync.size(), 10);
        QCOMPARE(iqtest::lengthOf(resync), quint16(0));
        QCOMPARE(iqtest::sequenceOf(resync), quint16(4000));
        QCOMPARE(stream.expectedSequence(), quint16(4008));
        QCOMPARE(engine.calls, calls);
        // The numbers between are in the ring and get acknowledges.
        const QByteArray between = run(stream, iqtest::packet(4003, 0));
        QCOMPARE(between.size(), 10);
        QCOMPARE(iqtest::sequenceOf(between), quint16(4003));
        QCOMPARE(qFromLittleEndian<quint16>(between.constData() + 2), quint16(0xFFFE));
        QCOMPARE(engine.calls, calls);
        QCOMPARE(run(stream, iqtest::packet(4008, 0)).size(), 10);
        QCOMPARE(engine.calls, calls + 1);
        QCOMPARE(stream.expectedSequence(), quint16(4009));
    }

    void missCounterKeepsCountingAfterResync()
    {
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        for (int i = 0; i < 33; ++i)
            QVERIFY(run(stream, iqtest::packet(quint16(100 + 20 * i), 0)).isEmpty());
        QCOMPARE(run(stream, iqtest::packet(9000, 0)).size(), 10);
        // A further consecutive miss resynchronises again at once.
        QCOMPARE(run(stream, iqtest::packet(20000, 0)).size(), 10);
        QCOMPARE(stream.expectedSequence(), quint16(20008));
        // An in-order packet resets the counter: the next foreign one is dropped.
        run(stream, iqtest::packet(20008, 0));
        QVERIFY(run(stream, iqtest::packet(30000, 0)).isEmpty());
    }

    void muteGivesShortAnswersButRingKeepsAudio()
    {
        FakeEngine engine;
        engine.produce = true;
        IqStream stream(engine.entry(), nullptr);
        stream.setMute(true);
        const QByteArray a0 = run(stream, iqtest::packet(0, 0));
        QCOMPARE(a0.size(), 10);
        QCOMPARE(iqtest::lengthOf(a0), quint16(0));
        run(stream, iqtest::packet(1, 0));
        const QByteArray resent = run(stream, iqtest::packet(0, 0));
        QCOMPARE(resent.size(), 1210);
        stream.setMute(false);
        QCOMPARE(run(stream, iqtest::packet(2, 0)).size(), 1210);
    }

    void noAudioGivesAcknowledge()
    {
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        const QByteArray a = run(stream, iqtest::packet(0, 1));
        QCOMPARE(a.size(), 10);
        QCOMPARE(iqtest::lengthOf(a), quint16(0));
        QCOMPARE(engine.lastRx, 1u);
        IqStream noEngine(nullptr, nullptr);
        QCOMPARE(run(noEngine, iqtest::packet(0, 0)).size(), 10);
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
        FakeEngine engine;
        engine.produce = true;
        engine.left = value;
        engine.right = -value;
        IqStream stream(engine.entry(), nullptr);
        const QByteArray a = run(stream, iqtest::packet(0, 0));
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
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        stream.setGain(gain);
        run(stream, iqtest::packet(0, 0, [raw](int, int q) { return q == 0 ? raw : -raw; }));
        for (int i : {0, 117, 199}) {
            QCOMPARE(engine.lastInput[i].re, expected);
            // -(-0x800000) does not fit 24 bits and wraps to itself.
            QCOMPARE(engine.lastInput[i].im, raw == -0x800000 ? expected : -expected);
        }
    }

    void firstTwentyMillisecondsReachEngineAsZeros()
    {
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        QElapsedTimer beforeReset;
        beforeReset.start();
        stream.resetSequence();
        QElapsedTimer afterReset;
        afterReset.start();
        int zeroed = 0;
        int passed = 0;
        for (quint16 s = 0; afterReset.elapsed() < 40; ++s) {
            const qint64 earliest = afterReset.nsecsElapsed();
            run(stream, iqtest::packet(s, 0));
            const qint64 latest = beforeReset.nsecsElapsed();
            if (latest < 20000000) {
                QVERIFY2(engine.inputIsZero(), qPrintable(QStringLiteral("packet %1 not muted").arg(s)));
                ++zeroed;
            } else if (earliest >= 20000000) {
                QVERIFY2(!engine.inputIsZero(), qPrintable(QStringLiteral("packet %1 still muted").arg(s)));
                ++passed;
            }
            QTest::qWait(1);
        }
        QVERIFY(zeroed > 0);
        QVERIFY(passed > 0);
        // A stream that was never started is not muted.
        IqStream plain(engine.entry(), nullptr);
        run(plain, iqtest::packet(0, 0));
        QVERIFY(!engine.inputIsZero());
    }

    void resetSequenceRestartsNumbering()
    {
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        for (int s = 500; s < 533; ++s)
            run(stream, iqtest::packet(quint16(s), 0));
        stream.resetSequence();
        QCOMPARE(stream.expectedSequence(), quint16(0));
        const int calls = engine.calls;
        QCOMPARE(run(stream, iqtest::packet(0, 0)).size(), 10);
        QCOMPARE(engine.calls, calls + 1);
    }

    void malformedPacketsAreIgnored_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("channel");
        QTest::newRow("one byte short") << 1209 << 0;
        QTest::newRow("header only") << 10 << 0;
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("channel 2") << 1210 << 2;
        QTest::newRow("channel 255") << 1210 << 255;
    }
    void malformedPacketsAreIgnored()
    {
        QFETCH(int, size);
        QFETCH(int, channel);
        FakeEngine engine;
        IqStream stream(engine.entry(), nullptr);
        QByteArray p = iqtest::packet(0, quint8(channel));
        QCOMPARE(stream.handle(p.data(), size), qint64(0));
        QCOMPARE(engine.calls, 0);
        QCOMPARE(stream.expectedSequence(), quint16(0));
    }

    void channelBeyondIqFileSlotsIsDropped()
    {
        FakeEngine engine;
        IqFileSlots one;
        one.emplace_back();
        IqStream stream(engine.entry(), &one);
        QCOMPARE(run(stream, iqtest::packet(0, 1)).size(), 0);
        QCOMPARE(run(stream, iqtest::packet(0, 0)).size(), 10);
        QCOMPARE(engine.calls, 1);
    }

    void recordingReceivesRawPayloadOfItsReceiver()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        IqFileSlots files;
        files.emplace_back();
        files.emplace_back();
        files[1]->setFormat(ox::file::IQFile::Format0);
        const QString path = dir.filePath(QStringLiteral("rx1.wav"));
        QVERIFY(files[1]->open(path));
        FakeEngine engine;
        IqStream stream(engine.entry(), &files);
        QByteArray payloads;
        for (int s = 0; s < 10; ++s) {
            const QByteArray p = iqtest::packet(quint16(s), 1, [s](int i, int q) { return (s * 1000 + i) * (q ? -1 : 1); });
            payloads += p.mid(10);
            run(stream, p);
        }
        // Receiver 0 is not recording and a re-sent packet is not recorded twice.
        run(stream, iqtest::packet(9, 1));
        files[1]->stop();
        QCOMPARE(files[1]->dataBytes(), quint64(10 * 1200));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
        QVERIFY2(content.endsWith(payloads) || content.contains(payloads), "the raw payloads are not in the file");
        QVERIFY(!files[0]->isRecording());
    }

    void steadyStreamDoesNotAllocate()
    {
        FakeEngine engine;
        engine.produce = true;
        // Receiver 0 records while the stream runs.
        QTemporaryDir dir;
        IqFileSlots files;
        files.emplace_back();
        files.emplace_back();
        QVERIFY(files[0]->open(dir.filePath(QStringLiteral("rx0.wav"))));
        IqStream stream(engine.entry(), &files);
        std::vector<QByteArray> packets;
        for (int s = 0; s < 64; ++s)
            packets.push_back(iqtest::packet(quint16(s), quint8(s & 1)));
        QByteArray stale = iqtest::packet(60, 0);
        QByteArray foreign = iqtest::packet(9999, 0);
        // Warm up once so that lazily built state exists.
        run(stream, iqtest::packet(0, 0));
        stream.resetSequence();
        char* data[64];
        for (int s = 0; s < 64; ++s)
            data[s] = packets[size_t(s)].data();

        testsupport::AllocationScope scope;
        for (int s = 0; s < 64; ++s) {
            stream.setMute(s % 3 == 0);
            stream.handle(data[s], 1210);
        }
        stream.handle(stale.data(), 1210);
        for (int i = 0; i < 40; ++i)
            stream.handle(foreign.data(), 1210);
        const auto allocations = scope.count();
        files[0]->stop();
        QCOMPARE(allocations, 0u);
        QCOMPARE(engine.calls, 65);
        QVERIFY(files[0]->dataBytes() > 0);
    }
};

QTEST_GUILESS_MAIN(TestIqStream)
#include "tst_iqstream.moc"
