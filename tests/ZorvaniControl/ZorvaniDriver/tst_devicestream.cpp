// The IQ stream and band-scope path through real sockets on loopback.
#include "DriverFixture.h"
#include "IqPackets.h"
#include "common/MessageBox.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

namespace {
QList<QByteArray> healthy(const QByteArray& r)
{
    // IQ answers come back to the peer too; they are not requests.
    if (commandOf(r) == 0xFFFE)
        return {};
    if (commandOf(r) == 26)
        return {TestPeer::reply(r, 1, QByteArray(36, 2))};
    return {TestPeer::reply(r, 1)};
}

QByteArray fragment(int number)
{
    QByteArray f(1034, '\0');
    qToLittleEndian<quint16>(0xFF12, f.data());
    qToLittleEndian<quint16>(0xFFFC, f.data() + 2);
    qToLittleEndian<quint16>(quint16(number), f.data() + 6);
    for (int j = 0; j < 256; ++j) {
        qToLittleEndian<qint16>(qint16(1000 + number), f.data() + 10 + 4 * j);
        qToLittleEndian<qint16>(qint16(-j), f.data() + 12 + 4 * j);
    }
    return f;
}

QList<QByteArray> answers(const TestPeer& peer)
{
    return peer.requests(0xFFFE);
}
} // namespace

class TestDeviceStream : public QObject {
    Q_OBJECT
private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::No; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    void packetsAreAnsweredInOrder()
    {
        DriverFixture f(51301, false);
        std::atomic<int> blocks{0};
        f.driver->device()->stream().setBlockEntry([&](IqStream::Sample*, IqStream::Sample* audio, quint32) {
            ++blocks;
            for (int i = 0; i < 200; ++i)
                audio[i] = IqStream::Sample{0.5, -0.25};
            return true;
        });
        QVERIFY(f.driver->open(DriverFixture::receiver(f.port)));
        f.peer->setResponder(healthy);
        QVERIFY(f.driver->Start());
        for (quint16 s = 0; s < 50; ++s) {
            f.peer->send(iqtest::packet(s, 0));
            QTRY_COMPARE_WITH_TIMEOUT(answers(*f.peer).size(), int(s) + 1, 1000);
        }
        const QList<QByteArray> got = answers(*f.peer);
        for (int s = 0; s < 50; ++s) {
            QCOMPARE(got[s].size(), 1210);
            QCOMPARE(iqtest::sequenceOf(got[s]), quint16(s));
            QCOMPARE(iqtest::get24(got[s].constData() + 10), qint32(qint32(0.5 * 2147483647.0) >> 8));
        }
        QCOMPARE(blocks.load(), 50);
        // A re-sent packet is answered from the ring; mute shortens new answers.
        f.peer->send(iqtest::packet(48, 0));
        QTRY_COMPARE_WITH_TIMEOUT(answers(*f.peer).size(), 51, 1000);
        QCOMPARE(answers(*f.peer).last(), got[48]);
        f.driver->setMute(true);
        f.peer->send(iqtest::packet(50, 0));
        QTRY_COMPARE_WITH_TIMEOUT(answers(*f.peer).size(), 52, 1000);
        QCOMPARE(answers(*f.peer).last().size(), 10);
        QCOMPARE(blocks.load(), 51);
    }

    void gainFollowsPreampCoefficient()
    {
        DriverFixture f(51302, false);
        std::atomic<double> first{0.0};
        f.driver->device()->stream().setBlockEntry([&](IqStream::Sample* in, IqStream::Sample*, quint32) {
            first.store(in[0].re);
            return false;
        });
        QVERIFY(f.driver->open(DriverFixture::receiver(f.port)));
        f.driver->setPreampCoeff(-6.0);
        f.peer->send(iqtest::packet(0, 0, [](int, int) { return 0x400000; }));
        // The peer has not talked yet: send from the receiver's side first.
        f.peer->setResponder(healthy);
        QVERIFY(f.driver->information(nullptr));
        QTest::qWait(50);
        f.peer->send(iqtest::packet(0, 0, [](int, int) { return 0x400000; }));
        QTRY_VERIFY_WITH_TIMEOUT(first.load() != 0.0, 1000);
        QVERIFY(qAbs(first.load() - 0.5 * std::pow(10.0, -6.0 / 20.0)) < 1e-12);
    }

    void watchdogRaisesForceStopAfterStall()
    {
        DriverFixture f(51303);
        f.peer->setResponder(healthy);
        QSignalSpy stop(f.driver.get(), &ZorvaniDriver::forceStop);
        // An idle open link does not trip the watchdog as soon as it is armed.
        QTest::qWait(300);
        QVERIFY(f.driver->Start());
        for (quint16 s = 0; s < 20; ++s) {
            f.peer->send(iqtest::packet(s, 1));
            QTest::qWait(20);
        }
        // A flowing stream keeps it quiet; its end trips it once.
        QCOMPARE(stop.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(stop.count(), 1, 15000);
        QVERIFY(!f.driver->device()->isRunning() || f.driver->device()->wait(1000));
        QCOMPARE(stop.count(), 1);
    }

    void foreignIqAndRepliesAreIgnored()
    {
        DriverFixture f(51304, false);
        TestPeer foreign(51304, QHostAddress(QStringLiteral("127.0.0.3")));
        std::atomic<int> blocks{0};
        f.driver->device()->stream().setBlockEntry([&](IqStream::Sample*, IqStream::Sample*, quint32) {
            ++blocks;
            return false;
        });
        QVERIFY(f.driver->open(DriverFixture::receiver(f.port)));
        f.peer->setResponder(healthy);
        QVERIFY(f.driver->information(nullptr));
        for (quint16 s = 0; s < 5; ++s)
            foreign.sendTo(iqtest::packet(s, 0), f.peer->clientAddress(), f.peer->clientPort());
        QTest::qWait(150);
        QCOMPARE(blocks.load(), 0);
        f.peer->send(iqtest::packet(0, 0));
        QTRY_COMPARE_WITH_TIMEOUT(blocks.load(), 1, 1000);
    }

    void bandScopeFramesReachTheSink()
    {
        DriverFixture f(51305, false);
        QList<int> frames;
        QList<double> firstRe;
        std::atomic<int> delivered{0};
        std::atomic<bool> mirrored{false};
        QMutex lock;
        f.driver->setBandScopeSink(
            [&](const Ostrovix::complex<double>* s, int count) {
                QMutexLocker l(&lock);
                frames << count;
                firstRe << s[0].re;
                ++delivered;
            },
            [&] { return mirrored.load(); });
        QVERIFY(f.driver->open(DriverFixture::receiver(f.port)));
        f.peer->setResponder(healthy);
        QVERIFY(f.driver->information(nullptr));
        for (int k = 0; k < 16; ++k)
            f.peer->send(fragment(k));
        QTRY_COMPARE_WITH_TIMEOUT(delivered.load(), 1, 1000);
        for (int k = 0; k < 16; ++k)
            if (k != 3)
                f.peer->send(fragment(k));
        QTRY_COMPARE_WITH_TIMEOUT(delivered.load(), 2, 1000);
        // The second Nyquist zone: re and im arrive swapped (im of sample 0 is 0).
        mirrored.store(true);
        for (int k = 0; k < 16; ++k)
            f.peer->send(fragment(k));
        QTRY_COMPARE_WITH_TIMEOUT(delivered.load(), 3, 1000);
        QMutexLocker l(&lock);
        QCOMPARE(frames, (QList<int>{4096, 768, 4096}));
        QCOMPARE(firstRe[0], 1000.0 / 32767.0 * 0.1);
        QCOMPARE(firstRe[2], 0.0);
    }

    void randomDatagramsHarmNothing()
    {
        DriverFixture f(51306, false);
        TestPeer foreign(51306, QHostAddress(QStringLiteral("127.0.0.3")));
        std::atomic<int> blocks{0};
        f.driver->device()->stream().setBlockEntry([&](IqStream::Sample* in, IqStream::Sample* audio, quint32 rx) {
            ++blocks;
            if (rx > 1)
                qFatal("engine reached with receiver %u", rx);
            std::copy(in, in + 200, audio);
            return true;
        });
        QVERIFY(f.driver->open(DriverFixture::receiver(f.port)));
        f.peer->setResponder(healthy);
        QVERIFY(f.driver->information(nullptr));
        f.peer->setResponder({});

        QRandomGenerator rng(20240611);
        const QList<quint16> codes = {0xFFFE, 0xFFFC, 1, 2, 8, 14, 26, 41, 0x1780};
        for (int i = 0; i < 4000; ++i) {
            QByteArray d;
            switch (rng.bounded(4)) {
            case 0: // arbitrary bytes
                d.resize(int(rng.bounded(1300)));
                for (char& c : d)
                    c = char(rng.bounded(256));
                break;
            case 1: // a plausible header with a random size
                d = header(0xFF12, codes[int(rng.bounded(codes.size()))], quint16(rng.bounded(2000)), rng.generate(),
                           rng.generate());
                d.resize(int(rng.bounded(1400)));
                break;
            case 2: // a truncated or overlong IQ packet with a random channel
                d = iqtest::packet(quint16(rng.bounded(65536)), quint8(rng.bounded(4)));
                d.resize(int(1200 + rng.bounded(30)));
                break;
            default: // a truncated band-scope fragment
                d = fragment(int(rng.bounded(20)));
                d.resize(int(rng.bounded(1040)));
                break;
            }
            if (rng.bounded(2))
                f.peer->send(d);
            else
                foreign.sendTo(d, f.peer->clientAddress(), f.peer->clientPort());
            if (i % 200 == 0)
                QTest::qWait(5);
        }
        // Valid traffic still flows once the backlog is through (a stale reply
        // with a matching code would otherwise answer the next request).
        QTest::qWait(100);
        QTRY_COMPARE_WITH_TIMEOUT(f.driver->device()->replies().count(), 0, 5000);
        QTest::qWait(100);
        f.peer->clearLog();
        f.peer->setResponder(healthy);
        SDR2_HDR info{};
        QVERIFY(f.driver->information(&info));
        QCOMPARE(info.sdrType, quint16(0x0202));
        QVERIFY(f.driver->Start());
        const int before = blocks.load();
        f.peer->send(iqtest::packet(0, 1));
        QTRY_VERIFY_WITH_TIMEOUT(blocks.load() > before, 1000);
        QTRY_VERIFY_WITH_TIMEOUT(!answers(*f.peer).isEmpty(), 1000);
        QVERIFY(f.driver->Stop());
    }
};

QTEST_MAIN(TestDeviceStream)
#include "tst_devicestream.moc"
