// The emulator on the wire, from hand-built datagrams: its refusals, the IQ
// stream and its faults, the memories, the bootloader and a reset.
#include "SimClient.h"

#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"

#include <QtTest>

#include <cstring>

using namespace simtest;

namespace {

const QByteArray kErased(kCalibrationBytes, char(0xFF));

// A calibration block as the plug-in builds it: CRC complement, 8 doubles, factor.
QByteArray calibration(double factor, double first)
{
    QByteArray d(kCalibrationBytes, '\0');
    std::memcpy(d.data() + 4, &first, 8);
    std::memcpy(d.data() + 68, &factor, 8);
    wr32(d, 0, ~crc32(d.constData() + 4, 72));
    return d;
}

QByteArray cipher(const QByteArray& plain)
{
    QByteArray c(kFlashChunkBytes, '\0');
    rc6EncryptChunk(reinterpret_cast<const quint8*>(plain.constData()), reinterpret_cast<quint8*>(c.data()));
    return c;
}

} // namespace

class TestSimProtocol : public QObject {
    Q_OBJECT

    const quint16 m_port = testsupport::processPort(41000, 0);
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<SimClient> m_client;

    Simulator& sim() { return *m_sim; }
    // Unpaced, quick to reset, re-sending only where a test asks (a loaded machine must not cause re-sends).
    Config quiet() const
    {
        Config c;
        c.port = m_port;
        c.paced = false;
        c.resendAfterMs = 2000;
        c.resetSilenceMs = 300;
        c.bootSwitchMs = 50;
        return c;
    }
    bool start(const Config& c)
    {
        m_sim.reset();
        m_sim = std::make_unique<Simulator>(c);
        m_client = std::make_unique<SimClient>();
        return m_client->isBound() && m_sim->start();
    }
    void send(const QByteArray& d) { m_client->send(d, sim().config().address, sim().config().port); }
    QByteArray ask(const QByteArray& d, int timeoutMs = 1000)
    {
        send(d);
        return m_client->receive(timeoutMs, rd16(d, 2) == kDiscoveryRequest ? kDiscoveryReply : rd16(d, 2));
    }
    QByteArray nextIq(int timeoutMs = 1000) { return m_client->receive(timeoutMs, kIqMark); }

private slots:
    void init() { QVERIFY2(start(quiet()), "emulator did not bind"); }
    void cleanup() { m_sim.reset(); }

    void refusesRealNetworkAddresses()
    {
        if (qEnvironmentVariable("ZORVANI_NETNS") == QLatin1String("1"))
            QSKIP("inside a private namespace every address is allowed");
        Config c = quiet();
        c.address = QHostAddress(QStringLiteral("192.168.1.50"));
        c.port = quint16(m_port + 2);
        Simulator other(c);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refusing.*192\\.168\\.1\\.50")));
        QVERIFY(!other.start() && !other.isRunning());
    }

    // Refused requests change nothing and leave the emulator answering (valid
    // starts at every rate: the system tests).
    void requests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<bool>("answered"); // with status 0; else ignored as malformed
        QByteArray badSum = discoveryRequest(), lying = app(CmdPreamp, u32(1));
        badSum[22] = char(badSum[22] ^ 1);
        wr16(lying, 4, 40); // length beyond the datagram
        QByteArray wrongParams = startBlock(1, 1), mismatch = startBlock(2, 1), rate4 = startBlock(3, 1);
        wr32(wrongParams, 18, 9);
        wr16(mismatch, 58, 1);
        wr16(rate4, 56, 4);
        wr16(rate4, 58, 4);
        QTest::newRow("discovery checksum") << badSum << false;
        QTest::newRow("short discovery") << discoveryRequest().left(22) << false;
        QTest::newRow("freq channel 2") << app(CmdFreq, QByteArray(8, '\0'), 2) << false;
        QTest::newRow("network mode 4") << app(CmdNetworkMode, u32(4)) << true;
        QTest::newRow("preamp without payload") << app(CmdPreamp) << false;
        QTest::newRow("unknown command") << app(77) << false;
        QTest::newRow("length too long") << lying << false;
        QTest::newRow("trailing bytes") << app(CmdPreamp, u32(1)) + "xyz" << false;
        QTest::newRow("oversized FPGA chunk") << app(CmdFpga, QByteArray(1025, 'a')) << false;
        QTest::newRow("start: wrong rate parameters") << wrongParams << true;
        QTest::newRow("start: rate index repeated differently") << mismatch << true;
        QTest::newRow("start: three receivers") << startBlock(2, 3) << true;
        QTest::newRow("start: rate index 4") << rate4 << true;
    }
    void requests()
    {
        QFETCH(QByteArray, request);
        QFETCH(bool, answered);
        const State before = sim().state();
        const QByteArray r = ask(request, answered ? 1000 : 200);
        QVERIFY(answered ? status(r) == 0u : r.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(sim().counters().malformed, quint64(answered ? 0 : 1), 1000);
        const State after = sim().state();
        QVERIFY(!after.streaming && nextIq(200).isEmpty());
        QVERIFY(after.networkMode == before.networkMode && after.preamp == before.preamp);
        QCOMPARE(after.freq[0], before.freq[0]);
        QVERIFY(sim().counters().discoveryReplies == 0 && sim().fpgaImage().isEmpty());
        QCOMPARE(status(ask(app(CmdInformation))), 1u); // still alive
    }

    // The faults the link tests ask for do happen (re-sends and a stall are
    // the link's and the minimal host's own tests): both copies of a duplicated
    // packet answered with audio are captured once; lost transmissions never
    // come; reordering swaps neighbours.
    void iqFaults()
    {
        Faults f;
        f.iqDuplicate = 1.0;
        sim().setFaults(f);
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        const QByteArray a = nextIq();
        QVERIFY(!a.isEmpty() && nextIq() == a);
        QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqDuplicated >= 1u, 1000);
        QByteArray answer = a;
        QVector<qint32> audio;
        for (int i = 0; i < 400; ++i) {
            audio.append(i * 4099 % 16777216 - 8388608);
            wr24(answer.data() + 10 + 3 * i, audio.last());
        }
        send(answer);
        send(answer);
        QTRY_COMPARE_WITH_TIMEOUT(sim().counters().iqAnswersRepeated, 1u, 1000);
        QVERIFY(sim().counters().iqAnswered == 1u && sim().counters().iqAnswersFull == 1u && sim().capture() == audio);
        const QByteArray b = nextIq(); // loss: every transmission from the one after this answer on
        QVERIFY(!b.isEmpty());
        f.iqDuplicate = 0.0;
        f.iqLoss = 1.0;
        sim().setFaults(f);
        send(ack(b));
        QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqLost >= 1u, 1000);
        m_client->drain();
        QVERIFY(nextIq(200).isEmpty());

        QVERIFY(start(quiet()));
        f.iqLoss = 0.0;
        f.iqReorder = 1.0; // every free packet is held back and sent after the next one
        sim().setFaults(f);
        QCOMPARE(status(ask(startBlock(0, 2))), 1u); // two packets per block
        QVERIFY(rd16(nextIq(), 6) == 1 && rd16(nextIq(), 6) == 0 && sim().counters().iqReordered >= 1u);
    }

    // Late replies are held back: the information asked after them overtakes them.
    void lateReplies()
    {
        sim().delayReplies(CmdLpf, 1000);
        send(app(CmdLpf, u32(1)));
        send(app(CmdLpf, u32(0)));
        send(app(CmdInformation));
        for (quint16 code : {CmdInformation, CmdLpf, CmdLpf})
            QCOMPARE(codeOf(m_client->receive(3000)), code);
        const auto log = sim().commands(CmdLpf);
        QVERIFY(log.size() == 2 && log[0].timeUs <= log[1].timeUs && rd32(log[1].bytes, 18) == 0u);
    }

    // Bad datagrams for the plug-in's robustness tests, sent to the last peer.
    void junkToThePeer()
    {
        QVERIFY2(!sim().sendJunk(Simulator::Junk::Random), "no peer yet: nothing to send to");
        ask(app(CmdInformation));
        const struct { Simulator::Junk kind; int size; const char* from; } rows[] = {
            {Simulator::Junk::ShortIq, 100, "127.0.0.2"}, {Simulator::Junk::ShortReply, 6, "127.0.0.2"},
            {Simulator::Junk::ShortFragment, 40, "127.0.0.2"}, {Simulator::Junk::Foreign, 54, "127.0.0.3"},
            {Simulator::Junk::Random, -1, "127.0.0.2"}};
        for (const auto& row : rows) {
            QVERIFY(sim().sendJunk(row.kind));
            QHostAddress from;
            const QByteArray d = m_client->receive(1000, 0, &from);
            QVERIFY2(!d.isEmpty() && (row.size < 0 || d.size() == row.size), row.from);
            QCOMPARE(from, QHostAddress(QLatin1String(row.from)));
        }
    }

    // Root and user blocks apart, a bad CRC refused.
    void calibrationBlocks()
    {
        for (auto [write, read, other] : {std::tuple{CmdWriteRootCal, CmdReadRootCal, CmdReadUserCal},
                                          {CmdWriteUserCal, CmdReadUserCal, CmdReadRootCal}}) {
            QVERIFY(start(quiet()));
            const QByteArray r = ask(app(read));
            QVERIFY(status(r) == 1u && r.mid(18) == kErased);
            QByteArray bad = calibration(0.975, 1.5);
            bad[30] = char(bad[30] ^ 0x40);
            QCOMPARE(status(ask(app(write, bad))), 0u);
            QCOMPARE(ask(app(read)).mid(18), kErased);
            const QByteArray good = calibration(1.0125, 2.5);
            QCOMPARE(status(ask(app(write, good))), 1u);
            QVERIFY(ask(app(read)).mid(18) == good && ask(app(other)).mid(18) == kErased);
        }
    }

    // What the plug-in's maintenance does not exercise: a refused FPGA chunk,
    // the serial only in the bootloader, the flash's write semantics.
    void memoriesAndBootloader()
    {
        const QByteArray chunk(100, 'z');
        const quint32 crc = crc32(chunk);
        QVERIFY(status(ask(packet(kMagicApp, CmdFpga, 0, 1, chunk, crc ^ 1))) == 0u && sim().fpgaImage().isEmpty());
        QVERIFY(status(ask(packet(kMagicApp, CmdFpga, 0, 1, chunk, crc))) == 1u && sim().fpgaImage() == chunk);

        // The serial read fails in the application.
        QVERIFY(status(ask(boot(BootReadSerial))) == 1u && status(ask(app(CmdGoToBoot))) == 1u);
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().bootloader && !sim().state().silent, 2000);
        // Announced as bootloader.
        QVERIFY(rd16(ask(discoveryRequest()), 20) == 0 && ask(app(CmdInformation), 200).isEmpty());
        const QByteArray sn = ask(boot(BootReadSerial));
        QVERIFY(status(sn) == 0u && rd32(sn, 18) == sim().config().serialDecimal);
        // Flash cells only clear bits: a second write without erase gives the AND of both.
        QCOMPARE(status(ask(boot(BootErase))), 0u);
        QVERIFY(status(ask(boot(BootWriteFlash, cipher(QByteArray(1024, 'x')), 0))) == 0u &&
                status(ask(boot(BootWriteFlash, cipher(QByteArray(1024, 'y')), 0))) == 0u);
        QCOMPARE(sim().flashImage().left(1040), QByteArray(1024, char('x' & 'y')) + QByteArray(16, char(0xFF)));
    }

    // A reset is silent for a while; in static mode with a real network
    // address the receiver comes back on its old one, and says so.
    void resetKeepsARealAddress()
    {
        QVERIFY(status(ask(app(CmdStaticAddress, QByteArray::fromHex("c0a80132") + u32(m_port + 1u)))) == 1u &&
                status(ask(app(CmdNetworkMode, u32(1)))) == 1u);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("keeping.*127\\.0\\.0\\.2")));
        QCOMPARE(status(ask(app(CmdReset))), 1u);
        QVERIFY(sim().state().silent && sim().state().resets == 1 && ask(app(CmdInformation), 100).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().silent, 2000);
        const QByteArray d = ask(discoveryRequest());
        QVERIFY(ask(app(CmdInformation)).size() == 54 && rd16(d, 18) == m_port);
        QCOMPARE(d.mid(10, 4), QByteArray::fromHex("7f000002"));
    }
};

QTEST_GUILESS_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
