#include "SimClient.h"
#include "Simulator.h"

#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace zorvani::sim;
using namespace zorvani::sim::proto;

// Real-time pacing: the four rates run side by side for 10 s and each must
// deliver rate / 200 new packets per second within 0.5 %.
class TestSimPacing : public QObject {
    Q_OBJECT
private slots:
    void packetsPerSecondAtEveryRate()
    {
        const double rates[4] = {39062.5, 78125.0, 156250.0, 312500.0};
        const quint16 base = quint16(33000 + QCoreApplication::applicationPid() % 6000);
        struct Link {
            std::unique_ptr<Simulator> sim;
            std::unique_ptr<SimClient> client;
            QHostAddress address;
            quint16 port = 0;
            qint64 seq = -1;       // last sequence number seen, unwrapped
            qint64 first = -1;     // first and last sequence number inside the measuring window
            qint64 last = -1;
            qint64 duplicates = 0;
        };
        Link links[4];
        for (int r = 0; r < 4; ++r) {
            Link& l = links[r];
            Config c;
            c.port = quint16(base + r);
            c.scene = Scene(); // silence: pacing is what counts here
            c.logCommands = false;
            l.port = c.port;
            l.address = c.address;
            l.sim = std::make_unique<Simulator>(c);
            QVERIFY2(l.sim->start(), "emulator did not bind");
            l.client = std::make_unique<SimClient>();
            QVERIFY(l.client->isBound());
            l.client->socket().setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 22);
        }

        QElapsedTimer clock;
        bool measuring = false;
        auto onReady = [&](Link& l) {
            QUdpSocket& s = l.client->socket();
            while (s.hasPendingDatagrams()) {
                QNetworkDatagram d = s.receiveDatagram();
                const QByteArray p = d.data();
                if (p.size() != kIqPacketBytes || rd16(p, 2) != kIqMark)
                    continue;
                const int seq = rd16(p, 6);
                QByteArray ack = p.left(kIqAckBytes);
                wr16(ack, 4, 0);
                s.writeDatagram(ack, d.senderAddress(), quint16(d.senderPort()));
                // Sequence numbers count the packets the emulator made, even if this
                // loaded machine drops a few on their way to the client.
                const int ahead = quint16(seq - quint16(l.seq));
                if (l.seq >= 0 && (ahead == 0 || ahead >= 0x8000)) {
                    ++l.duplicates;
                    continue;
                }
                l.seq = l.seq < 0 ? seq : l.seq + ahead;
                if (measuring) {
                    if (l.first < 0)
                        l.first = l.seq;
                    l.last = l.seq;
                }
            }
        };
        for (Link& l : links)
            connect(&l.client->socket(), &QUdpSocket::readyRead, this, [&] { onReady(l); });

        for (int r = 0; r < 4; ++r) {
            QByteArray start(50, '\0');
            for (int i = 0; i < 8; ++i)
                wr32(start, 4 * i, kRateParams[size_t(r)][size_t(i)]);
            wr16(start, 36, 1);
            wr16(start, 38, quint16(r));
            wr16(start, 40, quint16(r));
            links[r].client->send(packet(kMagicApp, CmdStart, 0, 1, start), links[r].address, links[r].port);
        }
        // Settle for half a second, then count for exactly ten.
        QEventLoop loop;
        QTimer::singleShot(500, &loop, [&] {
            measuring = true;
            clock.start();
            QTimer::singleShot(10000, Qt::PreciseTimer, &loop, [&] {
                measuring = false;
                loop.quit();
            });
        });
        loop.exec();
        const double seconds = clock.nsecsElapsed() * 1e-9;
        for (int r = 0; r < 4; ++r) {
            const double expected = rates[r] / 200.0 * seconds;
            const qint64 packets = links[r].last - links[r].first;
            const double error = (double(packets) - expected) / expected;
            qInfo("rate %.1f Hz: %lld packets in %.3f s, expected %.1f (%.3f %%), re-sent %llu", rates[r], packets,
                  seconds, expected, 100.0 * error, links[r].sim->counters().iqResent);
            QVERIFY2(std::abs(error) < 0.005, qPrintable(QStringLiteral("rate index %1 off by %2 %").arg(r).arg(100 * error)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimPacing)
#include "tst_simpacing.moc"
