// The exact datagram of every command of the driver, and what it makes of the replies.
#include "DriverFixture.h"
#include "common/MessageBox.h"

#include <QTemporaryFile>
#include <QtTest>

#include <array>
#include <cstring>
#include <functional>

namespace {
QByteArray bytes(int n, int seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 31 + seed) & 0xFF);
    return b;
}

quint32 referenceCrc(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Answers like a healthy receiver: status 1 to application commands, 0 to
// bootloader ones (1 to nothing there), and the payloads reads expect.
QList<QByteArray> healthy(const QByteArray& r)
{
    const quint16 magic = qFromLittleEndian<quint16>(r.constData());
    const quint16 command = commandOf(r);
    if (magic == 0xFF11) {
        if (command == 0x1780)
            return {TestPeer::reply(r, 0, bytes(1056, 9))};
        return {TestPeer::reply(r, 0)};
    }
    switch (command) {
    case 10: return {TestPeer::reply(r, 1, r.mid(18))};
    case 26: return {TestPeer::reply(r, 1, bytes(36, 3))};
    case 41: return {TestPeer::reply(r, 1, le<quint16>(0x0203) + le<quint16>(0))};
    case 14:
    case 16: {
        QByteArray block(76, '\0');
        qToLittleEndian<double>(1.0125, block.data() + 68);
        for (int i = 0; i < 8; ++i)
            qToLittleEndian<double>(i + 0.5, block.data() + 4 + 8 * i);
        qToLittleEndian<quint32>(~referenceCrc(block.mid(4)), block.data());
        return {TestPeer::reply(r, 1, block)};
    }
    default: return {TestPeer::reply(r, 1)};
    }
}

struct Case {
    const char* name;
    std::function<bool(ZorvaniDriver&)> action; // result the slot must give
    QList<QByteArray> expected;                 // datagrams the receiver must see, in order
};

QByteArray startBlock(const std::array<quint32, 8>& params, quint16 receivers, quint16 rate)
{
    QByteArray p = header(0xFF12, 1, 50, 0, 1);
    for (quint32 v : params)
        p += le<quint32>(v);
    p += le<quint32>(0) + le<quint16>(receivers) + le<quint16>(rate) + le<quint16>(rate) + QByteArray(8, '\0');
    return p;
}
} // namespace

class TestDriverCommands : public QObject {
    Q_OBJECT
private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::Ok; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    void requestBytes()
    {
        static QByteArray fpgaChunk = bytes(300, 1);
        static QByteArray flash = bytes(1024, 2);
        static QByteArray page = bytes(1056, 4);
        const QList<Case> cases = {
            {"Stop", [](ZorvaniDriver& d) { return d.Start() && d.Stop(); },
             {startBlock({8, 8, 4, 3, 2, 2, 2, 2}, 1, 0), header(0xFF12, 2, 4, 0, 1) + le<quint32>(0)}},
            {"setPreamp on", [](ZorvaniDriver& d) { d.setPreamp(5); return true; },
             {header(0xFF12, 5, 4, 0, 1) + le<quint32>(1)}},
            {"setPreamp off", [](ZorvaniDriver& d) { d.setPreamp(0); return true; },
             {header(0xFF12, 5, 4, 0, 1) + le<quint32>(0)}},
            {"setExtCtrl", [](ZorvaniDriver& d) { d.setExtCtrl(0x55); return true; },
             {header(0xFF12, 7, 4, 0, 1) + le<quint32>(0x55)}},
            {"setFreq 7.1 MHz", [](ZorvaniDriver& d) { d.setFreq(1, 7100000.25); return true; },
             {header(0xFF12, 8, 8, 1, 1) + le<quint64>(71000002)}},
            {"setFreq 1 GHz clamped", [](ZorvaniDriver& d) { d.setFreq(0, 1e9); return true; },
             {header(0xFF12, 8, 8, 0, 1) + le<quint64>(8000000000ull)}},
            {"setFreq channel 2 not sent", [](ZorvaniDriver& d) { d.setFreq(2, 1e6); return true; }, {}},
            {"setFreq negative", [](ZorvaniDriver& d) { d.setFreq(0, -3.0); return true; },
             {header(0xFF12, 8, 8, 0, 1) + le<quint64>(0)}},
            {"writeFPGA",
             [](ZorvaniDriver& d) {
                 QByteArray chunk = fpgaChunk;
                 return d.writeFPGA(chunk, 2048) && chunk == fpgaChunk;
             },
             {header(0xFF12, 10, 300, 2048, 1, referenceCrc(fpgaChunk)) + fpgaChunk}},
            {"writeFPGA too large", [](ZorvaniDriver& d) { QByteArray c(1025, 'x'); return !d.writeFPGA(c, 0); }, {}},
            {"wrireRootCalibrations",
             [](ZorvaniDriver& d) {
                 RootCoefficient root;
                 root.coefficients[0] = 27.6;
                 root.coefficients[1] = 9.9;
                 root.percent = -2.5;
                 bool crc = false;
                 return d.wrireRootCalibrations(&root, &crc) && crc;
             },
             {[] {
                 QByteArray block = le<double>(27.6) + le<double>(9.9) + QByteArray(48, '\0') + le<double>(0.975);
                 return header(0xFF12, 13, 76, 0, 1) + le<quint32>(~referenceCrc(block)) + block;
             }()}},
            {"readRootCalibrations",
             [](ZorvaniDriver& d) {
                 RootCoefficient root;
                 bool crc = false;
                 return d.readRootCalibrations(&root, &crc) && crc && root.coefficients[7] == 7.5 &&
                        qAbs(root.percent - 1.25) < 1e-9 && root.reserved0[0] == 0.0;
             },
             {header(0xFF12, 14, 0, 0, 1)}},
            {"wrireUserCalibrations",
             [](ZorvaniDriver& d) {
                 UserCoefficient user;
                 user.percent = 0.0;
                 bool crc = false;
                 return d.wrireUserCalibrations(&user, &crc) && crc;
             },
             {[] {
                 QByteArray block = QByteArray(64, '\0') + le<double>(1.0);
                 return header(0xFF12, 15, 76, 0, 1) + le<quint32>(~referenceCrc(block)) + block;
             }()}},
            {"readUserCalibrations",
             [](ZorvaniDriver& d) {
                 UserCoefficient user;
                 bool crc = false;
                 return d.readUserCalibrations(&user, &crc) && crc && qAbs(user.percent - 1.25) < 1e-9;
             },
             {header(0xFF12, 16, 0, 0, 1)}},
            {"setNewStaticAddress",
             [](ZorvaniDriver& d) {
                 QHostAddress a(QStringLiteral("10.1.2.3"));
                 return d.setNewStaticAddress(a, 50001);
             },
             {header(0xFF12, 18, 8, 0, 1) + QByteArray::fromHex("0a010203" "51c30000")}},
            {"writeAT45D",
             [](ZorvaniDriver& d) {
                 QByteArray p = page;
                 QByteArray shorter(1055, 'x');
                 return d.writeAT45D(p, 7) && !d.writeAT45D(shorter, 7);
             },
             {header(0xFF12, 19, 1056, 7, 1) + page}},
            {"information",
             [](ZorvaniDriver& d) {
                 SDR2_HDR info{};
                 return d.information(&info) && std::memcmp(&info, bytes(36, 3).constData(), 36) == 0;
             },
             {header(0xFF12, 26, 0, 0, 1)}},
            {"setLpf", [](ZorvaniDriver& d) { d.setLpf(true); return true; },
             {header(0xFF12, 27, 4, 0, 1) + le<quint32>(1)}},
            {"goToBoot", [](ZorvaniDriver& d) { return d.goToBoot(); },
             {header(0xFF12, 28, 0, 0, 1), header(0xFF11, 5, 0, 0, 1)}},
            {"setPll", [](ZorvaniDriver& d) { d.setPll(false); return true; },
             {header(0xFF12, 29, 4, 0, 1) + le<quint32>(0)}},
            {"setBandScope", [](ZorvaniDriver& d) { d.setBandScope(true, 7000000, 3); return true; },
             {header(0xFF12, 34, 12, 0, 1) + QByteArray::fromHex("01030000") + le<quint64>(70000000)}},
            {"setNetworkMode", [](ZorvaniDriver& d) { return d.setNetworkMode(DhcpServer); },
             {header(0xFF12, 39, 4, 0, 1) + le<quint32>(2)}},
            {"resetZorvani", [](ZorvaniDriver& d) { return d.resetZorvani(); }, {header(0xFF12, 40, 0, 0, 1)}},
            {"setFrontEnd", [](ZorvaniDriver& d) { d.setFrontEnd(0x1234); return true; },
             {header(0xFF12, 41, 4, 0, 1) + le<quint32>(0x1234)}},
            {"frontEnd",
             [](ZorvaniDriver& d) {
                 bool ok = false;
                 return d.frontEnd(ok) == 0x0203 && ok;
             },
             {header(0xFF12, 41, 0, 0, 1)}},
            {"bootErase", [](ZorvaniDriver& d) { return d.bootErase(); }, {header(0xFF11, 1, 0, 0, 0)}},
            {"bootWriteFlash",
             [](ZorvaniDriver& d) {
                 QByteArray c = flash;
                 QByteArray wrong(1000, 'x');
                 return d.bootWriteFlash(c, 4096) && !d.bootWriteFlash(wrong, 0);
             },
             {header(0xFF11, 2, 1024, 4096, 0) + flash}},
            {"bootWriteAT45D",
             [](ZorvaniDriver& d) {
                 QByteArray p = page;
                 return d.bootWriteAT45D(p, 9);
             },
             {header(0xFF11, 3, 1056, 9, 0) + page}},
            {"bootReadSN", [](ZorvaniDriver& d) { return d.bootReadSN(); }, {header(0xFF11, 5, 0, 0, 1)}},
            {"quitFromBoot", [](ZorvaniDriver& d) { return d.quitFromBoot(); },
             {header(0xFF11, 6, 0, 0, 0) + QByteArray(1200, '\0'), header(0xFF12, 26, 0, 0, 1)}},
            {"bootReadAT45D",
             [](ZorvaniDriver& d) {
                 QByteArray out;
                 return d.bootReadAT45D(out, 3) && out == bytes(1056, 9);
             },
             {header(0xFF11, 0x1780, 0, 3, 0)}},
        };

        quint16 port = 51100;
        for (const Case& c : cases) {
            DriverFixture f(port++);
            f.peer->setResponder(healthy);
            QVERIFY2(c.action(*f.driver), c.name);
            // Fire-and-forget requests need a moment to reach the receiver.
            QTRY_VERIFY2_WITH_TIMEOUT(f.peer->log().size() >= c.expected.size(), c.name, 500);
            QTest::qWait(c.expected.isEmpty() ? 100 : 30);
            // A request whose reply came late is re-sent unchanged; count each once.
            QList<QByteArray> log;
            for (const QByteArray& d : f.peer->log())
                if (!log.contains(d))
                    log << d;
            QVERIFY2(log.size() == c.expected.size(),
                     qPrintable(QStringLiteral("%1: %2 datagrams, first %3")
                                    .arg(QLatin1String(c.name))
                                    .arg(log.size())
                                    .arg(QString::fromLatin1(log.value(0).left(24).toHex()))));
            for (int i = 0; i < log.size(); ++i)
                QVERIFY2(log[i] == c.expected[i],
                         qPrintable(QStringLiteral("%1, datagram %2:\n got %3\nwant %4")
                                        .arg(QLatin1String(c.name))
                                        .arg(i)
                                        .arg(QString::fromLatin1(log[i].left(40).toHex()))
                                        .arg(QString::fromLatin1(c.expected[i].left(40).toHex()))));
        }
    }

    void startBlockPerRate_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("receivers");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("39062.5") << 0 << 1 << startBlock({8, 8, 4, 3, 2, 2, 2, 2}, 1, 0);
        QTest::newRow("78125") << 1 << 2 << startBlock({5, 4, 4, 3, 2, 2, 2, 1}, 2, 1);
        QTest::newRow("156250") << 2 << 1 << startBlock({5, 4, 4, 3, 2, 1, 1, 1}, 1, 2);
        QTest::newRow("312500") << 3 << 2 << startBlock({20, 20, 20, 10, 10, 10, 10, 10}, 2, 3);
    }
    void startBlockPerRate()
    {
        QFETCH(int, index);
        QFETCH(int, receivers);
        QFETCH(QByteArray, expected);
        DriverFixture f(quint16(51200 + index));
        f.peer->setResponder(healthy);
        f.driver->setSampleRateId(index);
        f.driver->setSampleRateId(4); // out of range: ignored
        f.driver->setReceivers(receivers);
        QVERIFY(f.driver->Start());
        QCOMPARE(f.peer->log().size(), 1);
        QCOMPARE(f.peer->log().first().size(), 68);
        QCOMPARE(f.peer->log().first().toHex(), expected.toHex());
    }

    void calibrationReadWithBadCrcLeavesRecord()
    {
        DriverFixture f(51210);
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 1, QByteArray(76, char(0xFF)))}; });
        RootCoefficient root;
        root.coefficients[0] = 3.0;
        root.percent = 0.5;
        bool crc = true;
        QVERIFY(f.driver->readRootCalibrations(&root, &crc));
        QVERIFY(!crc);
        QCOMPARE(root.coefficients[0], 3.0);
        QCOMPARE(root.percent, 0.5);
        // A write refused by the receiver (status 0) reports failure.
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 0)}; });
        crc = true;
        UserCoefficient user;
        QVERIFY(!f.driver->wrireUserCalibrations(&user, &crc));
        QVERIFY(!crc);
    }

    void bandScopeDecimationChangeIsReported()
    {
        ZorvaniDriver driver(nullptr, nullptr);
        QSignalSpy changed(&driver, &ZorvaniDriver::bandScopeDecimationChanged);
        driver.setBandScope(true, 7000000, 0); // the decimation a new driver assumes
        QCOMPARE(changed.count(), 0);
        driver.setBandScope(true, 7000000, 3);
        driver.setBandScope(false, 7100000, 3);
        QCOMPARE(changed.count(), 1);
    }

    void fpgaImageIsSentInChunks_data()
    {
        QTest::addColumn<int>("imageSize");
        QTest::addColumn<QList<int>>("chunks");
        QTest::newRow("2 x 1024 + 100") << 2148 << QList<int>{1024, 1024, 100};
        QTest::newRow("exactly 2 x 1024") << 2048 << QList<int>{1024, 1024};
        QTest::newRow("empty image") << 0 << QList<int>{};
    }
    void fpgaImageIsSentInChunks()
    {
        QFETCH(int, imageSize);
        QFETCH(QList<int>, chunks);
        QTemporaryFile file;
        QVERIFY(file.open());
        const QByteArray image = bytes(imageSize, 5);
        file.write(QByteArray(1056, 'H') + image);
        file.close();
        DriverFixture f(51220);
        f.driver->setFpgaImagePath(file.fileName());
        f.peer->setResponder(healthy);
        QSignalSpy loading(f.driver.get(), &ZorvaniDriver::fpgaLoading);
        QVERIFY(f.driver->fastLoadFpga());
        QCOMPARE(loading.count(), 2);
        QVERIFY(loading[0][0].toBool() && !loading[1][0].toBool());
        const QList<QByteArray> sent = f.peer->requests(10);
        QCOMPARE(sent.size(), chunks.size());
        int offset = 0;
        for (int i = 0; i < sent.size(); ++i) {
            QCOMPARE(qFromLittleEndian<quint32>(sent[i].constData() + 6), quint32(offset));
            QCOMPARE(sent[i].mid(18), image.mid(offset, chunks[i]));
            offset += 1024;
        }
    }

    void fpgaLoadRestartsAfterAFailedChunk()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(QByteArray(1056, 'H') + bytes(3000, 6));
        file.close();
        DriverFixture f(51221);
        f.driver->setFpgaImagePath(file.fileName());
        int lost = 0;
        f.peer->setResponder([&](const QByteArray& r) {
            // The first five transmissions of the chunk at 1024 go unanswered.
            if (qFromLittleEndian<quint32>(r.constData() + 6) == 1024 && lost < 5) {
                ++lost;
                return QList<QByteArray>{};
            }
            return healthy(r);
        });
        QVERIFY(f.driver->fastLoadFpga());
        QList<quint32> offsets;
        for (const QByteArray& d : f.peer->requests(10))
            offsets << qFromLittleEndian<quint32>(d.constData() + 6);
        QCOMPARE(offsets, (QList<quint32>{0, 1024, 1024, 1024, 1024, 1024, 0, 1024, 2048}));
    }

    void fpgaLoadGivesUpAfterThreeAttempts()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(QByteArray(1056, 'H') + bytes(10, 6));
        file.close();
        DriverFixture f(51222);
        f.driver->setFpgaImagePath(file.fileName());
        f.peer->setResponder([](const QByteArray& r) { return QList<QByteArray>{TestPeer::reply(r, 0)}; });
        ox::ui::MessageRequest seen;
        ox::ui::setMessageHandler([&](const ox::ui::MessageRequest& r) {
            seen = r;
            return QMessageBox::Ok;
        });
        QSignalSpy ended(f.driver.get(), &ZorvaniDriver::endInitFirmware);
        QSignalSpy loading(f.driver.get(), &ZorvaniDriver::fpgaLoading);
        QVERIFY(!f.driver->fastLoadFpga());
        QCOMPARE(ended.count(), 1);
        QCOMPARE(loading.count(), 2);
        QVERIFY(loading[0][0].toBool() && !loading[1][0].toBool());
        QCOMPARE(seen.title, QStringLiteral("Velmora2"));
        QCOMPARE(seen.text, QStringLiteral("Initialization failure"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(f.peer->requests(10).size(), 3);
        f.driver->setFpgaImagePath(QStringLiteral("/nonexistent/image.fpg"));
        QVERIFY(!f.driver->fastLoadFpga());
        QCOMPARE(ended.count(), 1);
        QCOMPARE(loading.count(), 4);
        QCOMPARE(loading.last().first().toBool(), false);
    }
};

QTEST_MAIN(TestDriverCommands)
#include "tst_drivercommands.moc"
