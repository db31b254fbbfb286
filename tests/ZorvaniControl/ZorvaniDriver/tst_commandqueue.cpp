// The driver's command queue and socket thread against a stand-in receiver
// on loopback: retries, expiry, reply matching, the stream's start and stop
// marks, what reaches the engine and the band scope, and the thread's sleep.
#include "BoxScript.h"
#include "DriverFixture.h"
#include "ZorvaniControl/ZorvaniDriver/PacketFifo.h"
#include "ZorvaniControl/ZorvaniDriver/SocketSleep.h"

#include <QtTest>

#include <atomic>
#include <thread>

class TestCommandQueue : public QObject {
    Q_OBJECT
    ScriptedBoxes m_boxes; // boxes answered No where offered, else Ok
private slots:
    // An unanswered Start goes out five times, is followed by one Stop and
    // does not stick; then Start and Stop send and announce only changes.
    void startAndStopMarks()
    {
        DriverFixture f(51001);
        QVERIFY(!f.driver.Start());
        QCOMPARE(f.peer.requests(1).size(), 5);
        QTRY_COMPARE_WITH_TIMEOUT(f.peer.requests(2).size(), 1, 2000);
        QVERIFY(!f.driver.isStart() && !f.driver.Stop());
        f.peer.setResponder(TestPeer::ok);
        QSignalSpy started(&f.driver, &ZorvaniDriver::streamStarted), stopped(&f.driver, &ZorvaniDriver::streamStopped);
        QVERIFY(f.driver.Start() && f.driver.isStart());
        QVERIFY(f.driver.Start()); // already started: nothing sent
        QVERIFY(f.driver.device()->watchdogArmed());
        QVERIFY(f.driver.Stop());
        const int stops = f.peer.requests(2).size();
        QVERIFY(!f.driver.Stop());
        QVERIFY(!f.driver.device()->watchdogArmed());
        QTest::qWait(100);
        QCOMPARE(f.peer.requests(1).size(), 6);
        QVERIFY(stops >= 2 && f.peer.requests(2).size() == stops);
        QVERIFY(started.count() == 1 && stopped.count() == 1);
        f.driver.close();
        QVERIFY(started.count() == 1 && stopped.count() == 2);
    }

    void retransmissionGapsGrow()
    {
        // The queue runs on the test's clock, read once per pass of the driver
        // loop: T, 2T, 3T, 4T between the five transmissions, given up 4T after
        // the last (T = 20 ms for a setting).
        constexpr qint64 kT = 20;
        std::atomic<qint64> now{1000};
        std::atomic<int> reads{0};
        DriverFixture f(51002, false);
        f.driver.setQueueClock([&] { return ++reads, now.load(); });
        QVERIFY(f.open());
        const auto passes = [&](int n) {
            const int from = reads.load();
            return QTest::qWaitFor([&] { return reads.load() >= from + n; }, 10000);
        };
        const auto sent = [&] { return f.peer.requests(27).size(); };
        f.driver.setLpf(true);
        QTRY_COMPARE_WITH_TIMEOUT(sent(), 1, 10000);
        qint64 sentAt = now;
        for (int i = 1; i <= 4; ++i) {
            now = sentAt + i * kT;
            QVERIFY(passes(3));
            QCOMPARE(sent(), i);
            now = sentAt + i * kT + 1;
            QTRY_COMPARE_WITH_TIMEOUT(sent(), i + 1, 10000);
            sentAt = now;
        }
        now = sentAt + 4 * kT - 1;
        QVERIFY(passes(3));
        QCOMPARE(f.driver.queuedItems(), 1);
        now = sentAt + 4 * kT;
        QTRY_COMPARE_WITH_TIMEOUT(f.driver.queuedItems(), 0, 10000);
        QCOMPARE(sent(), 5);
    }

    void closedLinkSendsNothingAndDoesNotBlock()
    {
        DriverFixture f(51003, false);
        f.driver.setFreq(0, 7e6), f.driver.setPreamp(1), f.driver.setLpf(true), f.driver.setPll(true);
        f.driver.setExtCtrl(3), f.driver.setFrontEnd(7), f.driver.setBandScope(true, 1000000, 2);
        QHostAddress a(QStringLiteral("10.1.2.3"));
        bool ok = true;
        RootCoefficient root;
        QVERIFY(!f.driver.Start() && !f.driver.Stop() && !f.driver.information(nullptr));
        QVERIFY(!f.driver.setNetworkMode(StaticIp) && !f.driver.resetZorvani() && !f.driver.setNewStaticAddress(a, 1));
        QVERIFY(f.driver.frontEnd(ok) == 0 && !ok);
        QVERIFY(!f.driver.readRootCalibrations(&root, &ok) && !f.driver.bootReadSN());
        QCOMPARE(f.driver.queuedItems(), 0);
        // Nothing of the above goes out once the link opens.
        f.peer.setResponder(TestPeer::ok);
        QVERIFY(f.open());
        QVERIFY(!f.driver.bootReadSN()); // answered with status 1, which the bootloader never sends
        QCOMPARE(f.peer.requests(5).size(), f.peer.log().size());
    }

    void closeReleasesWaitingCaller()
    {
        DriverFixture f(51009, false);
        f.driver.setQueueClock([] { return qint64(0); }); // only the close can end the wait
        QVERIFY(f.open());
        QTimer::singleShot(100, &f.driver, [&] { f.driver.close(); });
        QVERIFY(!f.driver.setNetworkMode(DhcpAuto) && !f.driver.isOpen() && f.driver.queuedItems() == 0);
        QVERIFY(f.open()); // the link opens again on the same port
    }

    void oneReplyCompletesOneRequest()
    {
        // Two waited reads with one code; once both went out, the receiver
        // sends a reply too short for a read, then one per read.
        DriverFixture f(51004);
        QTimer replies;
        connect(&replies, &QTimer::timeout, &f.driver, [&] {
            const QList<QByteArray> reads = f.peer.requests(41);
            if (reads.size() < 2)
                return;
            replies.stop();
            f.peer.send(TestPeer::reply(reads[0], 1));
            f.peer.send(TestPeer::reply(reads[0], 1, le<quint16>(0x0A5C) + le<quint16>(0)));
            f.peer.send(TestPeer::reply(reads[1], 1, le<quint16>(0x0B5C) + le<quint16>(0)));
        });
        replies.start(5);
        bool firstOk = false, secondOk = false;
        quint16 second = 0;
        QTimer::singleShot(0, &f.driver, [&] { second = f.driver.frontEnd(secondOk); });
        const quint16 first = f.driver.frontEnd(firstOk);
        QTRY_VERIFY_WITH_TIMEOUT(secondOk, 3000);
        QVERIFY(firstOk && first == 0x0A5C && second == 0x0B5C);
        QVERIFY(f.peer.requests(41).size() == 2 && f.driver.queuedItems() == 0);
    }

    // A malformed reply ahead of the genuine one: only the genuine one answers.
    void malformedRepliesAnswerNothing_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("dropped"); // by the socket thread, before the driver sees it
        QTest::newRow("unknown magic") << "magic" << 0x1234 << true;
        QTest::newRow("length word one too many") << "length" << 37 << true;
        QTest::newRow("length word one too few") << "length" << 35 << true;
        QTest::newRow("datagram one byte longer") << "size" << 18 + 37 << true;
        QTest::newRow("header cut") << "size" << 17 << true;
        // Well-formed, yet no answer to this request.
        QTest::newRow("bootloader magic") << "magic" << 0xFF11 << false;
        QTest::newRow("record cut, length word to match") << "payload" << 35 << false;
    }
    void malformedRepliesAnswerNothing()
    {
        QFETCH(QString, field);
        QFETCH(int, value);
        QFETCH(bool, dropped);
        DriverFixture f(51010);
        const auto record = [](quint32 pcb) { return QByteArray(2, '\0') + le<quint16>(2) + QByteArray(28, '\0') + le(pcb); };
        f.peer.setResponder([&](const QByteArray& request) {
            QByteArray bad = TestPeer::reply(request, 1, record(99).left(field == "payload" ? value : 36));
            if (field == "magic" || field == "length")
                qToLittleEndian<quint16>(quint16(value), bad.data() + (field == "magic" ? 0 : 4));
            if (field == "size")
                bad.resize(value);
            return QList<QByteArray>{bad, TestPeer::reply(request, 1, record(3))};
        });
        SDR2_HDR info{};
        QVERIFY(f.driver.information(&info));
        QVERIFY(info.pcbRevision == 3u && f.peer.requests(26).size() == 1);
        QCOMPARE(f.driver.device()->malformedDatagrams(), quint64(dropped ? 1 : 0));
    }

    // A reply too short for its command counts as no reply and leaves the caller's record alone (a cut header:
    // malformedRepliesAnswerNothing).
    void shortRepliesCountAsNoReply()
    {
        DriverFixture f(51008);
        f.peer.setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1, QByteArray(40, 1))}; });
        RootCoefficient root;
        root.percent = 5.0;
        bool crc = true;
        QVERIFY(!f.driver.readRootCalibrations(&root, &crc) && root.percent == 5.0);
    }

    // Unanswered settings are re-sent, but an older value never after a newer
    // one of the same setting: it would undo it at the receiver.
    void supersededSettingIsNotSentAgain()
    {
        DriverFixture f(51011);
        f.driver.setFreq(0, 1000000.0);
        f.driver.setFreq(1, 3000000.0);
        f.driver.setFreq(0, 2000000.0);
        QTRY_COMPARE_WITH_TIMEOUT(f.driver.queuedItems(), 0, 3000);
        QMap<quint32, QList<quint64>> sent; // channel -> values, in arrival order
        for (const QByteArray& d : f.peer.requests(8))
            sent[paramOf(d)] << qFromLittleEndian<quint64>(d.constData() + 18);
        QVERIFY(sent[0].count(10000000) == 1 && sent[0].count(20000000) == 5);
        QCOMPARE(sent[0].last(), quint64(20000000));
        QCOMPARE(sent[1], QVector<quint64>(5, 30000000).toList());
    }

    // The reply queue is bounded (the oldest kept, the rest counted), and one
    // pass of the driver takes at most twenty replies from it.
    void replyQueueIsBounded()
    {
        PacketFifo fifo(4);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(fifo.push(proto::packet(0xFF12, 8, quint32(i), 1, {})), i < 4);
        QByteArray oldest;
        QVERIFY(fifo.count() == 4 && fifo.dropped() == 2 && fifo.pop(oldest) && paramOf(oldest) == 0);
        QVERIFY(fifo.push(proto::packet(0xFF12, 8, 6, 1, {})));
        ZorvaniDriver driver(nullptr, nullptr);
        for (int i = 0; i < 21; ++i)
            driver.device()->replies().push(proto::packet(0xFF12, 8, quint32(i), 1, {}));
        QCOMPARE((QList<int>{driver.collectReplies(), driver.collectReplies(), driver.collectReplies()}), (QList<int>{20, 1, 0}));
    }

    // Replies and IQ from another address never reach the driver or the
    // engine; the same from the receiver's address do.
    void foreignDatagramsAreIgnored()
    {
        DriverFixture f(51007, false);
        TestPeer foreign(51007, QHostAddress(QStringLiteral("127.0.0.3")));
        QVERIFY(foreign.isBound());
        std::atomic<int> blocks{0};
        f.driver.device()->stream().setBlockEntry([&](IqStream::Sample*, IqStream::Sample*, quint32) { return ++blocks < 0; });
        QVERIFY(f.open());
        f.peer.setResponder([&](const QByteArray& r) {
            foreign.sendTo(f.peer, TestPeer::reply(r, 0));
            return QList<QByteArray>{};
        });
        QVERIFY(!f.driver.bootReadSN() && f.peer.requests(5).size() == 5);
        for (quint16 s = 0; s < 5; ++s)
            foreign.sendTo(f.peer, iqtest::packet(s, 0));
        f.peer.setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 0)}; });
        QVERIFY(f.driver.bootReadSN());
        QTest::qWait(100);
        QCOMPARE(blocks.load(), 0);
        f.peer.send(iqtest::packet(0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(blocks.load(), 1, 2000);
    }

    // Band-scope fragments from the socket reach the sink as frames, scaled,
    // with re and im swapped in the second Nyquist zone (im of sample 0 is 0).
    void bandScopeFramesReachTheSink()
    {
        DriverFixture f(51305, false);
        std::atomic<int> frames{0};
        std::atomic<double> firstRe[2] = {-1.0, -1.0}; // -2: a frame not of 4096 samples
        std::atomic<bool> mirrored{false};
        f.driver.setBandScopeSink([&](const Ostrovix::complex<double>* s, int count) {
            if (frames.load() < 2)
                firstRe[frames.load()].store(count == 4096 ? s[0].re : -2.0);
            ++frames;
        }, [&] { return mirrored.load(); });
        QVERIFY(f.open());
        f.peer.setResponder(TestPeer::ok);
        QVERIFY(f.driver.information(nullptr));
        for (bool swap : {false, true}) {
            mirrored.store(swap);
            for (int k = 0; k < 16; ++k) {
                QByteArray d = le<quint16>(0xFF12) + le<quint16>(0xFFFC) + le<quint16>(0) + le<quint16>(quint16(k)) + le<quint16>(0);
                for (int j = 0; j < 256; ++j)
                    d += le<qint16>(qint16(1000 + k)) + le<qint16>(qint16(-j));
                f.peer.send(d);
            }
            QTRY_COMPARE_WITH_TIMEOUT(frames.load(), swap ? 2 : 1, 2000);
        }
        QVERIFY(qFuzzyCompare(firstRe[0].load(), 1000.0 / 32767.0 * 0.1) && firstRe[1].load() == 0.0);
    }

    // The socket thread's sleep ends for each thing it waits for, and only
    // then: a wake-up (before or during the sleep), a datagram, or its time
    // limit; a wake-up is used up by the sleep it ends.
    void socketSleepEndsOnItsCause_data()
    {
        QTest::addColumn<QString>("cause");
        for (const char* cause : {"wake before", "wake during", "datagram", "time limit",
                                  "wake twice, then a datagram"}) // the second sleep waits until the datagram, sent once the test saw it asleep
            QTest::newRow(cause) << cause;
    }
    void socketSleepEndsOnItsCause()
    {
        QFETCH(QString, cause);
        QUdpSocket socket, peer;
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const auto datagram = [&] { return peer.writeDatagram("x", 1, QHostAddress::LocalHost, socket.localPort()) == 1; };
        SocketSleep sleep;
        if (cause == "wake before" || cause.startsWith("wake twice"))
            sleep.wake();
        if (cause.startsWith("wake twice")) {
            sleep.wake();
            sleep.sleep(socket.socketDescriptor(), -1);
        }
        QVERIFY(cause != "datagram" || datagram());
        std::atomic<bool> asleep{false}, done{false};
        std::thread sleeper([&] {
            asleep.store(true);
            sleep.sleep(socket.socketDescriptor(), cause == "time limit" ? 20 : -1);
            done.store(true);
        });
        QTRY_VERIFY_WITH_TIMEOUT(asleep.load(), 5000);
        if (cause == "wake during")
            sleep.wake();
        bool stillAsleep = true;
        if (cause.startsWith("wake twice")) {
            QTest::qWait(50);
            stillAsleep = !done.load();
            QVERIFY(datagram());
        }
        const bool ended = QTest::qWaitFor([&] { return done.load(); }, 5000);
        if (!ended)
            sleep.wake();
        sleeper.join();
        QVERIFY2(ended && stillAsleep, qPrintable(cause));
    }
};

QTEST_MAIN(TestCommandQueue)
#include "tst_commandqueue.moc"
