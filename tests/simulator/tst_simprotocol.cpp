// The emulator as a receiver on the wire: replies, state, the IQ stream and
// its faults, the memories and the bootloader, each from hand-built datagrams.
#include "SimClient.h"

#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <complex>
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
    std::unique_ptr<SimFixture> m_f;

    Simulator& sim() { return *m_f->sim; }
    Config quiet() const { return SimFixture::quiet(m_port); }
    QByteArray ask(const QByteArray& d, int timeoutMs = 1000) { return m_f->ask(d, timeoutMs); }
    QByteArray nextIq(int timeoutMs = 1000) { return m_f->client.receive(timeoutMs, kIqMark); }

private slots:
    void init()
    {
        m_f = std::make_unique<SimFixture>();
        QVERIFY2(m_f->start(quiet()), "emulator did not bind");
    }
    void cleanup() { m_f.reset(); }

    void refusesRealNetworkAddresses()
    {
        if (qEnvironmentVariable("ZORVANI_NETNS") == QLatin1String("1"))
            QSKIP("inside a private namespace every address is allowed");
        Config c = quiet();
        c.address = QHostAddress(QStringLiteral("192.168.1.50"));
        c.port = quint16(m_port + 2);
        Simulator other(c);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refusing.*192\\.168\\.1\\.50")));
        QVERIFY(!other.start());
        QVERIFY(!other.isRunning());
    }

    // Discovery and the information record announce the configured receiver.
    void identity()
    {
        Config c = quiet();
        c.serialDecimal = 123;
        c.serialHi = 0x0A;
        c.serialLo = 0x1B;
        QVERIFY(m_f->start(c));
        QCOMPARE(sim().serialText(), QStringLiteral("OXD010a1b00123"));
        QCOMPARE(discoveryRequest().mid(22), QByteArray::fromHex("ece6")); // checksum 0xE6EC
        const QByteArray r = ask(discoveryRequest());
        QCOMPARE(r.size(), kDiscoveryReplyBytes);
        QCOMPARE(r.left(14), QByteArray::fromHex("12ff011a7b0000000a1b7f000002"));
        QCOMPARE(rd16(r, 18), m_port);
        QVERIFY(rd16(r, 20) != 0); // application
        QCOMPARE(sim().counters().discoveryReplies, 1u);

        const QByteArray info = ask(app(CmdInformation));
        QCOMPARE(info.size(), 54);
        QCOMPARE(status(info), 1u);
        QCOMPARE(rd16(info, 4), quint16(36));
        QCOMPARE(info.mid(20, 6), QByteArray::fromHex("02000b000300")); // version 11.3
        QCOMPARE(rd32(info, 38), 123u);
        QCOMPARE(rd32(info, 46), c.statusBits);
        QCOMPARE(rd32(info, 50), c.pcbRevision);
        sim().setFirmwareVersion(10, 7);
        QCOMPARE(ask(app(CmdInformation)).mid(22, 4), QByteArray::fromHex("0a000700"));
    }

    void settersKeepState_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QString>("field");
        QTest::addColumn<quint64>("value");
        QByteArray f(8, '\0');
        wr64(f, 0, 141000000ull);
        QTest::newRow("preamp on") << app(CmdPreamp, u32(1)) << "preamp" << quint64(1);
        QTest::newRow("ext ctrl") << app(CmdExtCtrl, u32(0x55)) << "extCtrl" << quint64(0x55);
        QTest::newRow("lpf") << app(CmdLpf, u32(1)) << "lpf" << quint64(1);
        QTest::newRow("pll") << app(CmdPll, u32(1)) << "pll" << quint64(1);
        QTest::newRow("front end") << app(CmdFrontEnd, u32(0x1234)) << "frontEnd" << quint64(0x1234);
        QTest::newRow("freq rx1") << app(CmdFreq, f, 1) << "freq1" << quint64(141000000);
        QTest::newRow("freq rx0") << app(CmdFreq, f, 0) << "freq0" << quint64(141000000);
        QTest::newRow("network mode") << app(CmdNetworkMode, u32(2)) << "networkMode" << quint64(2);
    }
    void settersKeepState()
    {
        QFETCH(QByteArray, request);
        QFETCH(QString, field);
        const QByteArray r = ask(request);
        QCOMPARE(r.size(), 18);
        QCOMPARE(status(r), 1u);
        QCOMPARE(rd32(r, 6), rd32(request, 6)); // param echoed
        const State s = sim().state();
        const QMap<QString, quint64> fields{{"preamp", s.preamp},     {"extCtrl", s.extCtrl}, {"lpf", s.lpf},
                                            {"pll", s.pll},           {"frontEnd", s.frontEnd}, {"freq0", s.freq[0]},
                                            {"freq1", s.freq[1]},     {"networkMode", s.networkMode}};
        QTEST(fields.value(field), "value");
        const auto log = sim().commands(rd16(request, 2));
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0].bytes, request); // exactly as sent
        QVERIFY(!log[0].malformed);
        if (field == QLatin1String("frontEnd")) {
            const QByteArray back = ask(app(CmdFrontEnd));
            QCOMPARE(back.size(), 22);
            QCOMPARE(rd32(back, 18), 0x1234u);
        }
    }

    void invalidRequestsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("expectStatus"); // -1: ignored as malformed, no reply
        QByteArray badSum = discoveryRequest();
        badSum[22] = char(badSum[22] ^ 1);
        QByteArray changed = discoveryRequest();
        changed[6] = 1; // the checksum no longer matches
        QByteArray lying = app(CmdPreamp, u32(1));
        wr16(lying, 4, 40); // length beyond the datagram
        QTest::newRow("discovery checksum") << badSum << -1;
        QTest::newRow("short discovery") << discoveryRequest().left(22) << -1;
        QTest::newRow("discovery payload changed") << changed << -1;
        QTest::newRow("freq channel 2") << app(CmdFreq, QByteArray(8, '\0'), 2) << -1;
        QTest::newRow("network mode 4") << app(CmdNetworkMode, u32(4)) << 0;
        QTest::newRow("preamp without payload") << app(CmdPreamp) << -1;
        QTest::newRow("unknown command") << app(77) << -1;
        QTest::newRow("length too long") << lying << -1;
        QTest::newRow("trailing bytes") << app(CmdPreamp, u32(1)) + "xyz" << -1;
        QTest::newRow("data flash page beyond the chip") << app(CmdWriteDataFlash, QByteArray(1056, 'a'), 9000) << 0;
        QTest::newRow("short data flash page") << app(CmdWriteDataFlash, QByteArray(1000, 'a'), 17) << -1;
        QTest::newRow("oversized FPGA chunk") << app(CmdFpga, QByteArray(1025, 'a')) << -1;
    }
    void invalidRequestsAreRefused()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, expectStatus);
        const State before = sim().state();
        const QByteArray r = ask(request, expectStatus < 0 ? 200 : 1000);
        if (expectStatus < 0) {
            QVERIFY(r.isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(sim().counters().malformed, 1u, 1000);
        } else {
            QCOMPARE(status(r), quint32(expectStatus));
        }
        const State after = sim().state();
        QCOMPARE(after.networkMode, before.networkMode);
        QCOMPARE(after.preamp, before.preamp);
        QCOMPARE(after.freq[0], before.freq[0]);
        QCOMPARE(sim().counters().discoveryReplies, 0u);
        QCOMPARE(sim().dataFlashPage(17), QByteArray(kDataFlashPageBytes, char(0xFF)));
        QVERIFY(sim().fpgaImage().isEmpty());
        QCOMPARE(status(ask(app(CmdInformation))), 1u); // still alive
    }

    void startIsValidated_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<quint32>("expectStatus");
        QByteArray wrongParams = startBlock(1, 1);
        wr32(wrongParams, 18, 9);
        QByteArray mismatch = startBlock(2, 1);
        wr16(mismatch, 58, 1);
        QByteArray rate4 = startBlock(3, 1);
        wr16(rate4, 56, 4);
        wr16(rate4, 58, 4);
        QTest::newRow("rate 0, one receiver") << startBlock(0, 1) << 1u;
        QTest::newRow("the receiver reports a fault") << startBlock(0, 1) << 2u;
        QTest::newRow("rate 3, two receivers") << startBlock(3, 2) << 1u;
        QTest::newRow("wrong rate parameters") << wrongParams << 0u;
        QTest::newRow("rate index repeated differently") << mismatch << 0u;
        QTest::newRow("three receivers") << startBlock(2, 3) << 0u;
        QTest::newRow("rate index 4") << rate4 << 0u;
    }
    void startIsValidated()
    {
        QFETCH(QByteArray, request);
        QFETCH(quint32, expectStatus);
        if (expectStatus == 2)
            sim().setStartStatus(2);
        QCOMPARE(status(ask(request)), expectStatus);
        QCOMPARE(sim().state().streaming, expectStatus == 1);
        if (expectStatus == 1) {
            QCOMPARE(sim().state().rateIndex, int(rd16(request, 56)));
            QCOMPARE(sim().state().receivers, int(rd16(request, 54)));
        }
        QCOMPARE(nextIq(expectStatus == 1 ? 1000 : 200).isEmpty(), expectStatus != 1);
    }

    // Two receivers below a carrier 10 bins of a packet up, at 39062.5 Hz: the
    // packets alternate between them in sequence, and each carries the carrier
    // at its level with the phase running on from that receiver's last packet.
    void iqStreamCarriesTheScene()
    {
        Config c = quiet();
        const double offset = 10.0 * 39062.5 / 200.0;
        c.scene = sceneOf(QStringLiteral("carrier %1 -6").arg(7000000.0 + offset, 0, 'f', 4));
        c.initialFreq = 70000000;
        QVERIFY(m_f->start(c));
        QCOMPARE(status(ask(startBlock(0, 2))), 1u);
        const double step = 2.0 * M_PI * offset / 39062.5;
        double previous[2] = {};
        for (int k = 0; k < 40; ++k) {
            const QByteArray p = nextIq();
            QCOMPARE(p.size(), kIqPacketBytes);
            QCOMPARE(rd16(p, 4), quint16(1200));
            QCOMPARE(rd16(p, 6), quint16(k));
            const int rx = k % 2;
            QCOMPARE(int(p[9]), rx);
            std::complex<double> line, beside;
            for (int i = 0; i < 200; ++i) {
                const std::complex<double> x(rd24(p.constData() + 10 + 6 * i) / 8388607.0,
                                             rd24(p.constData() + 13 + 6 * i) / 8388607.0);
                line += x * std::polar(1.0, -2.0 * M_PI * 10.0 * i / 200.0);
                beside += x * std::polar(1.0, -2.0 * M_PI * 11.0 * i / 200.0);
                const double d = std::remainder(std::arg(x) - previous[rx] - step, 2.0 * M_PI);
                QVERIFY2((k < 2 && i == 0) || std::abs(d) < 1e-5, qPrintable(QStringLiteral("packet %1 sample %2").arg(k).arg(i)));
                previous[rx] = std::arg(x);
            }
            const double level = 20.0 * std::log10(std::abs(line) / 200.0);
            QVERIFY2(std::abs(level + 6.0) < 0.001, qPrintable(QString::number(level)));
            QVERIFY(std::abs(beside) / 200.0 < 1e-5);
            m_f->send(ack(p));
        }
        QTRY_COMPARE_WITH_TIMEOUT(sim().counters().iqAnswersShort, 40u, 2000);
        QCOMPARE(sim().counters().iqResent, 0u);
        QCOMPARE(status(ask(app(CmdStop, u32(0)))), 1u);
        QVERIFY(!sim().state().streaming);
    }

    void unansweredPacketsAreSentAgain()
    {
        Config c = quiet();
        c.resendAfterMs = 40;
        QVERIFY(m_f->start(c));
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        const QByteArray first = nextIq();
        QVERIFY(!first.isEmpty());
        QCOMPARE(nextIq(), first); // no answer: sent again, twice
        QCOMPARE(nextIq(), first);
        QTRY_COMPARE_WITH_TIMEOUT(sim().counters().iqResent, 2u, 1000);
        QCOMPARE(rd16(nextIq(), 6), quint16(1)); // then given up
    }

    void answersFillTheCapture()
    {
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        QVector<qint32> sent;
        for (int k = 0; k < 5; ++k) {
            QByteArray p = nextIq();
            QCOMPARE(rd16(p, 6), quint16(k));
            for (int i = 0; i < 400; ++i) {
                sent.append((k * 400 + i) * 4099 % 16777216 - 8388608);
                wr24(p.data() + 10 + 3 * i, sent.last());
            }
            m_f->send(p);
            if (k == 2)
                m_f->send(p); // a repeated answer is not captured twice
        }
        QTRY_COMPARE_WITH_TIMEOUT(sim().captureFrames(), 1000, 2000);
        QCOMPARE(sim().capture(), sent);
        QTRY_COMPARE_WITH_TIMEOUT(sim().counters().iqAnswersRepeated, 1u, 1000);
        QCOMPARE(sim().counters().iqAnswersFull, 5u);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture.wav"));
        QVERIFY(sim().writeCaptureWav(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray wav = f.readAll();
        QCOMPARE(wav.size(), 44 + 1000 * 6);
        QCOMPARE(wav.left(4) + wav.mid(8, 8), QByteArray("RIFFWAVEfmt "));
        QCOMPARE(wav.mid(20, 4), QByteArray::fromHex("01000200")); // PCM, stereo
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
        sim().setFaults(f);
        QCOMPARE(status(ask(startBlock(0, 1))), 1u);
        const QByteArray a = nextIq();
        QCOMPARE(nextIq(), a);
        QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqDuplicated >= 1u, 1000);

        // Stall: nothing while it lasts, resumed afterwards.
        sim().setIqStall(true);
        m_f->send(ack(a));
        QTRY_COMPARE_WITH_TIMEOUT(sim().counters().iqAnswered, 1u, 1000);
        m_f->client.drain();
        QVERIFY(nextIq(300).isEmpty());
        sim().setIqStall(false);
        QVERIFY(!nextIq().isEmpty()); // on the next answer or re-send scan

        // Loss: every transmission from the one after this answer on.
        const QByteArray c = nextIq();
        QVERIFY(!c.isEmpty());
        f.iqDuplicate = 0.0;
        f.iqLoss = 1.0;
        sim().setFaults(f);
        m_f->send(ack(c));
        QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqLost >= 1u, 1000);
        m_f->client.drain();
        QVERIFY(nextIq(200).isEmpty());
    }

    void reorderSwapsNeighbours()
    {
        Faults f;
        f.iqReorder = 1.0; // every free packet is held back and sent after the next one
        sim().setFaults(f);
        QCOMPARE(status(ask(startBlock(0, 2))), 1u); // two packets per block
        QCOMPARE(rd16(nextIq(), 6), quint16(1));
        QCOMPARE(rd16(nextIq(), 6), quint16(0));
        QVERIFY(sim().counters().iqReordered >= 1u);
    }

    void lostAndLateReplies()
    {
        sim().dropReplies(CmdInformation, 2);
        QVERIFY(ask(app(CmdInformation), 200).isEmpty());
        QVERIFY(ask(app(CmdInformation), 200).isEmpty());
        QCOMPARE(status(ask(app(CmdInformation))), 1u);
        QCOMPARE(sim().counters().repliesDropped, 2u);

        // Late replies are held back: the information asked after them overtakes them.
        sim().delayReplies(CmdLpf, 1000);
        m_f->send(app(CmdLpf, u32(1)));
        m_f->send(app(CmdLpf, u32(0)));
        m_f->send(app(CmdInformation));
        for (quint16 code : {CmdInformation, CmdLpf, CmdLpf})
            QCOMPARE(codeOf(m_f->client.receive(3000)), code);
        const auto log = sim().commands(CmdLpf);
        QCOMPARE(log.size(), 2);
        QVERIFY(log[0].timeUs <= log[1].timeUs);
        QCOMPARE(rd32(log[1].bytes, 18), 0u);
    }

    // Bad datagrams for the plug-in's robustness tests, sent to the last peer.
    void junkToThePeer()
    {
        QVERIFY2(!sim().sendJunk(Simulator::Junk::Random), "no peer yet: nothing to send to");
        ask(app(CmdInformation));
        const struct {
            Simulator::Junk kind;
            int size;
            const char* from;
        } rows[] = {{Simulator::Junk::ShortIq, 100, "127.0.0.2"}, {Simulator::Junk::ShortReply, 6, "127.0.0.2"},
                    {Simulator::Junk::ShortFragment, 40, "127.0.0.2"}, {Simulator::Junk::Foreign, 54, "127.0.0.3"},
                    {Simulator::Junk::Random, -1, "127.0.0.2"}};
        for (const auto& row : rows) {
            QVERIFY(sim().sendJunk(row.kind));
            QHostAddress from;
            const QByteArray d = m_f->client.receive(1000, 0, &from);
            QVERIFY2(!d.isEmpty() && (row.size < 0 || d.size() == row.size), row.from);
            QCOMPARE(from, QHostAddress(QLatin1String(row.from)));
        }
    }

    void calibrationBlocks_data()
    {
        QTest::addColumn<quint16>("write");
        QTest::addColumn<quint16>("read");
        QTest::addColumn<quint16>("other");
        QTest::addColumn<bool>("restart");
        QTest::newRow("root") << quint16(CmdWriteRootCal) << quint16(CmdReadRootCal) << quint16(CmdReadUserCal) << false;
        QTest::newRow("user") << quint16(CmdWriteUserCal) << quint16(CmdReadUserCal) << quint16(CmdReadRootCal) << false;
        QTest::newRow("user, kept across a restart")
            << quint16(CmdWriteUserCal) << quint16(CmdReadUserCal) << quint16(CmdReadRootCal) << true;
    }
    void calibrationBlocks()
    {
        QFETCH(quint16, write);
        QFETCH(quint16, read);
        QFETCH(quint16, other);
        QFETCH(bool, restart);
        QTemporaryDir dir;
        Config c = quiet();
        c.calibrationFile = dir.filePath(QStringLiteral("cal.ini"));
        QVERIFY(m_f->start(c));
        QByteArray r = ask(app(read));
        QCOMPARE(status(r), 1u);
        QCOMPARE(r.mid(18), kErased);
        QByteArray bad = calibration(0.975, 1.5);
        bad[30] = char(bad[30] ^ 0x40);
        QCOMPARE(status(ask(app(write, bad))), 0u); // bad CRC: refused, nothing changes
        QCOMPARE(ask(app(read)).mid(18), kErased);
        const QByteArray good = calibration(1.0125, 2.5);
        QCOMPARE(status(ask(app(write, good))), 1u);
        if (restart)
            QVERIFY(m_f->start(c));
        QCOMPARE(ask(app(read)).mid(18), good);
        QCOMPARE(ask(app(other)).mid(18), kErased);
    }

    void fpgaChunksAndDataFlash()
    {
        QByteArray image(2500, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 13);
        for (int off = 0; off < image.size(); off += 1024) {
            const QByteArray chunk = image.mid(off, 1024);
            const QByteArray r = ask(packet(kMagicApp, CmdFpga, quint32(off), 1, chunk, crc32(chunk)));
            QCOMPARE(status(r), 1u);
            QCOMPARE(r.mid(18), chunk); // echoed
        }
        QCOMPARE(sim().fpgaImage(), image);
        QCOMPARE(sim().fpgaDigest(), QCryptographicHash::hash(image, QCryptographicHash::Sha256));
        const QByteArray chunk(100, 'z');
        QCOMPARE(status(ask(packet(kMagicApp, CmdFpga, 0, 1, chunk, crc32(chunk) ^ 1))), 0u); // wrong CRC
        QCOMPARE(sim().fpgaImage(), image);

        const QByteArray page(kDataFlashPageBytes, 'q');
        QCOMPARE(status(ask(app(CmdWriteDataFlash, page, 17))), 1u);
        QCOMPARE(sim().dataFlashPage(17), page);
        QCOMPARE(sim().dataFlashPage(18), QByteArray(kDataFlashPageBytes, char(0xFF)));
    }

    void bootloaderUpdate()
    {
        QCOMPARE(status(ask(boot(BootReadSerial))), 1u); // fails at once in the application
        QCOMPARE(status(ask(app(CmdGoToBoot))), 1u);
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().bootloader && !sim().state().silent, 2000);
        QCOMPARE(rd16(ask(discoveryRequest()), 20), quint16(0)); // announced as bootloader
        QVERIFY(ask(app(CmdInformation), 200).isEmpty());
        const QByteArray sn = ask(boot(BootReadSerial));
        QCOMPARE(status(sn), 0u);
        QCOMPARE(rd32(sn, 18), sim().config().serialDecimal);

        // A corrupt image first: an unaligned chunk refused; flash cells only
        // clear bits, so a second write without erase gives the AND of both;
        // without its CRC the image is not started.
        QCOMPARE(status(ask(boot(BootErase))), 0u);
        QCOMPARE(status(ask(boot(BootWriteFlash, cipher(QByteArray(1024, 'x')), 0))), 0u);
        QCOMPARE(status(ask(boot(BootWriteFlash, cipher(QByteArray(1024, 'x')), 1000))), 1u);
        QCOMPARE(status(ask(boot(BootWriteFlash, cipher(QByteArray(1024, 'y')), 0))), 0u);
        QCOMPARE(sim().flashImage().left(1040), QByteArray(1024, char('x' & 'y')) + QByteArray(16, char(0xFF)));
        const QByteArray quit = boot(BootQuit) + QByteArray(1200, '\0');
        QCOMPARE(quit.size(), kBootQuitBytes);
        m_f->send(quit);
        QVERIFY(m_f->client.receive(300).isEmpty());
        QVERIFY(sim().state().bootloader);
        QCOMPARE(status(ask(boot(BootReadSerial))), 0u);
        QCOMPARE(sim().state().firmwareUpdates, 0);

        QCOMPARE(status(ask(boot(BootErase))), 0u);
        // The image as the plug-in builds it: 1000 bytes, zeros, CRC complement at the end.
        QByteArray plain(kFlashBytes, '\0');
        for (int i = 0; i < 1000; ++i)
            plain[i] = char(i * 31 + 5);
        wr32(plain, kFlashBytes - 4, ~crc32(plain.constData(), kFlashBytes - 4));
        for (int off = 0; off < kFlashBytes; off += kFlashChunkBytes)
            QVERIFY2(status(ask(boot(BootWriteFlash, cipher(plain.mid(off, kFlashChunkBytes)), quint32(off)))) == 0,
                     qPrintable(QString::number(off)));
        QCOMPARE(sim().flashImage(), plain);
        QCOMPARE(status(ask(boot(BootWriteDataFlash, QByteArray(1056, 'd'), 5))), 0u);
        const QByteArray page = ask(boot(BootReadDataFlash, QByteArray(), 5));
        QCOMPARE(status(page), 0u);
        QCOMPARE(page.mid(18), QByteArray(1056, 'd'));

        sim().setFirmwareVersion(9, 9);
        m_f->send(quit);
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().bootloader && !sim().state().silent, 2000);
        QCOMPARE(ask(app(CmdInformation)).mid(22, 4), QByteArray::fromHex("0b000300")); // the flashed 11.3
        QCOMPARE(sim().state().firmwareUpdates, 1);
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
        QCOMPARE(status(ask(app(CmdStaticAddress, address + u32(newPort)))), 1u);
        QCOMPARE(sim().state().staticPort, newPort);
        QCOMPARE(status(ask(app(CmdNetworkMode, u32(mode)))), 1u);
        if (mode == 1 && !taken)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("keeping.*127\\.0\\.0\\.2")));
        QCOMPARE(status(ask(app(CmdReset))), 1u);
        QVERIFY(sim().state().silent);
        QCOMPARE(sim().state().resets, 1);
        QVERIFY(ask(app(CmdInformation), 100).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!sim().state().silent, 2000);
        const QByteArray expected = taken ? address : QByteArray::fromHex("7f000002");
        const QHostAddress to(qFromBigEndian<quint32>(expected.constData()));
        const quint16 port = taken ? newPort : m_port;
        m_f->client.send(app(CmdInformation), to, port);
        QCOMPARE(m_f->client.receive(1000, CmdInformation).size(), 54);
        m_f->client.send(discoveryRequest(), to, port);
        const QByteArray d = m_f->client.receive(1000, kDiscoveryReply);
        QCOMPARE(d.mid(10, 4), expected); // announces where it is now
        QCOMPARE(rd16(d, 18), port);
    }

    // A carrier 100 bins of a 4096-point frame above the centre, at 1 MHz (decimation 3).
    void bandScopeFrames()
    {
        Config c = quiet();
        c.scene = sceneOf(QStringLiteral("carrier %1 -10").arg(32500000.0 + 100.0 * 1e6 / 4096.0, 0, 'f', 6));
        QVERIFY(m_f->start(c));
        QByteArray bs(12, '\0');
        bs[0] = 1;
        bs[1] = 3;
        wr64(bs, 4, 325000000ull);
        QCOMPARE(status(ask(app(CmdBandScope, bs))), 1u);
        const BandScopeState state = sim().state().bandScope;
        QVERIFY(state.enable && state.decimation == 3 && state.centre == 325000000u);
        std::complex<double> line;
        for (int frame = 0; frame < 2; ++frame) {
            line = 0.0;
            for (int k = 0; k < 16; ++k) {
                const QByteArray f = m_f->client.receive(2000, kBandScopeMark);
                QCOMPARE(f.size(), kBandScopeBytes);
                QCOMPARE(rd16(f, 6), quint16(k));
                for (int i = 0; i < 256; ++i)
                    line += std::complex<double>(qint16(rd16(f, 10 + 4 * i)), qint16(rd16(f, 12 + 4 * i))) / 32767.0 *
                            std::polar(1.0, -2.0 * M_PI * 100.0 * (256 * k + i) / 4096.0);
            }
        }
        const double level = 20.0 * std::log10(std::abs(line) / 4096.0);
        QVERIFY2(std::abs(level + 10.0) < 0.01, qPrintable(QString::number(level)));
        bs[0] = 0;
        QCOMPARE(status(ask(app(CmdBandScope, bs))), 1u);
        m_f->client.drain();
        QVERIFY(m_f->client.receive(500, kBandScopeMark).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
