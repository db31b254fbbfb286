// The firmware images' cipher, shared with the emulator's bootloader (so no
// system test would see a fault in it): known answers under a key schedule
// written here from the published description, chunks as 64 unchained blocks.
#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"

#include <QtTest>

namespace {

const quint8* bytes(const QByteArray& d) { return reinterpret_cast<const quint8*>(d.constData()); }

quint32 rotl(quint32 x, quint32 n) { return (n &= 31u) ? (x << n) | (x >> (32 - n)) : x; }

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
    for (int k = 0, i = 0, j = 0; k < 3 * std::max(c, 44); ++k, i = (i + 1) % 44, j = (j + 1) % c) {
        a = s[i] = rotl(s[i] + a + b, 3);
        b = l[j] = rotl(l[j] + a + b, a + b);
    }
}

} // namespace

class TestRc6 : public QObject {
    Q_OBJECT
private slots:
    // Test vectors of the RC6 proposal (128-bit keys), and the shared table is the project key expanded.
    void knownAnswers()
    {
        const struct { const char *key, *plain, *cipher; } rows[] = {
            {"00000000000000000000000000000000", "00000000000000000000000000000000",
             "8fc3a53656b1f778c129df4e9848a41e"},
            {"0123456789abcdef0112233445566778", "02132435465768798a9bacbdcedfe0f1",
             "524e192f4715c6231f51f6367ea43f18"}};
        for (const auto& row : rows) {
            quint32 s[44];
            expandKey(QByteArray::fromHex(row.key), s);
            const QByteArray plain = QByteArray::fromHex(row.plain), cipher = QByteArray::fromHex(row.cipher);
            QByteArray out(16, '\0'), back(16, '\0');
            zorvani::rc6::encryptBlock(s, bytes(plain), reinterpret_cast<quint8*>(out.data()));
            zorvani::rc6::decryptBlock(s, bytes(cipher), reinterpret_cast<quint8*>(back.data()));
            QCOMPARE(out.toHex(), cipher.toHex());
            QCOMPARE(back.toHex(), plain.toHex());
        }
        quint32 s[44];
        expandKey(QByteArray(reinterpret_cast<const char*>(zorvani::rc6::kProjectKey), 16), s);
        for (int i = 0; i < 44; ++i)
            QVERIFY2(s[i] == zorvani::rc6::kExpandedKey[i], qPrintable(QStringLiteral("word %1").arg(i)));
    }

    // Under the shared key: every block enciphered alone, and the chunk deciphered back.
    void chunkIsSixtyFourIndependentBlocks()
    {
        QByteArray plain(1024, '\0');
        QRandomGenerator rng(1234);
        for (char& c : plain)
            c = char(rng.generate());
        QByteArray cipher(1024, '\0'), back(1024, '\0');
        rc6EncryptChunk(bytes(plain), reinterpret_cast<quint8*>(cipher.data()));
        for (int b = 0; b < 64; ++b) {
            QByteArray one(16, '\0');
            rc6EncryptBlock(bytes(plain.mid(16 * b, 16)), reinterpret_cast<quint8*>(one.data()));
            QVERIFY2(one == cipher.mid(16 * b, 16) && one != plain.mid(16 * b, 16), qPrintable(QString::number(b)));
        }
        rc6DecryptChunk(bytes(cipher), reinterpret_cast<quint8*>(back.data()));
        QCOMPARE(back, plain);
    }
};

QTEST_APPLESS_MAIN(TestRc6)
#include "tst_rc6.moc"
