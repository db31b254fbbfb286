// The exact datagrams of the driver's commands and what it makes of the
// replies: band-scope fragments and calibration blocks.
#include "BoxScript.h"
#include "DriverFixture.h"
#include "ZorvaniControl/ZorvaniDriver/BandScopeAssembler.h"
#include "ZorvaniControl/ZorvaniDriver/Calibration.h"

#include <QtTest>

#include <cmath>
#include <numeric>

namespace {
QByteArray bytes(int n, int seed)
{
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 31 + seed) & 0xFF);
    return b;
}

// Answers like a healthy receiver: status 1 to application commands (an FPGA
// chunk echoed), 0 to bootloader ones, with the data-flash page a read expects.
QList<QByteArray> healthy(const QByteArray& r)
{
    if (qFromLittleEndian<quint16>(r.constData()) == 0xFF11)
        return {TestPeer::reply(r, 0, commandOf(r) == 0x1780 ? bytes(1056, 9) : QByteArray())};
    return {TestPeer::reply(r, 1, commandOf(r) == 10 ? r.mid(18) : QByteArray())};
}

// The start block at a rate index, with the emulator's table of rate parameters.
QByteArray startBlock(int rate, quint16 receivers)
{
    QByteArray d;
    for (quint32 v : proto::kRateParams[size_t(rate)])
        d += le<quint32>(v);
    d += le<quint32>(0) + le<quint16>(receivers) + le<quint16>(quint16(rate)) + le<quint16>(quint16(rate));
    return proto::packet(0xFF12, 1, 0, 1, d + QByteArray(8, '\0'));
}

// A fragment whose sample j carries I = 100 * fragment + j % 50, Q = -(j + 1).
QByteArray fragment(int number, int size = 1034)
{
    QByteArray f = le<quint16>(0xFF12) + le<quint16>(0xFFFC) + le<quint16>(0) + le(quint16(number)) + le<quint16>(0);
    for (int j = 0; j < 256; ++j)
        f += le(qint16(100 * number + j % 50)) + le(qint16(-(j + 1)));
    return f.left(size);
}
using Action = std::function<bool(ZorvaniDriver&)>;
// The FPGA image (-1 bytes: no such file), transmissions of the chunk at 1024 left unanswered, every chunk refused.
struct Fpga { int imageSize, lost; bool refused; QList<quint32> offsets; };
} // namespace
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Fpga)
// A command sent without waiting: the row's action always succeeds.
#define SEND(call) [](ZorvaniDriver& d) { d.call; return true; }

class TestReceiverCommands : public QObject {
    Q_OBJECT
    quint16 m_port = 51100; // a fresh one per row
    ScriptedBoxes m_boxes;
private slots:
    void init() { m_boxes.clear(); }

    // The action (which must return true) and the datagrams the receiver must see, in order. (The commands
    // whose effect the emulator shows are checked against it: tst_panel, tst_calibrationactions, tst_firmwarewriter.)
    void requestBytes_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QList<QByteArray>>("expected");
        static const QByteArray fpgaChunk = bytes(300, 1), page = bytes(1056, 4);
        const auto row = [](const char* name, Action a, QList<QByteArray> expected) { QTest::newRow(name) << a << expected; };
        row("Start and Stop", [](ZorvaniDriver& d) { return d.Start() && d.Stop(); },
            {startBlock(0, 1), proto::packet(0xFF12, 2, 0, 1, le<quint32>(0))});
        // The start block of each rate; an index out of range is ignored.
        const auto start = [](int rate, int receivers) {
            return [=](ZorvaniDriver& d) { d.setSampleRateId(rate); d.setSampleRateId(4); d.setReceivers(receivers); return d.Start(); };
        };
        row("Start at 78125", start(1, 2), {startBlock(1, 2)});
        row("Start at 156250", start(2, 1), {startBlock(2, 1)});
        row("Start at 312500", start(3, 2), {startBlock(3, 2)});
        row("setFreq 1 GHz clamped", SEND(setFreq(0, 1e9)), {proto::packet(0xFF12, 8, 0, 1, le<quint64>(8000000000ull))});
        row("setFreq channel 2 not sent", SEND(setFreq(2, 1e6)), {});
        row("setFreq negative", SEND(setFreq(0, -3.0)), {proto::packet(0xFF12, 8, 0, 1, le<quint64>(0))});
        row("writeFPGA", [](ZorvaniDriver& d) { QByteArray c = fpgaChunk; return d.writeFPGA(c, 2048) && c == fpgaChunk; },
            {proto::packet(0xFF12, 10, 2048, 1, fpgaChunk, proto::crc32(fpgaChunk))});
        row("writeFPGA too large", [](ZorvaniDriver& d) { QByteArray c(1025, 'x'); return !d.writeFPGA(c, 0); }, {});
        row("writeAT45D", [](ZorvaniDriver& d) { QByteArray p = page, shorter(1055, 'x'); return d.writeAT45D(p, 7) && !d.writeAT45D(shorter, 7); },
            {proto::packet(0xFF12, 19, 7, 1, page)});
        row("setPll", SEND(setPll(false)), {proto::packet(0xFF12, 29, 0, 1, le<quint32>(0))});
        row("setBandScope", SEND(setBandScope(true, 7000000, 3)),
            {proto::packet(0xFF12, 34, 0, 1, QByteArray::fromHex("01030000") + le<quint64>(70000000))});
        row("bootWriteAT45D", [](ZorvaniDriver& d) { QByteArray p = page; return d.bootWriteAT45D(p, 9); }, {proto::packet(0xFF11, 3, 9, 0, page)});
        row("bootReadAT45D", [](ZorvaniDriver& d) { QByteArray out; return d.bootReadAT45D(out, 3) && out == bytes(1056, 9); },
            {proto::packet(0xFF11, 0x1780, 3, 0, {})});
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

    // Found receivers: without port or address nothing is added, the same
    // record once, another port is another receiver; sorted by serial, highest first.
    void foundReceivers()
    {
        ZorvaniDriver driver(nullptr, nullptr);
        for (const auto& [address, port] : {std::pair{"10.0.0.1", 0}, {"0.0.0.0", 5}, {"10.0.0.1", 5}, {"10.0.0.1", 5}, {"10.0.0.1", 6}}) {
            Receiver r = testsupport::receiver(QStringLiteral("OXD01000100001"), QLatin1String(address), quint16(port));
            driver.addNewDevice(r);
        }
        QCOMPARE(driver.foundReceivers().size(), 2);
        QList<Receiver> list;
        for (const char* s : {"OXD01000100001", "OXD01000300001", "OXD01000200001"})
            list << testsupport::receiver(QLatin1String(s), QStringLiteral("1.1.1.1"), 1);
        driver.sortRxList(list);
        QVERIFY(list[0].serial == "OXD01000300001" && list[1].serial == "OXD01000200001" && list[2].serial == "OXD01000100001");
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
        QCOMPARE(m_boxes.texts(), fpga.refused ? QStringList{"Initialization failure"} : QStringList());
        QVERIFY(!fpga.refused || (m_boxes.boxes()[0].title == "Velmora2" && m_boxes.boxes()[0].icon == QMessageBox::Critical));
    }

    // Fragments in arrival order (number, or -number - 1 for one a byte
    // short); fragment 15 delivers what accumulated since fragment 0.
    void bandScopeFrames_data()
    {
        QTest::addColumn<QList<int>>("fragments");
        QTest::addColumn<bool>("mirrored");
        QTest::addColumn<int>("delivered");
        QList<int> all = QVector<int>(16).toList();
        std::iota(all.begin(), all.end(), 0);
        QList<int> noThree = all;
        noThree.removeAt(3);
        QTest::newRow("full frame") << all << false << 4096;
        QTest::newRow("fragment 3 missing: cut short") << noThree << false << 768;
        QTest::newRow("second Nyquist zone: swapped") << all << true << 4096;
        QTest::newRow("short and foreign fragments ignored") << (QList<int>{0, -2, 16} + all.mid(1)) << false << 4096;
        QTest::newRow("without fragment 0 nothing") << all.mid(1) << false << 0;
    }
    void bandScopeFrames()
    {
        QFETCH(QList<int>, fragments);
        QFETCH(bool, mirrored);
        QFETCH(int, delivered);
        BandScopeAssembler a;
        for (int i = 0; i < fragments.size(); ++i) {
            const int k = fragments[i];
            const QByteArray f = k < 0 ? fragment(-k - 1, 1033) : fragment(k);
            QCOMPARE(a.add(f.constData(), f.size(), 2.0, mirrored), i + 1 < fragments.size() ? 0 : delivered);
        }
        // Sample 256 k + j: I = (100 k + j % 50) / 32767 * 0.1 * scale.
        for (int n : {0, 1, 49, 767, 7 * 256 + 255, 4095})
            if (n < delivered) {
                const double re = (100.0 * (n / 256) + (n % 256) % 50) / 32767.0 * 0.2, im = -(n % 256 + 1) / 32767.0 * 0.2;
                QCOMPARE(a.frame()[n].re, mirrored ? im : re);
                QCOMPARE(a.frame()[n].im, mirrored ? re : im);
            }
    }

    // An erased or short block is refused and leaves the value alone; erased memory with a matching CRC
    // passes, as NaN. (The layout against the emulator's own encoder: tst_calibrationactions.)
    void calibrationRejectsErasedAndShortBlocks()
    {
        QByteArray erased(94, char(0xFF)), good(94, '\0');
        double p = 7.0;
        QVERIFY(!zorvani::calibration::readBlock(erased, nullptr, &p) && p == 7.0);
        qToLittleEndian<quint32>(~proto::crc32(erased.mid(22, 72)), erased.data() + 18);
        QVERIFY(zorvani::calibration::readBlock(erased, nullptr, &p) && std::isnan(p));
        zorvani::calibration::writeBlock(good, nullptr, 1.0);
        QVERIFY(!zorvani::calibration::readBlock(good.left(93), nullptr, &p) && std::isnan(p));
    }
};

QTEST_MAIN(TestReceiverCommands)
#include "tst_receivercommands.moc"
