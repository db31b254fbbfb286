// The link against the receiver emulator on loopback: open, start at every
// rate, stream, stop and close without lost answers; the watchdog on a stall.
#include "Simulator.h"
#include "SimulatorReceiver.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "common/MessageBox.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

using zorvani::sim::Config;
using zorvani::sim::Simulator;
using zorvani::sim::receiverRecord;

class TestLinkEmulator : public QObject {
    Q_OBJECT
private slots:
    void init() { ox::ui::setMessageHandler([](const ox::ui::MessageRequest&) { return QMessageBox::No; }); }
    void cleanup() { ox::ui::setMessageHandler({}); }

    void streamAtEveryRate_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("audio");
        QTest::newRow("39062.5, acknowledges") << 0 << false;
        QTest::newRow("78125, audio") << 1 << true;
        QTest::newRow("156250, acknowledges") << 2 << false;
        QTest::newRow("312500, audio") << 3 << true;
    }
    void streamAtEveryRate()
    {
        QFETCH(int, index);
        QFETCH(bool, audio);
        Config c;
        c.port = quint16(52200 + index);
        Simulator sim(c);
        QVERIFY(sim.start());

        ZorvaniDriver driver(nullptr, nullptr);
        std::atomic<int> blocks{0};
        std::atomic<int> wrongReceiver{0};
        driver.device()->stream().setBlockEntry(
            [&](IqStream::Sample* in, IqStream::Sample* out, quint32 rx) {
                ++blocks;
                if (rx != 0)
                    ++wrongReceiver;
                if (!audio)
                    return false;
                for (int i = 0; i < 200; ++i)
                    out[i] = IqStream::Sample{in[i].re * 0.5, in[i].im * 0.5};
                return true;
            });
        QVERIFY(driver.open(receiverRecord(sim)));
        driver.setSampleRateId(index);
        SDR2_HDR info{};
        QVERIFY(driver.information(&info));
        QCOMPARE(info.versionMajor, quint16(11));
        QVERIFY(driver.Start());
        QVERIFY(sim.waitUntil([&] { return sim.state().streaming; }, 1000));
        QCOMPARE(sim.state().rateIndex, index);

        // Two seconds of stream at the receiver's own pace.
        const double packetsPerSecond = 39062.5 * (1 << index) / 200.0;
        QTRY_VERIFY_WITH_TIMEOUT(blocks.load() >= int(packetsPerSecond * 2), 6000);
        QVERIFY(driver.Stop());
        QVERIFY(sim.waitUntil([&] { return !sim.state().streaming; }, 1000));
        driver.close();

        const auto counters = sim.counters();
        QVERIFY2(counters.iqSent > 0, "no IQ packets");
        QCOMPARE(counters.iqAnswersUnknown, quint64(0));
        // Every packet but the one in flight at the stop was answered.
        QVERIFY2(counters.iqAnswered + 1 >= counters.iqSent,
                 qPrintable(QStringLiteral("%1 of %2 answered").arg(counters.iqAnswered).arg(counters.iqSent)));
        QCOMPARE(wrongReceiver.load(), 0);
        if (audio)
            QVERIFY(counters.iqAnswersFull + 1 >= counters.iqSent);
        else
            QCOMPARE(counters.iqAnswersFull, quint64(0));
    }

    void commandsReachTheEmulator()
    {
        Config c;
        c.port = 52213;
        Simulator sim(c);
        QVERIFY(sim.start());
        ZorvaniDriver driver(nullptr, nullptr);
        QVERIFY(driver.open(receiverRecord(sim)));
        driver.setFreq(0, 1e9);
        driver.setFreq(1, 7074000.0);
        driver.setFreq(2, 5e6);
        driver.setPreamp(3);
        driver.setLpf(true);
        driver.setPll(true);
        driver.setExtCtrl(0x2A);
        driver.setFrontEnd(0x0123);
        driver.setBandScope(true, 14000000, 2);
        QVERIFY(sim.waitUntil([&] { return sim.state().bandScope.enable; }, 1000));
        const auto st = sim.state();
        QCOMPARE(st.freq[0], quint64(8000000000ull));
        QCOMPARE(st.freq[1], quint64(70740000));
        QVERIFY(st.preamp && st.lpf && st.pll);
        QCOMPARE(st.extCtrl, 0x2Au);
        QCOMPARE(st.frontEnd, 0x0123u);
        QCOMPARE(st.bandScope.decimation, quint8(2));
        QCOMPARE(st.bandScope.centre, quint64(140000000));
        QCOMPARE(sim.commands(8).size(), 2);
        // The log holds the exact datagram.
        QByteArray freq(26, '\0');
        qToLittleEndian<quint16>(0xFF12, freq.data());
        qToLittleEndian<quint16>(8, freq.data() + 2);
        qToLittleEndian<quint16>(8, freq.data() + 4);
        qToLittleEndian<quint32>(1, freq.data() + 6);
        qToLittleEndian<quint32>(1, freq.data() + 10);
        qToLittleEndian<quint64>(70740000, freq.data() + 18);
        QCOMPARE(sim.commands(8).last().bytes.toHex(), freq.toHex());

        // The read shares its code with the write: let late replies to the
        // write pass first, or one of them would answer the read.
        QTRY_COMPARE_WITH_TIMEOUT(driver.queuedItems(), 0, 1000);
        QTest::qWait(100);
        bool ok = false;
        QCOMPARE(driver.frontEnd(ok), quint16(0x0123));
        QVERIFY(ok);
        QHostAddress address(QStringLiteral("10.1.2.3"));
        QVERIFY(driver.setNewStaticAddress(address, 50001));
        QVERIFY(driver.setNetworkMode(StaticIp));
        QCOMPARE(sim.state().staticAddress, address);
        QCOMPARE(sim.state().staticPort, quint16(50001));
        QCOMPARE(sim.state().networkMode, quint32(StaticIp));

        RootCoefficient root;
        root.coefficients[0] = 27.6;
        root.coefficients[1] = 9.9;
        root.percent = 0.125;
        bool crc = false;
        QVERIFY(driver.wrireRootCalibrations(&root, &crc));
        QVERIFY(crc);
        RootCoefficient back;
        QVERIFY(driver.readRootCalibrations(&back, &crc));
        QVERIFY(crc);
        QCOMPARE(back.coefficients[0], 27.6);
        QCOMPARE(back.coefficients[1], 9.9);
        QVERIFY(qAbs(back.percent - 0.125) < 1e-9);
        UserCoefficient user;
        crc = true;
        QVERIFY(driver.readUserCalibrations(&user, &crc));
        QVERIFY2(!crc, "a never-written user block has no valid CRC");

        QByteArray page(1056, '\0');
        for (int i = 0; i < page.size(); ++i)
            page[i] = char(i * 13);
        QVERIFY(driver.writeAT45D(page, 5));
        QCOMPARE(sim.dataFlashPage(5), page);
    }

    void fpgaImageLoadsIntoTheEmulator()
    {
        Config c;
        c.port = 52214;
        Simulator sim(c);
        QVERIFY(sim.start());
        ZorvaniDriver driver(nullptr, nullptr);
        QVERIFY(driver.open(receiverRecord(sim)));
        Q_INIT_RESOURCE(zorvani);
        QFile resource(QStringLiteral(":/Zorvani/ZorvaniFPGA.fpg"));
        QVERIFY(resource.open(QIODevice::ReadOnly));
        const QByteArray image = resource.readAll().mid(1056);
        QVERIFY(driver.fastLoadFpga());
        QVERIFY(!image.isEmpty());
        QCOMPARE(sim.fpgaImage().size(), image.size());
        QVERIFY(sim.fpgaImage() == image);
    }

    void commandsPassAStreamThatNeverPauses()
    {
        Config c;
        c.port = 52215;
        c.paced = false; // the next packet as soon as the previous is answered
        c.fastWindow = 8;
        Simulator sim(c);
        QVERIFY(sim.start());
        ZorvaniDriver driver(nullptr, nullptr);
        driver.device()->stream().setBlockEntry([](IqStream::Sample*, IqStream::Sample*, quint32) {
            // An engine entry that takes its time keeps the socket busy.
            QElapsedTimer t;
            t.start();
            while (t.nsecsElapsed() < 30000) {
            }
            return false;
        });
        QVERIFY(driver.open(receiverRecord(sim)));
        QVERIFY(driver.Start());
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().iqAnswered > 500, 5000);
        for (int i = 0; i < 10; ++i) {
            driver.setFreq(0, 1000000.0 + i);
            QVERIFY2(sim.waitForCommand(8, 10000, i + 1), qPrintable(QStringLiteral("setFreq %1 never arrived").arg(i)));
        }
        SDR2_HDR info{};
        QVERIFY(driver.information(&info));
        // (A close that waited for the stream to pause would never return.)
        driver.close();
        QVERIFY(!driver.isOpen());
    }

    void watchdogAfterIqStall()
    {
        Config c;
        c.port = 52210;
        Simulator sim(c);
        QVERIFY(sim.start());
        ZorvaniDriver driver(nullptr, nullptr);
        QSignalSpy stop(&driver, &ZorvaniDriver::forceStop);
        QVERIFY(driver.open(receiverRecord(sim)));
        QVERIFY(driver.Start());
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().iqAnswered > 50, 10000);
        QCOMPARE(stop.count(), 0);
        sim.setIqStall(true);
        QTRY_COMPARE_WITH_TIMEOUT(stop.count(), 1, 15000);
        QVERIFY(driver.device()->wait(1000));
        driver.close();
        QVERIFY(!driver.isOpen());
    }

    void startAskingForFirmwareUpdate()
    {
        Config c;
        c.port = 52211;
        Simulator sim(c);
        QVERIFY(sim.start());
        sim.setStartStatus(2);
        ZorvaniDriver driver(nullptr, nullptr);
        QSignalSpy stop(&driver, &ZorvaniDriver::forceStop);
        QVERIFY(driver.open(receiverRecord(sim)));
        QVERIFY(!driver.Start());
        QCOMPARE(stop.count(), 1);
        QVERIFY(!driver.isStart());
        QVERIFY(sim.waitForCommand(2, 1000));
    }

    void junkFromTheReceiverIsHarmless()
    {
        Config c;
        c.port = 52212;
        Simulator sim(c);
        QVERIFY(sim.start());
        ZorvaniDriver driver(nullptr, nullptr);
        QVERIFY(driver.open(receiverRecord(sim)));
        QVERIFY(driver.information(nullptr));
        using Junk = Simulator::Junk;
        for (int i = 0; i < 500; ++i)
            for (Junk j : {Junk::ShortIq, Junk::ShortReply, Junk::ShortFragment, Junk::Foreign, Junk::Random})
                sim.sendJunk(j);
        QTest::qWait(200);
        QTRY_COMPARE_WITH_TIMEOUT(driver.device()->replies().count(), 0, 3000);
        QTest::qWait(100);
        QVERIFY(driver.Start());
        QTRY_VERIFY_WITH_TIMEOUT(sim.counters().iqAnswered > 20, 3000);
        QVERIFY(driver.Stop());
    }
};

QTEST_MAIN(TestLinkEmulator)
#include "tst_linkemulator.moc"
