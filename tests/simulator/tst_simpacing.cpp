#include "SimClient.h"
#include "Simulator.h"

#include <QEventLoop>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace zorvani::sim;
using namespace zorvani::sim::proto;

// Real-time pacing: the four rates (and the slowest with two receivers) run
// side by side for 10 s; each must deliver receivers * rate / 200 new packets
// per second within 0.5 %.
class TestSimPacing : public QObject {
    Q_OBJECT
private slots:
    void packetsPerSecondAtEveryRate()
    {
        constexpr int kLinks = 5;
        const int rateIndex[kLinks] = {0, 1, 2, 3, 0};
        const int receivers[kLinks] = {1, 1, 1, 1, 2};
        const double rates[4] = {39062.5, 78125.0, 156250.0, 312500.0};
        const quint16 base = quint16(33000 + QCoreApplication::applicationPid() % 6000);
        struct Link {
            std::unique_ptr<Simulator> sim;
            std::unique_ptr<SimClient> client;
            QHostAddress address;
            quint16 port = 0;
            qint64 seq = -1;       // last sequence number seen, unwrapped
            QVector<QPair<qint64, qint64>> arrivals; // (ns since the window opened, sequence) in the window
            qint64 duplicates = 0;
        };
        Link links[kLinks];
        for (int r = 0; r < kLinks; ++r) {
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
                if (measuring)
                    l.arrivals.append({clock.nsecsElapsed(), l.seq});
            }
        };
        for (Link& l : links)
            connect(&l.client->socket(), &QUdpSocket::readyRead, this, [&] { onReady(l); });

        for (int r = 0; r < kLinks; ++r) {
            QByteArray start(50, '\0');
            for (int i = 0; i < 8; ++i)
                wr32(start, 4 * i, kRateParams[size_t(rateIndex[r])][size_t(i)]);
            wr16(start, 36, quint16(receivers[r]));
            wr16(start, 38, quint16(rateIndex[r]));
            wr16(start, 40, quint16(rateIndex[r]));
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
        // Arrivals lag their sending by a varying delay on a loaded machine. The
        // packet with the least lag in the first and in the last half second of the
        // window gives two nearly undelayed points; the rate is the slope between them.
        for (int r = 0; r < kLinks; ++r) {
            const double rate = receivers[r] * rates[rateIndex[r]] / 200.0; // packets per second
            const auto& a = links[r].arrivals;
            QVERIFY2(a.size() > rate * 9, qPrintable(QStringLiteral("link %1: %2 packets").arg(r).arg(a.size())));
            auto leastLag = [&](qint64 fromNs, qint64 toNs) {
                int best = -1;
                double bestLag = 0.0;
                for (int i = 0; i < a.size(); ++i) {
                    if (a[i].first < fromNs || a[i].first >= toNs)
                        continue;
                    const double lag = a[i].first * 1e-9 - a[i].second / rate;
                    if (best < 0 || lag < bestLag) {
                        best = i;
                        bestLag = lag;
                    }
                }
                return a[best];
            };
            const auto p = leastLag(0, 500000000);
            const auto q = leastLag(9500000000, 11000000000);
            const double measured = double(q.second - p.second) / ((q.first - p.first) * 1e-9);
            const double error = measured / rate - 1.0;
            qInfo("rate %.1f Hz x %d: %.2f packets/s over %.3f s, expected %.2f (%.3f %%), re-sent %llu",
                  rates[rateIndex[r]], receivers[r], measured, (q.first - p.first) * 1e-9, rate, 100.0 * error,
                  links[r].sim->counters().iqResent);
            QVERIFY2(std::abs(error) < 0.005, qPrintable(QStringLiteral("link %1 off by %2 %").arg(r).arg(100 * error)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimPacing)
#include "tst_simpacing.moc"
