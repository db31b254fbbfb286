// Hostile datagrams from the receiver's own address while the stream runs:
// random, truncated, oversized and bit-flipped ones, and malformed forgeries
// of the very reply a command is waiting for (the emulator's forge(), fixed
// seed). Nothing breaks, a waited command completes only with its genuine
// reply, the queues stay bounded, and the stream and the commands go on.
#include "BoxScript.h"
#include "EmulatedLink.h"
#include "TestPorts.h"

#include <QtTest>

#include <cstring>

#include <unistd.h>

using zorvani::sim::Config;

namespace {
constexpr quint64 kForgeries = 150000;
constexpr int kBurst = 60;

// Resident memory of this process, bytes.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    const QList<QByteArray> fields = statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ') : QList<QByteArray>();
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}
} // namespace

class TestLinkFuzz : public QObject {
    Q_OBJECT
    ScriptedBoxes m_boxes; // boxes answered No where offered, else Ok
private slots:
    void hostileDatagramsWhileStreaming()
    {
        Config c;
        c.port = testsupport::processPort(57100, 0), c.logCommands = false;
        EmulatedLink link(c);
        ZorvaniDriver& driver = link.driver;
        QVERIFY(link.start(1));
        SDR2_HDR genuine{};
        QVERIFY(driver.information(&genuine));
        driver.setFrontEnd(0x0123);
        QVERIFY(link.sim.waitUntil([&] { return link.sim.state().frontEnd == 0x0123; }, 2000));
        QTRY_COMPARE_WITH_TIMEOUT(driver.queuedItems(), 0, 2000);
        // Genuine replies to the waited commands come late: forgeries of them come first.
        link.sim.delayReplies(26, 15);
        link.sim.delayReplies(41, 15);

        const int capacity = driver.device()->replies().capacity();
        int peak = 0;
        qint64 residentAfterWarmUp = -1;
        QTimer flood;
        connect(&flood, &QTimer::timeout, this, [&] {
            link.sim.forge(kBurst);
            peak = std::max(peak, driver.device()->replies().count());
            if (residentAfterWarmUp < 0 && link.sim.counters().forged >= kForgeries / 5)
                residentAfterWarmUp = residentBytes();
        });
        flood.start(1);
        int informationOk = 0, frontEndOk = 0;
        QStringList wrong;
        while (link.sim.counters().forged < kForgeries) {
            SDR2_HDR info{};
            if (driver.information(&info)) {
                if (std::memcmp(&info, &genuine, sizeof info) != 0)
                    wrong << QStringLiteral("information record");
                ++informationOk;
            }
            bool ok = false;
            const quint16 frontEnd = driver.frontEnd(ok);
            if (ok) {
                if (frontEnd != 0x0123)
                    wrong << QStringLiteral("front end 0x%1").arg(frontEnd, 0, 16);
                ++frontEndOk;
            }
        }
        flood.stop();
        const auto iq = driver.device()->stream().counters();
        const QString numbers = QStringLiteral("%1 information and %2 front-end reads answered; dropped: %3 datagrams, %4 IQ; "
                                               "reply queue peak %5 of %6")
                                    .arg(informationOk).arg(frontEndOk).arg(driver.device()->malformedDatagrams())
                                    .arg(iq.malformed).arg(peak).arg(capacity);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral(", ")) + QStringLiteral(" taken from a forgery")));
        QVERIFY2(informationOk > 0 && frontEndOk > 0 && peak <= capacity, qPrintable(numbers));
        QVERIFY2(driver.device()->malformedDatagrams() > 0 && iq.malformed > 0, qPrintable(numbers));
#ifndef __SANITIZE_ADDRESS__
        // (AddressSanitizer keeps freed memory in quarantine: no measure there.)
        const qint64 residentAtEnd = residentBytes();
        QVERIFY2(residentAtEnd - residentAfterWarmUp < 32 * 1024 * 1024,
                 qPrintable(QStringLiteral("resident memory grew from %1 to %2 bytes").arg(residentAfterWarmUp).arg(residentAtEnd)));
#endif
        // Afterwards the stream runs and the link answers as before.
        const int blocks = link.blocks();
        QTRY_VERIFY_WITH_TIMEOUT(link.blocks() > blocks + 200, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(driver.queuedItems(), 0, 5000);
        SDR2_HDR after{};
        QVERIFY(driver.information(&after) && std::memcmp(&after, &genuine, sizeof after) == 0);
        QVERIFY(driver.Stop());
        driver.close();
    }
};

QTEST_MAIN(TestLinkFuzz)
#include "tst_linkfuzz.moc"
