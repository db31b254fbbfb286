#include "SimClient.h"

#include <QtTest>

using namespace simtest;

// Real-time pacing: the lowest rate with one and with two receivers and the
// highest rate run side by side for 10 s; each must deliver receivers * rate / 200
// new packets per second within 0.5 %.
class TestSimPacing : public QObject {
    Q_OBJECT
private slots:
    void packetsPerSecond()
    {
        constexpr int kLinks = 3;
        const int rateIndex[kLinks] = {0, 3, 0}, receivers[kLinks] = {1, 1, 2};
        struct Link {
            std::unique_ptr<Simulator> sim;
            SimClient client;
            qint64 seq = -1;                         // last sequence number seen (no wrap within the run)
            QVector<QPair<qint64, qint64>> arrivals; // (ns since the start, sequence)
        };
        Link links[kLinks];
        QElapsedTimer clock;
        clock.start();
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
            connect(&s, &QUdpSocket::readyRead, this, [&l, &s, &clock] {
                while (s.hasPendingDatagrams()) {
                    const QNetworkDatagram d = s.receiveDatagram();
                    const QByteArray p = d.data();
                    if (p.size() != kIqPacketBytes || rd16(p, 2) != kIqMark)
                        continue;
                    s.writeDatagram(ack(p), d.senderAddress(), quint16(d.senderPort()));
                    // Sequence numbers count the packets the emulator made, even if this
                    // loaded machine drops a few on their way; re-sends are skipped.
                    if (rd16(p, 6) <= l.seq)
                        continue;
                    l.seq = rd16(p, 6);
                    l.arrivals.append({clock.nsecsElapsed(), l.seq});
                }
            });
            l.client.send(startBlock(rateIndex[r], receivers[r]), c.address, c.port);
        }
        // Half a second to settle, then ten to count (the slope below needs no exact window).
        QTest::qWait(10500);
        // Arrivals lag their sending by a varying delay on a loaded machine. The
        // packet with the least lag in the first and in the last half second of the
        // window gives two nearly undelayed points; the rate is the slope between them.
        for (int r = 0; r < kLinks; ++r) {
            const double rate = receivers[r] * 39062.5 * (1 << rateIndex[r]) / 200.0; // packets per second
            const auto& a = links[r].arrivals;
            QVERIFY2(a.size() > rate * 9.5, qPrintable(QStringLiteral("link %1: %2 packets").arg(r).arg(a.size())));
            const auto before = [](qint64 ns) { return [ns](const QPair<qint64, qint64>& x) { return x.first < ns; }; };
            const auto byLag = [rate](const QPair<qint64, qint64>& x, const QPair<qint64, qint64>& y) {
                return x.first * 1e-9 - x.second / rate < y.first * 1e-9 - y.second / rate;
            };
            const auto from = std::partition_point(a.begin(), a.end(), before(500000000));
            const auto p = *std::min_element(from, std::partition_point(from, a.end(), before(1000000000)), byLag);
            const auto q = *std::min_element(std::partition_point(from, a.end(), before(10000000000)), a.end(), byLag);
            const double error = double(q.second - p.second) / ((q.first - p.first) * 1e-9) / rate - 1.0;
            const quint64 resent = links[r].sim->counters().iqResent;
            QVERIFY2(std::abs(error) < 0.005,
                     qPrintable(QStringLiteral("link %1 off by %2 %, re-sent %3").arg(r).arg(100 * error).arg(resent)));
        }
    }
};

QTEST_GUILESS_MAIN(TestSimPacing)
#include "tst_simpacing.moc"
