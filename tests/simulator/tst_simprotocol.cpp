#include "SimClient.h"
#include "Simulator.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"

#include <cstring>
#include <memory>

using namespace zorvani::sim;
using namespace zorvani::sim::proto;

namespace {

// A port of its own, so that parallel test programs do not meet.
quint16 testPort()
{
    return quint16(41000 + QCoreApplication::applicationPid() % 8000);
}

const QHostAddress kSimAddress(QStringLiteral("127.0.0.2"));

QByteArray app(quint16 code, const QByteArray& payload = QByteArray(), quint32 param = 0)
{
    return packet(kMagicApp, code, param, 1, payload);
}

QByteArray boot(quint16 code, const QByteArray& payload = QByteArray(), quint32 param = 0)
{
    return packet(kMagicBoot, code, param, code == BootReadSerial ? 1 : 0, payload);
}

QByteArray u32(quint32 v)
{
    QByteArray d(4, '\0');
    wr32(d, 0, v);
    return d;
}

QByteArray startBlock(int rate, int receivers)
{
    QByteArray d(50, '\0');
    for (int i = 0; i < 8; ++i)
        wr32(d, 4 * i, kRateParams[size_t(rate)][size_t(i)]);
    wr16(d, 36, quint16(receivers));
    wr16(d, 38, quint16(rate));
    wr16(d, 40, quint16(rate));
    return app(CmdStart, d);
}

// A calibration block as the plug-in builds it: CRC complement, 8 doubles, factor.
QByteArray calibration(double factor, double first)
{
    QByteArray d(kCalibrationBytes, '\0');
    std::memcpy(d.data() + 4, &first, 8);
    std::memcpy(d.data() + 68, &factor, 8);
    wr32(d, 0, ~crc32(d.constData() + 4, 72));
    return d;
}

quint32 status(const QByteArray& reply)
{
    return reply.size() >= 14 ? rd32(reply, 10) : 0xDEAD;
}

} // namespace

class TestSimProtocol : public QObject {
    Q_OBJECT

    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<SimClient> m_client;
    quint16 m_port = 0;

    // Re-sends only where a test asks for them: a loaded machine must not cause any.
    static Config quietConfig()
    {
        Config c;
        c.resendAfterMs = 2000;
        return c;
    }
    bool startSim(Config c = quietConfig())
    {
        m_port = testPort();
        c.port = m_port;
        c.paced = false;
        c.resetSilenceMs = 300;
        c.bootSwitchMs = 50;
        m_sim = std::make_unique<Simulator>(c);
        return m_sim->start();
    }
    bool restartSim(const Config& c)
    {
        m_sim.reset();
        return startSim(c);
    }
    // The plug-in's short answer to an IQ packet.
    void acknowledge(const QByteArray& p)
    {
        QByteArray answer = p.left(kIqAckBytes);
        wr16(answer, 4, 0);
        m_client->send(answer, kSimAddress, m_port);
    }
    QByteArray ask(const QByteArray& d, int timeoutMs = 1000)
    {
        m_client->send(d, m_sim->config().address, m_port);
        const quint16 code = rd16(d, 2);
        return m_client->receive(timeoutMs, code == kDiscoveryRequest ? kDiscoveryReply : code);
    }

private slots:
    void init()
    {
        m_client = std::make_unique<SimClient>();
        QVERIFY(m_client->isBound());
        QVERIFY2(startSim(), "emulator did not bind");
    }
    void cleanup()
    {
        m_sim.reset();
        m_client.reset();
    }

    void refusesRealNetworkAddresses()
    {
        if (qEnvironmentVariable("ZORVANI_NETNS") == QLatin1String("1"))
            QSKIP("inside a private namespace every address is allowed");
        Config c = quietConfig();
        c.address = QHostAddress(QStringLiteral("192.168.1.50"));
        c.port = quint16(m_port + 2);
        Simulator sim(c);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refusing.*192\\.168\\.1\\.50")));
        QVERIFY(!sim.start());
        QVERIFY(!sim.isRunning());
    }

    void discoveryReply()
    {
        Config c = quietConfig();
        c.serialDecimal = 123;
        c.serialHi = 0x0A;
        c.serialLo = 0x1B;
        QVERIFY(restartSim(c));
        QCOMPARE(m_sim->serialText(), QStringLiteral("OXD010a1b00123"));
        const QByteArray req = discoveryRequest();
        QCOMPARE(quint8(req[22]), quint8(0xEC)); // checksum 0xE6EC, little-endian
        QCOMPARE(quint8(req[23]), quint8(0xE6));
        const QByteArray r = ask(req);
        QCOMPARE(r.size(), kDiscoveryReplyBytes);
        QCOMPARE(rd16(r, 0), quint16(0xFF12));
        QCOMPARE(rd16(r, 2), quint16(0x1A01));
        QCOMPARE(rd32(r, 4), 123u);
        QCOMPARE(quint8(r[8]), quint8(0x0A));
        QCOMPARE(quint8(r[9]), quint8(0x1B));
        QCOMPARE(r.mid(10, 4), QByteArray::fromHex("7f000002"));
        QCOMPARE(rd16(r, 18), m_port);
        QVERIFY(rd16(r, 20) != 0); // application
        QCOMPARE(m_sim->counters().discoveryReplies, 1u);
    }

    void discoveryRefusesBadRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QByteArray badSum = discoveryRequest();
        badSum[22] = char(badSum[22] ^ 1);
        QByteArray shortOne = discoveryRequest().left(22);
        QByteArray nonZero = discoveryRequest();
        nonZero[6] = 1; // checksum no longer matches
        QTest::newRow("checksum") << badSum;
        QTest::newRow("short") << shortOne;
        QTest::newRow("payload changed") << nonZero;
    }
    void discoveryRefusesBadRequests()
    {
        QFETCH(QByteArray, request);
        QVERIFY(ask(request, 200).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->counters().malformed, 1u, 1000);
        QCOMPARE(m_sim->counters().discoveryReplies, 0u);
    }

    void informationRecord()
    {
        const QByteArray r = ask(app(CmdInformation));
        QCOMPARE(r.size(), 54);
        QCOMPARE(status(r), 1u);
        QCOMPARE(rd16(r, 4), quint16(36));
        QCOMPARE(rd16(r, 18 + 2), quint16(2));
        QCOMPARE(rd16(r, 18 + 4), quint16(11));
        QCOMPARE(rd16(r, 18 + 6), quint16(3));
        QCOMPARE(rd32(r, 18 + 20), m_sim->config().serialDecimal);
        QCOMPARE(rd32(r, 18 + 28), m_sim->config().statusBits);
        QCOMPARE(rd32(r, 18 + 32), m_sim->config().pcbRevision);
        m_sim->setFirmwareVersion(10, 7);
        const QByteArray r2 = ask(app(CmdInformation));
        QCOMPARE(rd16(r2, 18 + 4), quint16(10));
        QCOMPARE(rd16(r2, 18 + 6), quint16(7));
    }

    void settersKeepState_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("field");
        QTest::addColumn<quint64>("value");
        QTest::newRow("preamp on") << app(CmdPreamp, u32(1)) << "preamp" << quint64(1);
        QTest::newRow("ext ctrl") << app(CmdExtCtrl, u32(0x55)) << "extCtrl" << quint64(0x55);
        QTest::newRow("lpf") << app(CmdLpf, u32(1)) << "lpf" << quint64(1);
        QTest::newRow("pll") << app(CmdPll, u32(1)) << "pll" << quint64(1);
        QTest::newRow("front end") << app(CmdFrontEnd, u32(0x1234)) << "frontEnd" << quint64(0x1234);
        QByteArray f(8, '\0');
        wr64(f, 0, 141000000ull);
        QTest::newRow("freq rx1") << app(CmdFreq, f, 1) << "freq1" << quint64(141000000);
        QTest::newRow("freq rx0") << app(CmdFreq, f, 0) << "freq0" << quint64(141000000);
        QTest::newRow("network mode") << app(CmdNetworkMode, u32(2)) << "networkMode" << quint64(2);
    }
    void settersKeepState()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, field);
        QFETCH(quint64, value);
        const QByteArray r = ask(request);
        QCOMPARE(r.size(), 18);
        QCOMPARE(status(r), 1u);
        QCOMPARE(rd32(r, 6), rd32(request, 6)); // param echoed
        const State s = m_sim->state();
        const QMap<QString, quint64> fields{
            {"preamp", s.preamp}, {"extCtrl", s.extCtrl}, {"lpf", s.lpf}, {"pll", s.pll},
            {"frontEnd", s.frontEnd}, {"freq0", s.freq[0]}, {"freq1", s.freq[1]}, {"networkMode", s.networkMode}};
        QCOMPARE(fields.value(field), value);
        // The log keeps the exact bytes.
        const auto log = m_sim->commands(rd16(request, 2));
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0].bytes, request);
        QVERIFY(!log[0].malformed);
        if (field == QLatin1String("frontEnd")) {
            const QByteArray back = ask(app(CmdFrontEnd));
            QCOMPARE(back.size(), 22);
            QCOMPARE(rd16(back, 18), quint16(0x1234));
        }
    }

    void invalidValuesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("expectStatus"); // -1: no reply (malformed)
        QByteArray f(8, '\0');
        QTest::newRow("freq channel 2") << app(CmdFreq, f, 2) << -1;
        QTest::newRow("network mode 4") << app(CmdNetworkMode, u32(4)) << 0;
        QTest::newRow("preamp without payload") << app(CmdPreamp) << -1;
        QTest::newRow("unknown command") << app(77) << -1;
        QByteArray lying = app(CmdPreamp, u32(1));
        wr16(lying, 4, 40); // length beyond the datagram
        QTest::newRow("length too long") << lying << -1;
        QByteArray tail = app(CmdPreamp, u32(1)) + QByteArray(3, 'x');
        QTest::newRow("trailing bytes") << tail << -1;
        QTest::newRow("data flash page beyond the chip") << app(CmdWriteDataFlash, QByteArray(1056, 'a'), 9000) << 0;
    }
    void invalidValuesAreRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, expectStatus);
        const State before = m_sim->state();
        const QByteArray r = ask(request, expectStatus < 0 ? 200 : 1000);
        if (expectStatus < 0) {
            QVERIFY(r.isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(m_sim->counters().malformed, 1u, 1000);
        } else {
            QCOMPARE(status(r), quint32(expectStatus));
        }
        const State after = m_sim->state();
        QCOMPARE(after.networkMode, before.networkMode);
        QCOMPARE(after.preamp, before.preamp);
        QCOMPARE(after.freq[0], before.freq[0]);
        // Still alive.
        QCOMPARE(status(ask(app(CmdInformation))), 1u);
    }

    void junkNeverKillsIt()
    {
        QRandomGenerator rng(99);
        const int n = 300;
        for (int i = 0; i < n; ++i) {
            QByteArray d(int(rng.bounded(1, 1500)), '\0');
            for (char& c : d)
                c = char(rng.generate());
            if (i % 3 == 0)
                wr16(d, 0, kMagicApp); // plausible magic, random rest
            if (i % 5 == 0 && d.size() >= 4)
                wr16(d, 2, kIqMark);
            m_client->send(d, kSimAddress, m_port);
            // Alive all along (and the socket buffer never overflows).
            if (i % 25 == 24)
                QVERIFY2(status(ask(app(CmdInformation))) == 1, qPrintable(QString::number(i)));
        }
        QVERIFY2(m_sim->counters().malformed > n / 2, qPrintable(QString::number(m_sim->counters().malformed)));
    }

    void startIsValidated_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<quint32>("expectStatus");
        QTest::newRow("rate 0, one receiver") << startBlock(0, 1) << 1u;
        QTest::newRow("the receiver reports a fault") << startBlock(0, 1) << 2u;
        QTest::newRow("rate 3, two receivers") << startBlock(3, 2) << 1u;
        QByteArray wrongParams = startBlock(1, 1);
        wr32(wrongParams, 18, 9);
        QTest::newRow("wrong rate parameters") << wrongParams << 0u;
        QByteArray mismatch = startBlock(2, 1);
        wr16(mismatch, 58, 1);
        QTest::newRow("rate index repeated differently") << mismatch << 0u;
        QTest::newRow("three receivers") << startBlock(2, 3) << 0u;
        QByteArray rate4 = startBlock(3, 1);
        wr16(rate4, 56, 4);
        wr16(rate4, 58, 4);
        QTest::newRow("rate index 4") << rate4 << 0u;
    }
    void startIsValidated()
    {
        QFETCH(QByteArray, request);
        QFETCH(quint32, expectStatus);
        if (expectStatus == 2)
            m_sim->setStartStatus(2);
        const QByteArray r = ask(request);
        QCOMPARE(status(r), expectStatus);
        QCOMPARE(m_sim->state().streaming, expectStatus == 1);
        if (expectStatus == 1) {
            QCOMPARE(m_sim->state().rateIndex, int(rd16(request, 56)));
            QCOMPARE(m_sim->state().receivers, int(rd16(request, 54)));
            QVERIFY(!m_client->receive(1000, kIqMark).isEmpty());
        } else {
            QVERIFY(m_client->receive(200, kIqMark).isEmpty());
        }
    }

    void iqPacketsInSequenceForTwoReceivers()
    {
        QByteArray f(8, '\0');
        wr64(f, 0, 70000000ull);
        ask(app(CmdFreq, f, 1));
        QCOMPARE(status(ask(startBlock(1, 2))), 1u);
        for (int i = 0; i < 40; ++i) {
            const QByteArray p = m_client->receive(1000, kIqMark);
            QCOMPARE(p.size(), kIqPacketBytes);
            QCOMPARE(rd16(p, 4), quint16(1200));
            QCOMPARE(rd16(p, 6), quint16(i));
            QCOMPARE(int(p[9]), i % 2);
            acknowledge(p);
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->counters().iqAnswersShort, 40u, 2000);
        QCOMPARE(m_sim->counters().iqResent, 0u);
        QCOMPARE(status(ask(app(CmdStop, u32(0)))), 1u);
        QVERIFY(!m_sim->state().streaming);
    }

    // One carrier 10 bins of a packet above the tuned frequency at 39062.5 Hz:
    // its level in each packet, its phase running on across packets.
    void iqSamplesCarryTheScene()
    {
        Config c = quietConfig();
        const double offset = 10.0 * 39062.5 / 200.0;
        QString error;
        QVERIFY(Scene::parse(QStringLiteral("carrier %1 -6").arg(7000000.0 + offset, 0, 'f', 4), &c.scene, &error));
        c.initialFreq = 70000000;
        QVERIFY(restartSim(c));
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        const double step = 2.0 * M_PI * offset / 39062.5;
        double previous = 0.0;
        for (int k = 0; k < 3; ++k) {
            const QByteArray p = m_client->receive(1000, kIqMark);
            QCOMPARE(p.size(), kIqPacketBytes);
            double re = 0, im = 0, other = 0;
            for (int i = 0; i < 200; ++i) {
                const double x = rd24(p.constData() + 10 + 6 * i) / 8388607.0;
                const double y = rd24(p.constData() + 13 + 6 * i) / 8388607.0;
                const double ph = -2.0 * M_PI * 10.0 * i / 200.0, ph2 = -2.0 * M_PI * 11.0 * i / 200.0;
                re += x * std::cos(ph) - y * std::sin(ph);
                im += x * std::sin(ph) + y * std::cos(ph);
                other += x * std::cos(ph2) - y * std::sin(ph2);
                const double phase = std::atan2(y, x);
                if (k > 0 || i > 0) {
                    const double d = std::remainder(phase - previous - step, 2.0 * M_PI);
                    QVERIFY2(std::abs(d) < 1e-5, qPrintable(QStringLiteral("packet %1 sample %2: %3").arg(k).arg(i).arg(d)));
                }
                previous = phase;
            }
            const double level = 20.0 * std::log10(std::hypot(re, im) / 200.0);
            QVERIFY2(std::abs(level + 6.0) < 0.001, qPrintable(QString::number(level)));
            QVERIFY(std::abs(other) / 200.0 < 1e-5);
            acknowledge(p);
        }
    }

    void unansweredPacketsAreSentAgain()
    {
        Config c = quietConfig();
        c.resendAfterMs = 40;
        QVERIFY(restartSim(c));
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        const QByteArray first = m_client->receive(1000, kIqMark);
        QVERIFY(!first.isEmpty());
        // No answer: the same packet comes again (resendAfterMs 40, up to 2 times).
        const QByteArray again = m_client->receive(1000, kIqMark);
        QCOMPARE(again, first);
        const QByteArray third = m_client->receive(1000, kIqMark);
        QCOMPARE(third, first);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->counters().iqResent, 2u, 1000);
        // Then it gives up and goes on with the next sequence number.
        const QByteArray next = m_client->receive(1000, kIqMark);
        QCOMPARE(rd16(next, 6), quint16(1));
    }

    void answersFillTheCapture()
    {
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        QVector<qint32> sent;
        for (int k = 0; k < 5; ++k) {
            QByteArray p = m_client->receive(1000, kIqMark);
            QCOMPARE(rd16(p, 6), quint16(k));
            for (int i = 0; i < 400; ++i) {
                const qint32 v = (k * 400 + i) * 4099 % 16777216 - 8388608;
                wr24(p.data() + 10 + 3 * i, v);
                sent.append(v);
            }
            m_client->send(p, kSimAddress, m_port);
            if (k == 2)
                m_client->send(p, kSimAddress, m_port); // repeated answer is not captured twice
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->captureFrames(), 1000, 2000);
        QCOMPARE(m_sim->capture(), sent);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->counters().iqAnswersRepeated, 1u, 1000);
        QCOMPARE(m_sim->counters().iqAnswersFull, 5u);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture.wav"));
        QVERIFY(m_sim->writeCaptureWav(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray wav = f.readAll();
        QCOMPARE(wav.size(), 44 + 1000 * 6);
        QCOMPARE(wav.left(4), QByteArray("RIFF"));
        QCOMPARE(wav.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(rd16(wav, 20), quint16(1));
        QCOMPARE(rd16(wav, 22), quint16(2));
        QCOMPARE(rd32(wav, 24), 39063u);
        QCOMPARE(rd16(wav, 34), quint16(24));
        QCOMPARE(rd32(wav, 40), 6000u);
        for (int i = 0; i < 2000; i += 97)
            QCOMPARE(rd24(wav.constData() + 44 + 3 * i), sent[i]);
    }

    void iqFaults()
    {
        Faults f;
        f.iqDuplicate = 1.0;
        m_sim->setFaults(f);
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        const QByteArray a = m_client->receive(1000, kIqMark);
        const QByteArray b = m_client->receive(1000, kIqMark);
        QCOMPARE(b, a);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->counters().iqDuplicated >= 1u, 1000);

        // Stall: nothing while it lasts, resumed afterwards.
        m_sim->setIqStall(true);
        acknowledge(a);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->counters().iqAnswered, 1u, 1000);
        m_client->drain();
        QVERIFY(m_client->receive(300, kIqMark).isEmpty());
        m_sim->setIqStall(false);
        // The fast stream refills on the next answer or re-send scan.
        QVERIFY(!m_client->receive(1000, kIqMark).isEmpty());

        // Loss: every transmission lost, beginning with the one that follows this answer.
        const QByteArray c = m_client->receive(1000, kIqMark);
        QVERIFY(!c.isEmpty());
        f.iqDuplicate = 0.0;
        f.iqLoss = 1.0;
        m_sim->setFaults(f);
        acknowledge(c);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->counters().iqLost >= 1u, 1000);
        m_client->drain();
        QVERIFY(m_client->receive(200, kIqMark).isEmpty());
    }

    void reorderSwapsNeighbours()
    {
        Faults f;
        f.iqReorder = 1.0; // every free packet is held back and sent after the next one
        m_sim->setFaults(f);
        QCOMPARE(status(ask(startBlock(0, 2))), 1u); // two receivers: two packets per block
        const QByteArray a = m_client->receive(1000, kIqMark);
        const QByteArray b = m_client->receive(1000, kIqMark);
        QCOMPARE(rd16(a, 6), quint16(1));
        QCOMPARE(rd16(b, 6), quint16(0));
        QVERIFY(m_sim->counters().iqReordered >= 1u);
    }

    void lostAndLateReplies()
    {
        m_sim->dropReplies(CmdInformation, 2);
        QVERIFY(ask(app(CmdInformation), 200).isEmpty());
        QVERIFY(ask(app(CmdInformation), 200).isEmpty());
        QCOMPARE(status(ask(app(CmdInformation))), 1u);
        QCOMPARE(m_sim->counters().repliesDropped, 2u);

        // A late reply is held back, then comes.
        m_sim->delayReplies(CmdLpf, 300);
        QVERIFY(!m_sim->waitForCommand(CmdLpf, 50));
        m_client->send(app(CmdLpf, u32(1)), kSimAddress, m_port);
        m_client->send(app(CmdLpf, u32(0)), kSimAddress, m_port);
        QVERIFY(m_sim->waitForCommand(CmdLpf, 2000, 2));
        QVERIFY(m_client->receive(100, CmdLpf).isEmpty());
        QVERIFY(!m_client->receive(2000, CmdLpf).isEmpty());
        const auto log = m_sim->commands(CmdLpf);
        QCOMPARE(log.size(), 2);
        QVERIFY(log[0].timeUs <= log[1].timeUs);
        QCOMPARE(rd32(log[1].bytes, 18), 0u);
    }

    void junkToThePeer_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("source");
        QTest::newRow("short IQ") << int(Simulator::Junk::ShortIq) << 100 << "127.0.0.2";
        QTest::newRow("short reply") << int(Simulator::Junk::ShortReply) << 6 << "127.0.0.2";
        QTest::newRow("short fragment") << int(Simulator::Junk::ShortFragment) << 40 << "127.0.0.2";
        QTest::newRow("foreign") << int(Simulator::Junk::Foreign) << 54 << "127.0.0.3";
        QTest::newRow("random") << int(Simulator::Junk::Random) << -1 << "127.0.0.2";
    }
    void junkToThePeer()
    {
        QFETCH(int, kind);
        QFETCH(int, size);
        QFETCH(QString, source);
        QVERIFY2(!m_sim->sendJunk(Simulator::Junk(kind)), "no peer yet: nothing to send to");
        ask(app(CmdInformation));
        QVERIFY(m_sim->sendJunk(Simulator::Junk(kind)));
        QHostAddress from;
        const QByteArray d = m_client->receive(1000, 0, &from);
        QVERIFY(!d.isEmpty());
        if (size > 0)
            QCOMPARE(d.size(), size);
        QCOMPARE(from, QHostAddress(source));
    }

    void calibrationBlocks_data()
    {
        QTest::addColumn<quint16>("write");
        QTest::addColumn<quint16>("read");
        QTest::addColumn<bool>("restart");
        QTest::newRow("root") << quint16(CmdWriteRootCal) << quint16(CmdReadRootCal) << false;
        QTest::newRow("user") << quint16(CmdWriteUserCal) << quint16(CmdReadUserCal) << false;
        QTest::newRow("user, kept across a restart") << quint16(CmdWriteUserCal) << quint16(CmdReadUserCal) << true;
    }
    void calibrationBlocks()
    {
        QFETCH(quint16, write);
        QFETCH(quint16, read);
        QFETCH(bool, restart);
        QTemporaryDir dir;
        Config c = quietConfig();
        c.calibrationFile = dir.filePath(QStringLiteral("cal.ini"));
        QVERIFY(restartSim(c));
        // Erased memory reads as 0xFF.
        QByteArray r = ask(app(read));
        QCOMPARE(status(r), 1u);
        QCOMPARE(r.mid(18), QByteArray(76, char(0xFF)));
        // A bad CRC is refused and changes nothing.
        QByteArray bad = calibration(0.975, 1.5);
        bad[30] = char(bad[30] ^ 0x40);
        QCOMPARE(status(ask(app(write, bad))), 0u);
        QCOMPARE(ask(app(read)).mid(18), QByteArray(76, char(0xFF)));
        // A good block is kept as sent.
        const QByteArray good = calibration(1.0125, 2.5);
        QCOMPARE(status(ask(app(write, good))), 1u);
        if (restart)
            QVERIFY(restartSim(c));
        QCOMPARE(ask(app(read)).mid(18), good);
        // The other block is untouched.
        const quint16 otherRead = read == CmdReadRootCal ? CmdReadUserCal : CmdReadRootCal;
        QCOMPARE(ask(app(otherRead)).mid(18), QByteArray(76, char(0xFF)));
    }

    void fpgaChunks()
    {
        QByteArray image(2500, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 13);
        for (int off = 0; off < image.size(); off += 1024) {
            const QByteArray chunk = image.mid(off, 1024);
            const QByteArray req = packet(kMagicApp, CmdFpga, quint32(off), 1, chunk, crc32(chunk));
            const QByteArray r = ask(req);
            QCOMPARE(status(r), 1u);
            QCOMPARE(r.mid(18), chunk); // echoed
        }
        QCOMPARE(m_sim->fpgaImage(), image);
        QCOMPARE(m_sim->fpgaDigest(), QCryptographicHash::hash(image, QCryptographicHash::Sha256));
        // A chunk with a wrong CRC is refused and not stored.
        const QByteArray chunk(100, 'z');
        const QByteArray r = ask(packet(kMagicApp, CmdFpga, 0, 1, chunk, crc32(chunk) ^ 1));
        QCOMPARE(status(r), 0u);
        QCOMPARE(m_sim->fpgaImage(), image);
        // Oversized chunk: malformed.
        QVERIFY(ask(packet(kMagicApp, CmdFpga, 0, 1, QByteArray(1025, 'a'), 0), 200).isEmpty());
    }

    void dataFlashPages()
    {
        const QByteArray page(1056, 'q');
        QCOMPARE(status(ask(app(CmdWriteDataFlash, page, 17))), 1u);
        QCOMPARE(m_sim->dataFlashPage(17), page);
        QCOMPARE(m_sim->dataFlashPage(18), QByteArray(1056, char(0xFF)));
        QVERIFY(ask(app(CmdWriteDataFlash, page.left(1000), 17), 200).isEmpty());
    }

    void bootloaderUpdate()
    {
        // In the application bootloader commands fail at once.
        QCOMPARE(status(ask(boot(BootReadSerial))), 1u);
        QCOMPARE(status(ask(app(CmdGoToBoot))), 1u);
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->state().bootloader && !m_sim->state().silent, 2000);
        // Discovery reports the flag; application commands get no answer.
        QCOMPARE(rd16(ask(discoveryRequest()), 20), quint16(0));
        QVERIFY(ask(app(CmdInformation), 200).isEmpty());
        const QByteArray sn = ask(boot(BootReadSerial));
        QCOMPARE(status(sn), 0u);
        QCOMPARE(rd32(sn, 18), m_sim->config().serialDecimal);
        QCOMPARE(status(ask(boot(BootErase))), 0u);

        // The image as the plug-in builds it: 1000 bytes, zeros, CRC complement at the end.
        QByteArray plain(kFlashBytes, '\0');
        for (int i = 0; i < 1000; ++i)
            plain[i] = char(i * 31 + 5);
        wr32(plain, kFlashBytes - 4, ~crc32(plain.constData(), kFlashBytes - 4));
        for (int off = 0; off < kFlashBytes; off += 1024) {
            QByteArray cipher(1024, '\0');
            rc6EncryptChunk(reinterpret_cast<const quint8*>(plain.constData()) + off, reinterpret_cast<quint8*>(cipher.data()));
            const QByteArray r = ask(boot(BootWriteFlash, cipher, quint32(off)));
            QVERIFY2(status(r) == 0, qPrintable(QString::number(off)));
        }
        QCOMPARE(m_sim->flashImage(), plain);
        // Data flash through the bootloader.
        QCOMPARE(status(ask(boot(BootWriteDataFlash, QByteArray(1056, 'd'), 5))), 0u);
        const QByteArray page = ask(boot(BootReadDataFlash, QByteArray(), 5));
        QCOMPARE(status(page), 0u);
        QCOMPARE(page.mid(18), QByteArray(1056, 'd'));

        m_sim->setFirmwareVersion(9, 9);
        QByteArray quit = boot(BootQuit) + QByteArray(1200, '\0');
        QCOMPARE(quit.size(), kBootQuitBytes);
        m_client->send(quit, kSimAddress, m_port);
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->state().bootloader && !m_sim->state().silent, 2000);
        const QByteArray info = ask(app(CmdInformation));
        QCOMPARE(rd16(info, 18 + 4), quint16(11));
        QCOMPARE(rd16(info, 18 + 6), quint16(3));
        QCOMPARE(m_sim->state().firmwareUpdates, 1);
    }

    void bootloaderKeepsACorruptImage()
    {
        Config c = quietConfig();
        c.startInBootloader = true;
        QVERIFY(restartSim(c));
        QCOMPARE(status(ask(boot(BootErase))), 0u);
        QByteArray cipher(1024, '\0');
        QByteArray plain(1024, 'x');
        rc6EncryptChunk(reinterpret_cast<const quint8*>(plain.constData()), reinterpret_cast<quint8*>(cipher.data()));
        QCOMPARE(status(ask(boot(BootWriteFlash, cipher, 0))), 0u);
        QCOMPARE(status(ask(boot(BootWriteFlash, cipher, 1000))), 1u); // unaligned offset
        // Flash cells only clear bits: a second write without erase gives the AND of both.
        QByteArray second(1024, 'y');
        rc6EncryptChunk(reinterpret_cast<const quint8*>(second.constData()), reinterpret_cast<quint8*>(cipher.data()));
        QCOMPARE(status(ask(boot(BootWriteFlash, cipher, 0))), 0u);
        QCOMPARE(m_sim->flashImage().left(1024), QByteArray(1024, char('x' & 'y')));
        QCOMPARE(m_sim->flashImage().mid(1024, 16), QByteArray(16, char(0xFF)));
        m_client->send(boot(BootQuit) + QByteArray(1200, '\0'), kSimAddress, m_port);
        // No CRC at the end of the image: it stays in the bootloader.
        QVERIFY(m_client->receive(300).isEmpty());
        QVERIFY(m_sim->state().bootloader);
        QCOMPARE(status(ask(boot(BootReadSerial))), 0u);
        QCOMPARE(m_sim->state().firmwareUpdates, 0);
    }

    void resetTakesTheAddress_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<quint32>("mode");
        QTest::addColumn<bool>("taken");
        QTest::newRow("static mode: comes back on the new address") << QByteArray::fromHex("7f000005") << 1u << true;
        QTest::newRow("DHCP mode ignores the static address") << QByteArray::fromHex("7f000006") << 0u << false;
        QTest::newRow("a real network address is never taken") << QByteArray::fromHex("c0a80132") << 1u << false;
    }
    void resetTakesTheAddress()
    {
        QFETCH(QByteArray, address);
        QFETCH(quint32, mode);
        QFETCH(bool, taken);
        const quint16 newPort = quint16(m_port + 1);
        QByteArray addr = address + QByteArray(4, '\0');
        wr32(addr, 4, newPort);
        QCOMPARE(status(ask(app(CmdStaticAddress, addr))), 1u);
        QCOMPARE(m_sim->state().staticPort, newPort);
        QCOMPARE(status(ask(app(CmdNetworkMode, u32(mode)))), 1u);
        if (mode == 1 && !taken)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("keeping.*127\\.0\\.0\\.2")));
        QCOMPARE(status(ask(app(CmdReset))), 1u);
        QVERIFY(m_sim->state().silent);
        QCOMPARE(m_sim->state().resets, 1);
        QVERIFY(ask(app(CmdInformation), 100).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!m_sim->state().silent, 2000);
        const QByteArray expected = taken ? address : QByteArray::fromHex("7f000002");
        const quint16 port = taken ? newPort : m_port;
        const QHostAddress to(QString("%1.%2.%3.%4").arg(quint8(expected[0])).arg(quint8(expected[1]))
                                  .arg(quint8(expected[2])).arg(quint8(expected[3])));
        m_client->send(app(CmdInformation), to, port);
        QCOMPARE(m_client->receive(1000, CmdInformation).size(), 54);
        // Discovery announces where it is now.
        m_client->send(discoveryRequest(), to, port);
        const QByteArray d = m_client->receive(1000, kDiscoveryReply);
        QCOMPARE(d.mid(10, 4), expected);
        QCOMPARE(rd16(d, 18), port);
    }

    void bandScopeFrames()
    {
        Config c = quietConfig();
        QString error;
        QVERIFY(Scene::parse(QStringLiteral("carrier %1 -10").arg(32500000.0 + 100.0 * 1e6 / 4096.0, 0, 'f', 6),
                             &c.scene, &error));
        QVERIFY(restartSim(c));
        QByteArray bs(12, '\0');
        bs[0] = 1;
        bs[1] = 3;
        wr64(bs, 4, 325000000ull);
        QCOMPARE(status(ask(app(CmdBandScope, bs))), 1u);
        QCOMPARE(m_sim->state().bandScope.enable, true);
        QCOMPARE(m_sim->state().bandScope.decimation, quint8(3));
        QCOMPARE(m_sim->state().bandScope.centre, quint64(325000000));
        QVector<double> re, im;
        for (int frame = 0; frame < 2; ++frame) {
            re.clear();
            im.clear();
            for (int k = 0; k < 16; ++k) {
                const QByteArray f = m_client->receive(2000, kBandScopeMark);
                QCOMPARE(f.size(), kBandScopeBytes);
                QCOMPARE(rd16(f, 6), quint16(k));
                for (int i = 0; i < 256; ++i) {
                    re.append(qint16(rd16(f, 10 + 4 * i)) / 32767.0);
                    im.append(qint16(rd16(f, 12 + 4 * i)) / 32767.0);
                }
            }
        }
        // The scene's carrier, 100 bins of a 4096-point frame above the centre at 1 MHz (decimation 3).
        double sr = 0, si = 0;
        for (int i = 0; i < 4096; ++i) {
            const double ph = -2.0 * M_PI * 100.0 * i / 4096.0;
            sr += re[i] * std::cos(ph) - im[i] * std::sin(ph);
            si += re[i] * std::sin(ph) + im[i] * std::cos(ph);
        }
        const double level = 20.0 * std::log10(std::hypot(sr, si) / 4096.0);
        QVERIFY2(std::abs(level + 10.0) < 0.01, qPrintable(QString::number(level)));
        bs[0] = 0;
        QCOMPARE(status(ask(app(CmdBandScope, bs))), 1u);
        m_client->drain();
        QVERIFY(m_client->receive(500, kBandScopeMark).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
