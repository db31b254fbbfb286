// Band-scope assembly, calibration blocks read from memory and the information text.
#include "DriverFixture.h"
#include "ZorvaniControl/ZorvaniDriver/BandScopeAssembler.h"
#include "ZorvaniControl/ZorvaniDriver/Calibration.h"
#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"

#include <QtTest>

#include <cmath>
#include <numeric>
#include <cstring>

namespace {
// A fragment whose sample j carries I = 100 * fragment + j % 50, Q = -(j + 1).
QByteArray fragment(int number, int size = 1034)
{
    QByteArray f = le<quint16>(0xFF12) + le<quint16>(0xFFFC) + le<quint16>(0) + le(quint16(number)) + le<quint16>(0);
    for (int j = 0; j < 256; ++j)
        f += le(qint16(100 * number + j % 50)) + le(qint16(-(j + 1)));
    return f.left(size);
}
} // namespace

class TestLinkRecords : public QObject {
    Q_OBJECT
private slots:
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

    // (The block layout is checked byte for byte by the driver's calibration commands.)
    void calibrationRejectsErasedAndShortBlocks()
    {
        QByteArray erased(94, char(0xFF));
        double p = 7.0;
        QVERIFY(!zorvani::calibration::readBlock(erased, nullptr, &p));
        QCOMPARE(p, 7.0);
        // Erased memory with a matching CRC is a valid (if odd) block.
        qToLittleEndian<quint32>(~referenceCrc(erased.mid(22, 72)), erased.data() + 18);
        QVERIFY(zorvani::calibration::readBlock(erased, nullptr, &p));
        QVERIFY(std::isnan(p));
        QByteArray good(94, '\0');
        zorvani::calibration::writeBlock(good, nullptr, 1.0);
        QVERIFY(!zorvani::calibration::readBlock(good.left(93), nullptr, &p));
        QVERIFY(std::isnan(p));
    }

    void informationText_data()
    {
        QTest::addColumn<quint32>("status");
        QTest::addColumn<quint16>("type");
        QTest::addColumn<QString>("pll"); // the text after the PLL line, one letter per detail: O for OK, N for NO
        QTest::newRow("status 0") << 0u << quint16(2) << "";
        QTest::newRow("pll and internal") << (0x1u | 0x800u) << quint16(2) << "Internal NNNNNNN";
        QTest::newRow("all set, unknown type") << 0xFFFFFFFFu << quint16(3) << "Internal OOOOOOO";
        QTest::newRow("external, locks") << (0x1u | 0x2u | 0x4u | 0x8u | 0x40u) << quint16(2) << "External NOOONNO";
        QTest::newRow("bits without pll") << 0xFFFEu << quint16(2) << "";
    }
    void informationText()
    {
        QFETCH(quint32, status);
        QFETCH(quint16, type);
        QFETCH(QString, pll);
        // The record as it arrives on the wire.
        const QByteArray wire = le<quint16>(0) + le(type) + le<quint16>(11) + le<quint16>(3) + QByteArray(12, '\0') + le<quint32>(123) +
                                "\x0A\x1B" + QByteArray(2, '\0') + le(status) + le<quint32>(4);
        SDR2_HDR record;
        QCOMPARE(wire.size(), int(sizeof record));
        std::memcpy(&record, wire.constData(), sizeof record);
        QString expected = QStringLiteral("SDR type: %1\nS/N: OXD010a1b00123\nVersion: 11.3\nPCB revision: 4\nPLL: ")
                               .arg(type == 2 ? "ZorvaniDDC" : "unknown");
        expected += pll.isEmpty() ? "NO" : "OK\n\tReference mode: " + pll.section(' ', 0, 0) + "\n";
        const char* details[] = {"Internal reference", "External reference", "PLL1 Lock", "PLL2 Lock", "PLL2 REF clock", "PLL2 FB  clock", "VCXO status"};
        for (int i = 0; i < 7 && !pll.isEmpty(); ++i)
            expected += QStringLiteral("\t%1: %2\n").arg(details[i], pll.section(' ', 1)[i] == 'O' ? "OK" : "NO");
        QCOMPARE(::informationText(record), expected);
    }
};

QTEST_GUILESS_MAIN(TestLinkRecords)
#include "tst_linkrecords.moc"
