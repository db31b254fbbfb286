#include "DriverFixture.h"
#include "ZorvaniControl/ZorvaniDriver/PacketFifo.h"
#include "common/MessageBox.h"

#include <QSignalSpy>
#include <QtTest>

class TestDriverQueue : public QObject {
    Q_OBJECT
private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::No; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    void unansweredStartIsSentFiveTimesAndFails()
    {
        DriverFixture f(51001);
        QVERIFY(f.driver->isOpen());
        QVERIFY(!f.driver->Start());
        QCOMPARE(f.peer->requests(1).size(), 5);
        // The failed start does not stick: a retry transmits again.
        QVERIFY(!f.driver->isStart());
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1)}; });
        QVERIFY(f.driver->Start());
        QCOMPARE(f.peer->requests(1).size(), 6);
        QVERIFY(f.driver->isStart());
    }

    void retransmissionGapsGrow()
    {
        // The queue runs on the test's clock, read once per pass of the driver
        // loop: T, 2T, 3T, 4T between the five transmissions, given up 4T after
        // the last (T = 20 ms for a setting).
        constexpr qint64 kT = 20;
        constexpr quint16 kLpf = 27;
        std::atomic<qint64> now{1000};
        std::atomic<int> reads{0};
        DriverFixture f(51002, false);
        f.driver->setQueueClock([&] {
            ++reads;
            return now.load();
        });
        QVERIFY(f.driver->open(DriverFixture::receiver(51002)));
        const auto passes = [&](int n) {
            const int from = reads.load();
            return QTest::qWaitFor([&] { return reads.load() >= from + n; }, 10000);
        };
        f.driver->setLpf(true);
        QTRY_COMPARE_WITH_TIMEOUT(f.peer->requests(kLpf).size(), 1, 10000);
        qint64 sentAt = now;
        for (int i = 1; i <= 4; ++i) {
            now = sentAt + i * kT;
            QVERIFY(passes(3));
            QCOMPARE(f.peer->requests(kLpf).size(), i);
            now = sentAt + i * kT + 1;
            QTRY_COMPARE_WITH_TIMEOUT(f.peer->requests(kLpf).size(), i + 1, 10000);
            sentAt = now;
        }
        now = sentAt + 4 * kT - 1;
        QVERIFY(passes(3));
        QCOMPARE(f.driver->queuedItems(), 1);
        now = sentAt + 4 * kT;
        QTRY_COMPARE_WITH_TIMEOUT(f.driver->queuedItems(), 0, 10000);
        QCOMPARE(f.peer->requests(kLpf).size(), 5);
    }

    void closedLinkSendsNothingAndDoesNotBlock()
    {
        DriverFixture f(51003, false);
        f.driver->setFreq(0, 7e6);
        f.driver->setPreamp(1);
        f.driver->setLpf(true);
        f.driver->setPll(true);
        f.driver->setExtCtrl(3);
        f.driver->setFrontEnd(7);
        f.driver->setBandScope(true, 1000000, 2);
        QVERIFY(!f.driver->Start());
        QVERIFY(!f.driver->Stop());
        QVERIFY(!f.driver->information(nullptr));
        QVERIFY(!f.driver->setNetworkMode(StaticIp));
        QVERIFY(!f.driver->resetZorvani());
        QHostAddress a(QStringLiteral("10.1.2.3"));
        QVERIFY(!f.driver->setNewStaticAddress(a, 1));
        bool ok = true;
        QCOMPARE(f.driver->frontEnd(ok), quint16(0));
        QVERIFY(!ok);
        RootCoefficient root;
        bool crc = false;
        QVERIFY(!f.driver->readRootCalibrations(&root, &crc));
        QVERIFY(!f.driver->bootReadSN());
        QCOMPARE(f.driver->queuedItems(), 0);

        // Nothing of the above goes out once the link opens.
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1)}; });
        QVERIFY(f.driver->open(DriverFixture::receiver(51003)));
        QVERIFY(f.driver->bootReadSN() == false); // answered with status 1, which the bootloader never sends
        QCOMPARE(f.peer->requests(5).size(), f.peer->log().size());
    }

    void oneReplyCompletesOneRequest()
    {
        DriverFixture f(51004);
        // Two waited reads with one code are outstanding. Once both went out,
        // the receiver sends a reply too short for a read, then one per read.
        QTimer replies;
        connect(&replies, &QTimer::timeout, f.driver.get(), [&] {
            const QList<QByteArray> reads = f.peer->requests(41);
            if (reads.size() < 2)
                return;
            replies.stop();
            f.peer->send(TestPeer::reply(reads[0], 1));
            f.peer->send(TestPeer::reply(reads[0], 1, le<quint16>(0x0A5C) + le<quint16>(0)));
            f.peer->send(TestPeer::reply(reads[1], 1, le<quint16>(0x0B5C) + le<quint16>(0)));
        });
        replies.start(5);
        bool secondOk = false;
        quint16 second = 0;
        QTimer::singleShot(0, f.driver.get(), [&] { second = f.driver->frontEnd(secondOk); });
        bool firstOk = false;
        const quint16 first = f.driver->frontEnd(firstOk);
        QTRY_VERIFY_WITH_TIMEOUT(secondOk, 3000);
        QVERIFY(firstOk);
        QCOMPARE(first, quint16(0x0A5C));
        QCOMPARE(second, quint16(0x0B5C));
        QCOMPARE(f.peer->requests(41).size(), 2);
        QCOMPARE(f.driver->queuedItems(), 0);
    }

    // A malformed reply ahead of the genuine one: only the genuine one answers.
    void malformedRepliesAnswerNothing_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("dropped"); // by the socket thread, before the driver sees it
        QTest::newRow("unknown magic") << QStringLiteral("magic") << 0x1234 << true;
        QTest::newRow("length word one too many") << QStringLiteral("length") << 37 << true;
        QTest::newRow("length word one too few") << QStringLiteral("length") << 35 << true;
        QTest::newRow("datagram one byte longer") << QStringLiteral("size") << 18 + 37 << true;
        QTest::newRow("header cut") << QStringLiteral("size") << 17 << true;
        // Well-formed, yet no answer to this request.
        QTest::newRow("bootloader magic") << QStringLiteral("magic") << 0xFF11 << false;
        QTest::newRow("record cut, length word to match") << QStringLiteral("payload") << 35 << false;
    }
    void malformedRepliesAnswerNothing()
    {
        QFETCH(QString, field);
        QFETCH(int, value);
        QFETCH(bool, dropped);
        DriverFixture f(51010);
        const auto record = [](quint32 pcb) {
            QByteArray r(36, '\0');
            qToLittleEndian<quint16>(2, r.data() + 2);
            qToLittleEndian<quint32>(pcb, r.data() + 32);
            return r;
        };
        f.peer->setResponder([&](const QByteArray& request) {
            QByteArray bad = TestPeer::reply(request, 1, record(99));
            if (field == QLatin1String("magic"))
                qToLittleEndian<quint16>(quint16(value), bad.data());
            else if (field == QLatin1String("length"))
                qToLittleEndian<quint16>(quint16(value), bad.data() + 4);
            else if (field == QLatin1String("size"))
                bad.resize(value);
            else
                bad = TestPeer::reply(request, 1, record(99).left(value));
            return QList<QByteArray>{bad, TestPeer::reply(request, 1, record(3))};
        });
        SDR2_HDR info{};
        QVERIFY(f.driver->information(&info));
        QCOMPARE(info.pcbRevision, 3u);
        QCOMPARE(f.peer->requests(26).size(), 1);
        QCOMPARE(f.driver->device()->malformedDatagrams(), quint64(dropped ? 1 : 0));
    }

    // With no replies, settings are re-sent, but an older value never after a
    // newer one of the same setting: it would undo it at the receiver.
    void supersededSettingIsNotSentAgain()
    {
        DriverFixture f(51011);
        f.driver->setFreq(0, 1000000.0);
        f.driver->setFreq(1, 3000000.0);
        f.driver->setFreq(0, 2000000.0);
        QTRY_COMPARE_WITH_TIMEOUT(f.driver->queuedItems(), 0, 3000);
        QMap<quint32, QList<quint64>> sent; // channel -> values, in arrival order
        for (const QByteArray& d : f.peer->requests(8))
            sent[qFromLittleEndian<quint32>(d.constData() + 6)] << qFromLittleEndian<quint64>(d.constData() + 18);
        QCOMPARE(sent[0].count(10000000), 1);
        QCOMPARE(sent[0].count(20000000), 5);
        QCOMPARE(sent[0].last(), quint64(20000000));
        QCOMPARE(sent[1], (QList<quint64>{30000000, 30000000, 30000000, 30000000, 30000000}));
    }

    void fullReplyQueueDropsAndCounts()
    {
        PacketFifo fifo(4);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(fifo.push(header(0xFF12, 8, 0, quint32(i), 1)), i < 4);
        QCOMPARE(fifo.count(), 4);
        QCOMPARE(fifo.dropped(), quint64(2));
        QByteArray oldest;
        QVERIFY(fifo.pop(oldest));
        QCOMPARE(qFromLittleEndian<quint32>(oldest.constData() + 6), 0u);
        QVERIFY(fifo.push(header(0xFF12, 8, 0, 6, 1)));
    }

    void twentyFirstReplyWaitsForNextPass()
    {
        ZorvaniDriver driver(nullptr, nullptr);
        for (int i = 0; i < 21; ++i)
            driver.device()->replies().push(header(0xFF12, 8, 0, quint32(i), 1));
        QCOMPARE(driver.collectReplies(), 20);
        QCOMPARE(driver.device()->replies().count(), 1);
        QCOMPARE(driver.collectReplies(), 1);
        QCOMPARE(driver.collectReplies(), 0);
    }

    void startAndStopMarks()
    {
        DriverFixture f(51005);
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1)}; });
        QSignalSpy started(f.driver.get(), &ZorvaniDriver::streamStarted);
        QSignalSpy stopped(f.driver.get(), &ZorvaniDriver::streamStopped);
        QVERIFY(!f.driver->Stop());
        QVERIFY(f.peer->log().isEmpty());
        QVERIFY(f.driver->Start());
        const int starts = f.peer->requests(1).size();
        QVERIFY(f.driver->Start());
        QTest::qWait(100);
        QCOMPARE(f.peer->requests(1).size(), starts);
        QVERIFY(f.driver->device()->watchdogArmed());
        QCOMPARE(started.count(), 1);
        QCOMPARE(stopped.count(), 0);
        QVERIFY(f.driver->Stop());
        QVERIFY(!f.driver->device()->watchdogArmed());
        const int stops = f.peer->requests(2).size();
        QVERIFY(stops >= 1);
        QVERIFY(!f.driver->Stop());
        QTest::qWait(100);
        QCOMPARE(f.peer->requests(2).size(), stops);
        QCOMPARE(stopped.count(), 1);
        f.driver->close();
        QCOMPARE(started.count(), 1);
        QCOMPARE(stopped.count(), 2);
    }

    void startDemandingFirmwareUpdate_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("no") << int(QMessageBox::No);
        QTest::newRow("yes") << int(QMessageBox::Yes);
    }
    void startDemandingFirmwareUpdate()
    {
        QFETCH(int, answer);
        DriverFixture f(51006);
        ox::ui::MessageRequest seen;
        ox::ui::setMessageHandler([&](const ox::ui::MessageRequest& r) {
            seen = r;
            return QMessageBox::StandardButton(answer);
        });
        f.peer->setResponder(
            [](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, commandOf(r) == 1 ? 2 : 1)}; });
        QSignalSpy stop(f.driver.get(), &ZorvaniDriver::forceStop);
        QSignalSpy firmware(f.driver.get(), &ZorvaniDriver::writeFirmware);
        QSignalSpy started(f.driver.get(), &ZorvaniDriver::streamStarted);
        QVERIFY(!f.driver->Start());
        QCOMPARE(started.count(), 0);
        QVERIFY(!f.driver->isStart());
        QCOMPARE(stop.count(), 1);
        QCOMPARE(seen.title, QStringLiteral("ZorvaniDDC"));
        QCOMPARE(seen.text, QStringLiteral("You need update the ZorvaniDDC firmware."));
        QCOMPARE(seen.icon, QMessageBox::Warning);
        QVERIFY(!f.peer->requests(2).isEmpty());
        if (answer == QMessageBox::Yes) {
            QVERIFY(firmware.wait(1500));
        } else {
            QTest::qWait(700);
            QCOMPARE(firmware.count(), 0);
        }
    }

    void replyFromForeignAddressIsIgnored()
    {
        DriverFixture f(51007);
        TestPeer foreign(51007, QHostAddress(QStringLiteral("127.0.0.3")));
        QVERIFY(foreign.isBound());
        f.peer->setResponder([&](const QByteArray& r) {
            foreign.sendTo(TestPeer::reply(r, 0), f.peer->clientAddress(), f.peer->clientPort());
            return QList<QByteArray>{};
        });
        QVERIFY(!f.driver->bootReadSN());
        QCOMPARE(f.peer->requests(5).size(), 5);
        // The same reply from the receiver's address is taken.
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 0)}; });
        QVERIFY(f.driver->bootReadSN());
    }

    void shortRepliesCountAsNoReply()
    {
        DriverFixture f(51008);
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{r.left(12)}; });
        QVERIFY(!f.driver->bootErase());
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1, QByteArray(35, 1))}; });
        SDR2_HDR info{};
        info.pcbRevision = 77;
        QVERIFY(!f.driver->information(&info));
        QCOMPARE(info.pcbRevision, 77u);
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1, QByteArray(40, 1))}; });
        RootCoefficient root;
        root.percent = 5.0;
        bool crc = true;
        QVERIFY(!f.driver->readRootCalibrations(&root, &crc));
        QCOMPARE(root.percent, 5.0);
    }

    void closeReleasesWaitingCaller()
    {
        // The queue's clock stands still: only the close can end the wait.
        DriverFixture f(51009, false);
        f.driver->setQueueClock([] { return qint64(0); });
        QVERIFY(f.driver->open(DriverFixture::receiver(51009)));
        QTimer::singleShot(100, f.driver.get(), [&] { f.driver->close(); });
        QVERIFY(!f.driver->setNetworkMode(DhcpAuto));
        QVERIFY(!f.driver->isOpen());
        QCOMPARE(f.driver->queuedItems(), 0);
        // The link opens again on the same port.
        QVERIFY(f.driver->open(DriverFixture::receiver(51009)));
    }
};

QTEST_MAIN(TestDriverQueue)
#include "tst_driverqueue.moc"
