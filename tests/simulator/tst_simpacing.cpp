#include "SimClient.h"

#include <QtTest>

using namespace simtest;

// Real-time pacing: the four rates (and the slowest with two receivers) run
// side by side for 10 s; each must deliver receivers * rate / 200 new packets
// per second within 0.5 %.
class TestSimPacing : public QObject {
    Q_OBJECT
private slots:
    void packetsPerSecondAtEveryRate()
    {
        constexpr int kLinks = 5;
        const int rateIndex[kLinks] = {0, 1, 2, 3, 0}, receivers[kLinks] = {1, 1, 1, 1, 2};
        struct Link {
            std::unique_ptr<Simulator> sim;
            SimClient client;
            qint64 seq = -1;                         // last sequence number seen, unwrapped
            QVector<QPair<qint64, qint64>> arrivals; // (ns since the window opened, sequence)
        };
        Link links[kLinks];
        QElapsedTimer clock;
        bool measuring = false;
        for (int r = 0; r < kLinks; ++r) {
            Link& l = links[r];
            Config c;
            c.port = testsupport::processPort(42100, r);
            c.scene = Scene(); // silence: pacing is what counts here
            c.logCommands = false;
            l.sim = std::make_unique<Simulator>(c);
            QVERIFY2(l.sim->start() && l.client.isBound(), "emulator or client did not bind");
            QUdpSocket& s = l.client.socket();
            s.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 22);
            connect(&s, &QUdpSocket::readyRead, this, [&l, &s, &clock, &measuring] {
                while (s.hasPendingDatagrams()) {
                    const QNetworkDatagram d = s.receiveDatagram();
                    const QByteArray p = d.data();
                    if (p.size() != kIqPacketBytes || rd16(p, 2) != kIqMark)
                        continue;
                    s.writeDatagram(ack(p), d.senderAddress(), quint16(d.senderPort()));
                    // Sequence numbers count the packets the emulator made, even if this
                    // loaded machine drops a few on their way; re-sends are skipped.
                    const int ahead = quint16(rd16(p, 6) - quint16(l.seq));
                    if (l.seq >= 0 && (ahead == 0 || ahead >= 0x8000))
                        continue;
                    l.seq = l.seq < 0 ? rd16(p, 6) : l.seq + ahead;
                    if (measuring)
                        l.arrivals.append({clock.nsecsElapsed(), l.seq});
                }
            });
            l.client.send(startBlock(rateIndex[r], receivers[r]), c.address, c.port);
        }
        // Settle for half a second, then count for ten (the slope below needs no exact window).
        QTest::qWait(500);
        measuring = true;
        clock.start();
        QTest::qWait(10000);
        measuring = false;
        // Arrivals lag their sending by a varying delay on a loaded machine. The
        // packet with the least lag in the first and in the last half second of the
        // window gives two nearly undelayed points; the rate is the slope between them.
        for (int r = 0; r < kLinks; ++r) {
            const double rate = receivers[r] * 39062.5 * (1 << rateIndex[r]) / 200.0; // packets per second
            const auto& a = links[r].arrivals;
            QVERIFY2(a.size() > rate * 9, qPrintable(QStringLiteral("link %1: %2 packets").arg(r).arg(a.size())));
            auto leastLag = [&](qint64 fromNs, qint64 toNs) {
                int best = -1;
                for (int i = 0; i < a.size(); ++i)
                    if (a[i].first >= fromNs && a[i].first < toNs &&
                        (best < 0 || a[i].first * 1e-9 - a[i].second / rate < a[best].first * 1e-9 - a[best].second / rate))
                        best = i;
                return a[best];
            };
            const auto p = leastLag(0, 500000000);
            const auto q = leastLag(9500000000, 11000000000);
            const double error = double(q.second - p.second) / ((q.first - p.first) * 1e-9) / rate - 1.0;
            QVERIFY2(std::abs(error) < 0.005, qPrintable(QStringLiteral("link %1 off by %2 %, re-sent %3")
                                                             .arg(r).arg(100 * error).arg(links[r].sim->counters().iqResent)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimPacing)
#include "tst_simpacing.moc"
