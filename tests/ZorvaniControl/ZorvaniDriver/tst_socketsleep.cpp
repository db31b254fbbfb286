// The socket thread's sleep ends for each thing it waits for, and only then:
// a wake-up (before or during the sleep), a datagram, or its time limit.
#include "ZorvaniControl/ZorvaniDriver/SocketSleep.h"

#include <QUdpSocket>
#include <QtTest>

#include <atomic>
#include <thread>

class TestSocketSleep : public QObject {
    Q_OBJECT
private slots:
    void endsOnItsCause_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("woken before") << "wake before" << -1;
        QTest::newRow("woken during") << "wake during" << -1;
        QTest::newRow("datagram waiting") << "datagram" << -1;
        QTest::newRow("time limit") << "none" << 20;
    }
    void endsOnItsCause()
    {
        QFETCH(QString, cause);
        QFETCH(int, timeoutMs);
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        SocketSleep sleep;
        if (cause == "wake before")
            sleep.wake();
        if (cause == "datagram") {
            QUdpSocket peer;
            QCOMPARE(peer.writeDatagram("x", 1, QHostAddress::LocalHost, socket.localPort()), qint64(1));
        }

        std::atomic<bool> asleep{false};
        std::atomic<bool> done{false};
        std::thread sleeper([&] {
            asleep.store(true);
            sleep.sleep(socket.socketDescriptor(), timeoutMs);
            done.store(true);
        });
        QTRY_VERIFY_WITH_TIMEOUT(asleep.load(), 5000);
        if (cause == "wake during")
            sleep.wake();
        const bool ended = QTest::qWaitFor([&] { return done.load(); }, 5000);
        if (!ended)
            sleep.wake();
        sleeper.join();
        QVERIFY2(ended, qPrintable(cause));
    }

    // A wake-up is used up by the sleep it ends: the next one waits again
    // (here until a datagram arrives, sent only after the first has ended).
    void wakeIsConsumed()
    {
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        SocketSleep sleep;
        sleep.wake();
        sleep.wake();
        sleep.sleep(socket.socketDescriptor(), -1);

        std::atomic<bool> done{false};
        std::thread sleeper([&] {
            sleep.sleep(socket.socketDescriptor(), -1);
            done.store(true);
        });
        QTest::qWait(50);
        const bool stillAsleep = !done.load();
        QUdpSocket peer;
        peer.writeDatagram("x", 1, QHostAddress::LocalHost, socket.localPort());
        const bool ended = QTest::qWaitFor([&] { return done.load(); }, 5000);
        if (!ended)
            sleep.wake();
        sleeper.join();
        QVERIFY(stillAsleep);
        QVERIFY(ended);
    }
};

QTEST_GUILESS_MAIN(TestSocketSleep)
#include "tst_socketsleep.moc"
