// The socket thread's sleep ends for each thing it waits for, and only then:
// a wake-up (before or during the sleep), a datagram, or its time limit; a
// wake-up is used up by the sleep it ends.
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
        // Two wake-ups before a sleep end it; the next sleep waits again until
        // a datagram arrives, sent only once the test saw it still asleep.
        QTest::newRow("wake-up used up") << "wake twice, then a datagram" << -1;
    }
    void endsOnItsCause()
    {
        QFETCH(QString, cause);
        QFETCH(int, timeoutMs);
        QUdpSocket socket, peer;
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const auto datagram = [&] { return peer.writeDatagram("x", 1, QHostAddress::LocalHost, socket.localPort()) == 1; };
        SocketSleep sleep;
        if (cause == "wake before")
            sleep.wake();
        if (cause == "datagram")
            QVERIFY(datagram());
        if (cause.startsWith("wake twice")) {
            sleep.wake();
            sleep.wake();
            sleep.sleep(socket.socketDescriptor(), -1);
        }
        std::atomic<bool> asleep{false}, done{false};
        std::thread sleeper([&] {
            asleep.store(true);
            sleep.sleep(socket.socketDescriptor(), timeoutMs);
            done.store(true);
        });
        QTRY_VERIFY_WITH_TIMEOUT(asleep.load(), 5000);
        bool stillAsleep = true;
        if (cause == "wake during")
            sleep.wake();
        if (cause.startsWith("wake twice")) {
            QTest::qWait(50);
            stillAsleep = !done.load();
            QVERIFY(datagram());
        }
        const bool ended = QTest::qWaitFor([&] { return done.load(); }, 5000);
        if (!ended)
            sleep.wake();
        sleeper.join();
        QVERIFY2(ended, qPrintable(cause));
        QVERIFY(stillAsleep);
    }
};

QTEST_GUILESS_MAIN(TestSocketSleep)
#include "tst_socketsleep.moc"
