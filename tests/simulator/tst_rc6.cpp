#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"

#include <QtTest>

#include <cstring>

// The key schedule of the published RC6 description, written independently of
// the cipher so that known answers can be checked for any key.
namespace {

quint32 rotl(quint32 x, quint32 n)
{
    n &= 31u;
    return n ? (x << n) | (x >> (32 - n)) : x;
}

void expandKey(const QByteArray& key, quint32 s[44])
{
    const int c = std::max(1, int(key.size() + 3) / 4);
    quint32 l[8] = {};
    for (int i = key.size() - 1; i >= 0; --i)
        l[i / 4] = (l[i / 4] << 8) + quint8(key[i]);
    s[0] = 0xB7E15163u;
    for (int i = 1; i < 44; ++i)
        s[i] = s[i - 1] + 0x9E3779B9u;
    quint32 a = 0, b = 0;
    int i = 0, j = 0;
    for (int k = 0; k < 3 * std::max(c, 44); ++k) {
        a = s[i] = rotl(s[i] + a + b, 3);
        b = l[j] = rotl(l[j] + a + b, a + b);
        i = (i + 1) % 44;
        j = (j + 1) % c;
    }
}

QByteArray encrypt(const quint32 key[44], const QByteArray& plain)
{
    QByteArray out(16, '\0');
    zorvani::rc6::encryptBlock(key, reinterpret_cast<const quint8*>(plain.constData()),
                               reinterpret_cast<quint8*>(out.data()));
    return out;
}

QByteArray decrypt(const quint32 key[44], const QByteArray& cipher)
{
    QByteArray out(16, '\0');
    zorvani::rc6::decryptBlock(key, reinterpret_cast<const quint8*>(cipher.constData()),
                               reinterpret_cast<quint8*>(out.data()));
    return out;
}

} // namespace

class TestRc6 : public QObject {
    Q_OBJECT
private slots:
    void knownAnswers_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("plain");
        QTest::addColumn<QByteArray>("cipher");
        // Test vectors of the RC6 proposal (128-bit keys).
        QTest::newRow("zero key") << QByteArray(16, '\0') << QByteArray(16, '\0')
                                  << QByteArray::fromHex("8fc3a53656b1f778c129df4e9848a41e");
        QTest::newRow("counting key") << QByteArray::fromHex("0123456789abcdef0112233445566778")
                                      << QByteArray::fromHex("02132435465768798a9bacbdcedfe0f1")
                                      << QByteArray::fromHex("524e192f4715c6231f51f6367ea43f18");
    }
    void knownAnswers()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, plain);
        QFETCH(QByteArray, cipher);
        quint32 s[44];
        expandKey(key, s);
        QCOMPARE(encrypt(s, plain).toHex(), cipher.toHex());
        QCOMPARE(decrypt(s, cipher).toHex(), plain.toHex());
    }

    void sharedTableIsTheProjectKeyExpanded()
    {
        quint32 s[44];
        expandKey(QByteArray(reinterpret_cast<const char*>(zorvani::rc6::kProjectKey), 16), s);
        for (int i = 0; i < 44; ++i)
            QVERIFY2(s[i] == zorvani::rc6::kExpandedKey[i], qPrintable(QStringLiteral("word %1").arg(i)));
    }

    void roundTripUnderSharedKey()
    {
        QRandomGenerator rng(1234);
        for (int n = 0; n < 200; ++n) {
            quint8 plain[16], cipher[16], back[16];
            for (auto& b : plain)
                b = quint8(rng.generate());
            rc6EncryptBlock(plain, cipher);
            QVERIFY2(std::memcmp(plain, cipher, 16) != 0, "cipher equals plain text");
            rc6DecryptBlock(cipher, back);
            QVERIFY2(std::memcmp(plain, back, 16) == 0, "decryption does not restore the block");
        }
        // In place.
        quint8 block[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        const QByteArray original(reinterpret_cast<const char*>(block), 16);
        rc6EncryptBlock(block, block);
        rc6DecryptBlock(block, block);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(block), 16), original);
    }

    void chunkIsSixtyFourIndependentBlocks()
    {
        QByteArray plain(1024, '\0');
        for (int i = 0; i < plain.size(); ++i)
            plain[i] = char(i * 7 + (i >> 4));
        // Blocks 3 and 40 equal: no chaining means equal cipher blocks.
        plain.replace(40 * 16, 16, plain.mid(3 * 16, 16));
        QByteArray cipher(1024, '\0');
        rc6EncryptChunk(reinterpret_cast<const quint8*>(plain.constData()), reinterpret_cast<quint8*>(cipher.data()));
        for (int b = 0; b < 64; ++b) {
            quint8 one[16];
            rc6EncryptBlock(reinterpret_cast<const quint8*>(plain.constData()) + 16 * b, one);
            QVERIFY2(std::memcmp(one, cipher.constData() + 16 * b, 16) == 0, qPrintable(QString::number(b)));
        }
        QCOMPARE(cipher.mid(40 * 16, 16), cipher.mid(3 * 16, 16));
        QByteArray back(1024, '\0');
        rc6DecryptChunk(reinterpret_cast<const quint8*>(cipher.constData()), reinterpret_cast<quint8*>(back.data()));
        QCOMPARE(back, plain);
    }
};

QTEST_APPLESS_MAIN(TestRc6)
#include "tst_rc6.moc"
