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
        for (const char* cause : {"wake before", "wake during", "datagram", "time limit",
                                  "wake twice, then a datagram"}) // the second sleep waits until the datagram, sent once the test saw it asleep
            QTest::newRow(cause) << cause;
    }
    void endsOnItsCause()
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

QTEST_GUILESS_MAIN(TestSocketSleep)
#include "tst_socketsleep.moc"
