// The exact datagram of every command of the driver, and what it makes of the replies.
#include "DriverFixture.h"
#include "common/MessageBox.h"

#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtTest>

#include <array>
#include <cstring>

namespace {
QByteArray bytes(int n, int seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 31 + seed) & 0xFF);
    return b;
}

// A calibration block as stored: CRC, eight coefficients (i + 0.5) and the factor 1.0125.
QByteArray calibrationReply()
{
    QByteArray block;
    for (int i = 0; i < 8; ++i)
        block += le<double>(i + 0.5);
    block += le<double>(1.0125);
    return le<quint32>(~referenceCrc(block)) + block;
}

// Answers like a healthy receiver: status 1 to application commands, 0 to
// bootloader ones, and the payloads reads expect.
QList<QByteArray> healthy(const QByteArray& r)
{
    if (qFromLittleEndian<quint16>(r.constData()) == 0xFF11)
        return {TestPeer::reply(r, 0, commandOf(r) == 0x1780 ? bytes(1056, 9) : QByteArray())};
    switch (commandOf(r)) {
    case 10: return {TestPeer::reply(r, 1, r.mid(18))};
    case 26: return {TestPeer::reply(r, 1, bytes(36, 3))};
    case 41: return {TestPeer::reply(r, 1, le<quint16>(0x0203) + le<quint16>(0))};
    case 14:
    case 16: return {TestPeer::reply(r, 1, calibrationReply())};
    default: return {TestPeer::reply(r, 1)};
    }
}

QByteArray startBlock(const std::array<quint32, 8>& params, quint16 receivers, quint16 rate)
{
    QByteArray p = header(0xFF12, 1, 50, 0, 1);
    for (quint32 v : params)
        p += le<quint32>(v);
    return p + le<quint32>(0) + le<quint16>(receivers) + le<quint16>(rate) + le<quint16>(rate) + QByteArray(8, '\0');
}

QByteArray calibrationWrite(quint16 command, const QByteArray& block)
{
    return header(0xFF12, command, 76, 0, 1) + le<quint32>(~referenceCrc(block)) + block;
}

using Action = std::function<bool(ZorvaniDriver&)>;
// The FPGA image (-1 bytes: no such file), transmissions of the chunk at 1024 left unanswered, every chunk refused.
struct Fpga {
    int imageSize, lost;
    bool refused;
    QList<quint32> offsets;
};
} // namespace
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Fpga)
// A command sent without waiting: the row's action always succeeds.
#define SEND(call) [](ZorvaniDriver& d) { d.call; return true; }

class TestReceiverCommands : public QObject {
    Q_OBJECT
    quint16 m_port = 51100; // a fresh one per row
private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::Ok; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    // The action (which must return true) and the datagrams the receiver must see, in order.
    void requestBytes_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QList<QByteArray>>("expected");
        static const QByteArray fpgaChunk = bytes(300, 1), flash = bytes(1024, 2), page = bytes(1056, 4);
        const auto row = [](const char* name, Action a, QList<QByteArray> expected) { QTest::newRow(name) << a << expected; };
        row("Start and Stop", [](ZorvaniDriver& d) { return d.Start() && d.Stop(); },
            {startBlock({8, 8, 4, 3, 2, 2, 2, 2}, 1, 0), header(0xFF12, 2, 4, 0, 1) + le<quint32>(0)});
        // The start block of each rate; an index out of range is ignored.
        const auto start = [](int rate, int receivers) {
            return [=](ZorvaniDriver& d) { d.setSampleRateId(rate); d.setSampleRateId(4); d.setReceivers(receivers); return d.Start(); };
        };
        row("Start at 78125", start(1, 2), {startBlock({5, 4, 4, 3, 2, 2, 2, 1}, 2, 1)});
        row("Start at 156250", start(2, 1), {startBlock({5, 4, 4, 3, 2, 1, 1, 1}, 1, 2)});
        row("Start at 312500", start(3, 2), {startBlock({20, 20, 20, 10, 10, 10, 10, 10}, 2, 3)});
        row("setPreamp on", SEND(setPreamp(5)), {header(0xFF12, 5, 4, 0, 1) + le<quint32>(1)});
        row("setPreamp off", SEND(setPreamp(0)), {header(0xFF12, 5, 4, 0, 1) + le<quint32>(0)});
        row("setExtCtrl", SEND(setExtCtrl(0x55)), {header(0xFF12, 7, 4, 0, 1) + le<quint32>(0x55)});
        row("setFreq 7.1 MHz", SEND(setFreq(1, 7100000.25)), {header(0xFF12, 8, 8, 1, 1) + le<quint64>(71000002)});
        row("setFreq 1 GHz clamped", SEND(setFreq(0, 1e9)), {header(0xFF12, 8, 8, 0, 1) + le<quint64>(8000000000ull)});
        row("setFreq channel 2 not sent", SEND(setFreq(2, 1e6)), {});
        row("setFreq negative", SEND(setFreq(0, -3.0)), {header(0xFF12, 8, 8, 0, 1) + le<quint64>(0)});
        row("writeFPGA", [](ZorvaniDriver& d) { QByteArray c = fpgaChunk; return d.writeFPGA(c, 2048) && c == fpgaChunk; },
            {header(0xFF12, 10, 300, 2048, 1, referenceCrc(fpgaChunk)) + fpgaChunk});
        row("writeFPGA too large", [](ZorvaniDriver& d) { QByteArray c(1025, 'x'); return !d.writeFPGA(c, 0); }, {});
        row("wrireRootCalibrations", [](ZorvaniDriver& d) {
                RootCoefficient r;
                r.coefficients[0] = 27.6, r.coefficients[1] = 9.9, r.percent = -2.5;
                bool crc = false;
                return d.wrireRootCalibrations(&r, &crc) && crc;
            }, {calibrationWrite(13, le<double>(27.6) + le<double>(9.9) + QByteArray(48, '\0') + le<double>(0.975))});
        row("readRootCalibrations", [](ZorvaniDriver& d) {
                RootCoefficient r;
                bool crc = false;
                return d.readRootCalibrations(&r, &crc) && crc && r.coefficients[7] == 7.5 && qAbs(r.percent - 1.25) < 1e-9 && r.reserved0[0] == 0.0;
            }, {header(0xFF12, 14, 0, 0, 1)});
        row("wrireUserCalibrations", [](ZorvaniDriver& d) {
                UserCoefficient user;
                user.percent = 0.0;
                bool crc = false;
                return d.wrireUserCalibrations(&user, &crc) && crc;
            }, {calibrationWrite(15, QByteArray(64, '\0') + le<double>(1.0))});
        row("readUserCalibrations", [](ZorvaniDriver& d) {
                UserCoefficient user;
                bool crc = false;
                return d.readUserCalibrations(&user, &crc) && crc && qAbs(user.percent - 1.25) < 1e-9;
            }, {header(0xFF12, 16, 0, 0, 1)});
        row("setNewStaticAddress", [](ZorvaniDriver& d) { QHostAddress a(QStringLiteral("10.1.2.3")); return d.setNewStaticAddress(a, 50001); },
            {header(0xFF12, 18, 8, 0, 1) + QByteArray::fromHex("0a010203" "51c30000")});
        row("writeAT45D", [](ZorvaniDriver& d) { QByteArray p = page, shorter(1055, 'x'); return d.writeAT45D(p, 7) && !d.writeAT45D(shorter, 7); },
            {header(0xFF12, 19, 1056, 7, 1) + page});
        row("information", [](ZorvaniDriver& d) { SDR2_HDR i{}; return d.information(&i) && std::memcmp(&i, bytes(36, 3).constData(), 36) == 0; },
            {header(0xFF12, 26, 0, 0, 1)});
        row("setLpf", SEND(setLpf(true)), {header(0xFF12, 27, 4, 0, 1) + le<quint32>(1)});
        row("goToBoot", [](ZorvaniDriver& d) { return d.goToBoot(); }, {header(0xFF12, 28, 0, 0, 1), header(0xFF11, 5, 0, 0, 1)});
        row("setPll", SEND(setPll(false)), {header(0xFF12, 29, 4, 0, 1) + le<quint32>(0)});
        row("setBandScope", SEND(setBandScope(true, 7000000, 3)), {header(0xFF12, 34, 12, 0, 1) + QByteArray::fromHex("01030000") + le<quint64>(70000000)});
        row("setNetworkMode", [](ZorvaniDriver& d) { return d.setNetworkMode(DhcpServer); }, {header(0xFF12, 39, 4, 0, 1) + le<quint32>(2)});
        row("resetZorvani", [](ZorvaniDriver& d) { return d.resetZorvani(); }, {header(0xFF12, 40, 0, 0, 1)});
        row("setFrontEnd", SEND(setFrontEnd(0x1234)), {header(0xFF12, 41, 4, 0, 1) + le<quint32>(0x1234)});
        row("frontEnd", [](ZorvaniDriver& d) { bool ok = false; return d.frontEnd(ok) == 0x0203 && ok; }, {header(0xFF12, 41, 0, 0, 1)});
        row("bootErase", [](ZorvaniDriver& d) { return d.bootErase(); }, {header(0xFF11, 1, 0, 0, 0)});
        row("bootWriteFlash", [](ZorvaniDriver& d) { QByteArray c = flash, wrong(1000, 'x'); return d.bootWriteFlash(c, 4096) && !d.bootWriteFlash(wrong, 0); },
            {header(0xFF11, 2, 1024, 4096, 0) + flash});
        row("bootWriteAT45D", [](ZorvaniDriver& d) { QByteArray p = page; return d.bootWriteAT45D(p, 9); }, {header(0xFF11, 3, 1056, 9, 0) + page});
        row("bootReadSN", [](ZorvaniDriver& d) { return d.bootReadSN(); }, {header(0xFF11, 5, 0, 0, 1)});
        row("quitFromBoot", [](ZorvaniDriver& d) { return d.quitFromBoot(); },
            {header(0xFF11, 6, 0, 0, 0) + QByteArray(1200, '\0'), header(0xFF12, 26, 0, 0, 1)});
        row("bootReadAT45D", [](ZorvaniDriver& d) { QByteArray out; return d.bootReadAT45D(out, 3) && out == bytes(1056, 9); },
            {header(0xFF11, 0x1780, 0, 3, 0)});
    }
    void requestBytes()
    {
        QFETCH(Action, action);
        QFETCH(QList<QByteArray>, expected);
        DriverFixture f(m_port++);
        f.peer.setResponder(healthy);
        QVERIFY(action(f.driver));
        // Fire-and-forget requests need a moment to reach the receiver.
        QTRY_VERIFY_WITH_TIMEOUT(f.peer.log().size() >= expected.size(), 2000);
        QTest::qWait(expected.isEmpty() ? 100 : 30);
        QList<QByteArray> log; // a request whose reply came late is re-sent unchanged: each counts once
        for (const QByteArray& d : f.peer.log())
            if (!log.contains(d))
                log << d;
        QCOMPARE(log.size(), expected.size());
        for (int i = 0; i < log.size(); ++i)
            QCOMPARE(log[i].toHex(), expected[i].toHex());
    }

    // A block with a bad CRC is reported and leaves the record alone; a write
    // refused by the receiver (status 0) reports failure. A new band-scope
    // decimation is announced once.
    void calibrationFailuresAndDecimation()
    {
        DriverFixture f(51210);
        f.peer.setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1, QByteArray(76, char(0xFF)))}; });
        RootCoefficient root;
        root.coefficients[0] = 3.0;
        root.percent = 0.5;
        bool crc = true;
        QVERIFY(f.driver.readRootCalibrations(&root, &crc) && !crc);
        QVERIFY(root.coefficients[0] == 3.0 && root.percent == 0.5);
        f.peer.setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 0)}; });
        crc = true;
        UserCoefficient user;
        QVERIFY(!f.driver.wrireUserCalibrations(&user, &crc) && !crc);
        QSignalSpy changed(&f.driver, &ZorvaniDriver::bandScopeDecimationChanged);
        f.driver.setBandScope(true, 7000000, 0); // the decimation a new driver assumes
        QCOMPARE(changed.count(), 0);
        f.driver.setBandScope(true, 7000000, 3);
        f.driver.setBandScope(false, 7100000, 3);
        QCOMPARE(changed.count(), 1);
    }

    // The FPGA image after its 1056-byte header goes out in chunks of 1024;
    // a chunk without answer starts the image again, three attempts at most.
    void fpgaImage_data()
    {
        QTest::addColumn<Fpga>("fpga");
        QTest::newRow("2 x 1024 + 100") << Fpga{2148, 0, false, {0, 1024, 2048}};
        QTest::newRow("exactly 2 x 1024") << Fpga{2048, 0, false, {0, 1024}};
        QTest::newRow("empty image") << Fpga{0, 0, false, {}};
        QTest::newRow("a chunk lost five times") << Fpga{3000, 5, false, {0, 1024, 1024, 1024, 1024, 1024, 0, 1024, 2048}};
        QTest::newRow("refused three times") << Fpga{10, 0, true, {0, 0, 0}};
        QTest::newRow("no image") << Fpga{-1, 0, false, {}};
    }
    void fpgaImage()
    {
        QFETCH(Fpga, fpga);
        QTemporaryFile file;
        QVERIFY(file.open());
        const QByteArray image = bytes(std::max(fpga.imageSize, 0), 5);
        file.write(QByteArray(1056, 'H') + image);
        file.close();
        DriverFixture f(m_port++);
        f.driver.setFpgaImagePath(fpga.imageSize < 0 ? QStringLiteral("/nonexistent/image.fpg") : file.fileName());
        int unanswered = 0;
        f.peer.setResponder([&](const QByteArray& r) {
            if (fpga.refused)
                return QList<QByteArray>{TestPeer::reply(r, 0)};
            if (paramOf(r) == 1024 && unanswered < fpga.lost && ++unanswered)
                return QList<QByteArray>{};
            return healthy(r);
        });
        QStringList boxes;
        ox::ui::setMessageHandler([&](const ox::ui::MessageRequest& r) {
            boxes << r.title + QLatin1Char('|') + r.text + QLatin1Char('|') + QString::number(r.icon);
            return QMessageBox::Ok;
        });
        QSignalSpy ended(&f.driver, &ZorvaniDriver::endInitFirmware);
        QSignalSpy loading(&f.driver, &ZorvaniDriver::fpgaLoading);
        QCOMPARE(f.driver.fastLoadFpga(), fpga.imageSize >= 0 && !fpga.refused);
        QCOMPARE(loading.count(), 2);
        QVERIFY(loading[0][0].toBool() && !loading[1][0].toBool());
        QList<quint32> sent;
        for (const QByteArray& d : f.peer.requests(10)) {
            sent << paramOf(d);
            QCOMPARE(d.mid(18), image.mid(int(sent.last()), 1024));
        }
        QCOMPARE(sent, fpga.offsets);
        QCOMPARE(ended.count(), fpga.refused ? 1 : 0);
        QCOMPARE(boxes, fpga.refused ? QStringList{"Velmora2|Initialization failure|" + QString::number(QMessageBox::Critical)} : QStringList());
    }
};

QTEST_MAIN(TestReceiverCommands)
#include "tst_receivercommands.moc"
