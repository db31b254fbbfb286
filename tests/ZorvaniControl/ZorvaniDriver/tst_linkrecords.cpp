// Band-scope assembly, CRC-32, calibration blocks and the information text.
#include "ZorvaniControl/ZorvaniDriver/BandScopeAssembler.h"
#include "ZorvaniControl/ZorvaniDriver/Calibration.h"
#include "ZorvaniControl/ZorvaniDriver/Crc32.h"
#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"

#include <QtEndian>
#include <QtTest>

#include <cstring>

namespace {
// A fragment whose sample j carries I = 100 * fragment + j % 50, Q = -(j + 1).
QByteArray fragment(int number, int size = 1034)
{
    QByteArray f(size, '\0');
    qToLittleEndian<quint16>(0xFF12, f.data());
    qToLittleEndian<quint16>(0xFFFC, f.data() + 2);
    qToLittleEndian<quint16>(quint16(number), f.data() + 6);
    for (int j = 0; j < 256 && 10 + 4 * j + 4 <= size; ++j) {
        qToLittleEndian<qint16>(qint16(100 * number + j % 50), f.data() + 10 + 4 * j);
        qToLittleEndian<qint16>(qint16(-(j + 1)), f.data() + 12 + 4 * j);
    }
    return f;
}

// Bitwise CRC-32 written independently of the table version.
quint32 referenceCrc(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}
} // namespace

class TestLinkRecords : public QObject {
    Q_OBJECT
private slots:
    void bandScopeFullFrame()
    {
        BandScopeAssembler a;
        for (int k = 0; k < 15; ++k)
            QCOMPARE(a.add(fragment(k).constData(), 1034, 1.0, false), 0);
        QCOMPARE(a.add(fragment(15).constData(), 1034, 2.0, false), 4096);
        // Sample 256 * k + j: I = (100 k + j % 50) / 32767 * 0.1 * scale.
        for (int k : {0, 7, 15})
            for (int j : {0, 49, 255}) {
                const auto s = a.frame()[256 * k + j];
                QCOMPARE(s.re, (100.0 * k + j % 50) / 32767.0 * 0.2);
                QCOMPARE(s.im, -(j + 1) / 32767.0 * 0.2);
            }
    }

    void bandScopeMissingFragmentShortensFrame()
    {
        // The frame is delivered at fragment 15 with fragments 0..2 only.
        BandScopeAssembler b;
        int delivered = 0;
        for (int k = 0; k < 16; ++k)
            if (k != 3)
                delivered = b.add(fragment(k).constData(), 1034, 1.0, false);
        QCOMPARE(delivered, 768);
        QCOMPARE(b.frame()[767].re, (200.0 + 255 % 50) / 32767.0 * 0.1);
    }

    void bandScopeSwapsInSecondNyquistZone()
    {
        BandScopeAssembler a;
        for (int k = 0; k < 15; ++k)
            a.add(fragment(k).constData(), 1034, 1.0, true);
        QCOMPARE(a.add(fragment(15).constData(), 1034, 1.0, true), 4096);
        QCOMPARE(a.frame()[1].re, -2 / 32767.0 * 0.1);
        QCOMPARE(a.frame()[1].im, 1 / 32767.0 * 0.1);
    }

    void bandScopeIgnoresShortAndForeignFragments()
    {
        BandScopeAssembler a;
        a.add(fragment(0).constData(), 1034, 1.0, false);
        QCOMPARE(a.add(fragment(1, 1033).constData(), 1033, 1.0, false), 0);
        QCOMPARE(a.add(fragment(16).constData(), 1034, 1.0, false), 0);
        for (int k = 1; k < 15; ++k)
            a.add(fragment(k).constData(), 1034, 1.0, false);
        QCOMPARE(a.add(fragment(15).constData(), 1034, 1.0, false), 4096);
        // Without fragment 0 nothing accumulates and fragment 15 delivers nothing.
        BandScopeAssembler b;
        for (int k = 1; k < 16; ++k)
            QCOMPARE(b.add(fragment(k).constData(), 1034, 1.0, false), 0);
    }

    void crc32MatchesReference_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<quint32>("expected");
        QTest::newRow("check string") << QByteArray("123456789") << 0xCBF43926u;
        QTest::newRow("empty") << QByteArray() << 0u;
        QByteArray noise(1024, '\0');
        quint32 x = 12345;
        for (char& c : noise) {
            x = x * 1103515245u + 12345u;
            c = char(x >> 16);
        }
        QTest::newRow("1024 pseudo-random") << noise << referenceCrc(noise);
        QTest::newRow("ones") << QByteArray(72, char(0xFF)) << referenceCrc(QByteArray(72, char(0xFF)));
    }
    void crc32MatchesReference()
    {
        QFETCH(QByteArray, data);
        QFETCH(quint32, expected);
        QCOMPARE(crc32(data.constData(), data.size()), expected);
    }

    void calibrationBlockLayout_data()
    {
        QTest::addColumn<double>("percent");
        QTest::addColumn<double>("factor");
        QTest::newRow("zero") << 0.0 << 1.0;
        QTest::newRow("minus 2.5") << -2.5 << 0.975;
        QTest::newRow("1.25") << 1.25 << 1.0125;
    }
    void calibrationBlockLayout()
    {
        QFETCH(double, percent);
        QFETCH(double, factor);
        QByteArray d(94, '\0');
        const double coefficients[8] = {27.6, 9.9, 0, 0, 0, 0, 0, -1.5};
        zorvani::calibration::writeBlock(d, coefficients, percent);
        QCOMPARE(qFromLittleEndian<double>(d.constData() + 22), 27.6);
        QCOMPARE(qFromLittleEndian<double>(d.constData() + 22 + 56), -1.5);
        QCOMPARE(qFromLittleEndian<double>(d.constData() + 86), factor);
        QCOMPARE(qFromLittleEndian<quint32>(d.constData() + 18), ~referenceCrc(d.mid(22, 72)));

        double read[8] = {};
        double p = 99.0;
        QVERIFY(zorvani::calibration::readBlock(d, read, &p));
        QVERIFY(qAbs(p - percent) < 1e-12);
        QCOMPARE(read[1], 9.9);
    }

    void calibrationCrcCoversFactor()
    {
        QByteArray a(94, '\0');
        QByteArray b(94, '\0');
        zorvani::calibration::writeBlock(a, nullptr, 0.5);
        zorvani::calibration::writeBlock(b, nullptr, 0.25);
        QVERIFY(qFromLittleEndian<quint32>(a.constData() + 18) != qFromLittleEndian<quint32>(b.constData() + 18));
        for (int i = 22; i < 86; ++i)
            QCOMPARE(a[i], '\0');
    }

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
        QTest::addColumn<QString>("expected");
        const QString head = QStringLiteral("S/N: OXD010a1b00123\nVersion: 11.3\nPCB revision: 4\n");
        QTest::newRow("status 0") << 0u << quint16(2) << QStringLiteral("SDR type: ZorvaniDDC\n") + head + "PLL: NO";
        QTest::newRow("pll and internal") << (0x1u | 0x800u) << quint16(2)
                                          << QStringLiteral("SDR type: ZorvaniDDC\n") + head +
                                                 "PLL: OK\n\tReference mode: Internal\n\tInternal reference: NO\n"
                                                 "\tExternal reference: NO\n\tPLL1 Lock: NO\n\tPLL2 Lock: NO\n"
                                                 "\tPLL2 REF clock: NO\n\tPLL2 FB  clock: NO\n\tVCXO status: NO\n";
        QTest::newRow("all set, unknown type") << 0xFFFFFFFFu << quint16(3)
                                               << QStringLiteral("SDR type: unknown\n") + head +
                                                      "PLL: OK\n\tReference mode: Internal\n\tInternal reference: OK\n"
                                                      "\tExternal reference: OK\n\tPLL1 Lock: OK\n\tPLL2 Lock: OK\n"
                                                      "\tPLL2 REF clock: OK\n\tPLL2 FB  clock: OK\n\tVCXO status: OK\n";
        QTest::newRow("external, locks") << (0x1u | 0x2u | 0x4u | 0x8u | 0x40u) << quint16(2)
                                         << QStringLiteral("SDR type: ZorvaniDDC\n") + head +
                                                "PLL: OK\n\tReference mode: External\n\tInternal reference: NO\n"
                                                "\tExternal reference: OK\n\tPLL1 Lock: OK\n\tPLL2 Lock: OK\n"
                                                "\tPLL2 REF clock: NO\n\tPLL2 FB  clock: NO\n\tVCXO status: OK\n";
        QTest::newRow("bits without pll") << 0xFFFEu << quint16(2)
                                          << QStringLiteral("SDR type: ZorvaniDDC\n") + head + "PLL: NO";
    }
    void informationText()
    {
        QFETCH(quint32, status);
        QFETCH(quint16, type);
        QFETCH(QString, expected);
        // The record as it arrives on the wire.
        QByteArray wire(36, '\0');
        qToLittleEndian<quint16>(type, wire.data() + 2);
        qToLittleEndian<quint16>(11, wire.data() + 4);
        qToLittleEndian<quint16>(3, wire.data() + 6);
        qToLittleEndian<quint32>(123, wire.data() + 20);
        wire[24] = 0x0A;
        wire[25] = 0x1B;
        qToLittleEndian<quint32>(status, wire.data() + 28);
        qToLittleEndian<quint32>(4, wire.data() + 32);
        SDR2_HDR record;
        std::memcpy(&record, wire.constData(), sizeof record);
        QCOMPARE(::informationText(record), expected);
    }
};

QTEST_GUILESS_MAIN(TestLinkRecords)
#include "tst_linkrecords.moc"
