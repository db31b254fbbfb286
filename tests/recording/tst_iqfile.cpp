#include "AllocationCounter.h"
#include "IQRecorderConfigAbstract.h"
#include "common/MessageBox.h"
#include "recording/IQFile.h"
#include "recording/IQRecording.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

using ox::file::IQFile;

namespace {

constexpr int kPacket = IQFile::kPacketBytes;
const QString kApp = QStringLiteral("Velmora2");

class Config : public IQRecorderConfigAbstract {
public:
    Config(int format, QString folder) : m_format(format), m_folder(std::move(folder)) {}
    int format() const override { return m_format; }
    QString folder() const override { return m_folder; }

private:
    int m_format;
    QString m_folder;
};

// Deterministic payload of packet i: its index in the first frame, then
// alternating small values (unchanged by x100) and large ones (saturating).
std::vector<unsigned char> payload(int index)
{
    std::vector<unsigned char> p(kPacket);
    for (int f = 0; f < kPacket / 6; ++f) {
        for (int c = 0; c < 2; ++c) {
            const int n = index * 400 + f * 2 + c;
            int32_t v = (f % 2 == 0) ? (n * 7919) % 160001 - 80000 : (n * 104729) % 16777216 - 8388608;
            if (f == 0)
                v = c == 0 ? index : -index;
            if (f == 3)
                v = c == 0 ? 8388607 : -8388608; // full scale both ways
            unsigned char* b = p.data() + f * 6 + c * 3;
            b[0] = uint8_t(v);
            b[1] = uint8_t(v >> 8);
            b[2] = uint8_t(v >> 16);
        }
    }
    return p;
}

int32_t read24(const unsigned char* b)
{
    return int32_t(uint32_t(b[0]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 24) >> 8;
}

// Expected stored sample: x = v 2^-31 g 2147483392 on the 32-bit word,
// truncated, held within 32 bits, upper three bytes kept.
int32_t scaled(int32_t sample, double gain)
{
    const long double v = (long double)sample * 256.0L;
    long double x = std::trunc(v * gain * 2147483392.0L / 2147483648.0L);
    x = std::max(-2147483648.0L, std::min(2147483647.0L, x));
    return int32_t(std::floor(x / 256.0L));
}

uint32_t u32(const QByteArray& f, int off)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(f.constData() + off));
}
uint16_t u16(const QByteArray& f, int off)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(f.constData() + off));
}
double f64(const QByteArray& f, int off)
{
    const quint64 bits = qFromLittleEndian<quint64>(reinterpret_cast<const uchar*>(f.constData() + off));
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
QDateTime stamp(const QByteArray& f, int off)
{
    const QDate d(u16(f, off), u16(f, off + 2), u16(f, off + 6));
    const QTime t(u16(f, off + 8), u16(f, off + 10), u16(f, off + 12), u16(f, off + 14));
    if (d.isValid() && d.dayOfWeek() != u16(f, off + 4))
        return {};
    return QDateTime(d, t);
}

QString onlyFile(const QString& dir)
{
    const QStringList files = QDir(dir).entryList(QDir::Files);
    return files.size() == 1 ? QDir(dir).filePath(files.first()) : QString();
}

// Hands packets [from, to) over, letting the writer drain every 10 packets so
// that the ring never overflows.
void feed(IqFileSlot& slot, int from, int to)
{
    for (int i = from; i < to; ++i) {
        const auto p = payload(i);
        slot->writePacket(p.data());
        if ((i + 1 - from) % 10 == 0 || i + 1 == to)
            QTRY_COMPARE_WITH_TIMEOUT(slot->dataBytes(), uint64_t(i + 1 - from) * kPacket, 5000);
    }
}

// Runs a short Python program with the standard library's wave reader.
QString pythonWave(const QString& path, const QString& body)
{
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty())
        return {};
    QProcess p;
    p.start(python, {"-c", "import sys, wave\nw = wave.open(sys.argv[1], 'rb')\n" + body, path});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return "error: " + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString soxi(const QString& option, const QString& path)
{
    const QString exe = QStandardPaths::findExecutable("soxi");
    if (exe.isEmpty())
        return {};
    QProcess p;
    p.start(exe, {option, path});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return "error: " + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

class TestIqFile : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { ox::ui::setMessageHandler({}); }
    void formats_data();
    void formats();
    void emptyRecording_data();
    void emptyRecording();
    void fileNames_data();
    void fileNames();
    void unwritableFolder();
    void openTwice();
    void fullRingDropsWholePackets();
    void sizeLimitEndsCleanly();
    void reuseForNextRecording();
    void handOffAllocatesNothing();
    void sustainedFastestRate();
};

void TestIqFile::formats_data()
{
    QTest::addColumn<int>("configFormat");
    QTest::addColumn<int>("format");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("frequency");
    QTest::newRow("0 at 39062.5") << 0 << 0 << 39062.5 << 7100000.0;
    QTest::newRow("1 at 39062.5") << 1 << 1 << 39062.5 << 14074000.5;
    QTest::newRow("2 at 39062.5") << 2 << 2 << 39062.5 << 7100000.0;
    QTest::newRow("2 at 312500") << 2 << 2 << 312500.0 << 3573000.9;
    QTest::newRow("5 records as 2") << 5 << 2 << 156250.0 << 7100000.0;
    QTest::newRow("-1 records as 0") << -1 << 0 << 78125.0 << 10136000.0;
}

void TestIqFile::formats()
{
    QFETCH(int, configFormat);
    QFETCH(int, format);
    QFETCH(double, rate);
    QFETCH(double, frequency);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    IqFileSlot slot;
    slot->setSampleRate(rate);
    slot->setFrequency(frequency);
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
    QVERIFY(ox::file::startRecording(slot, Config(configFormat, dir.path()), kApp, nullptr));
    QVERIFY(slot->isRecording());
    const int packets = 60; // more than the ring holds at once
    feed(slot, 0, packets);
    ox::file::stopRecording(slot);
    const QDateTime after = QDateTime::currentDateTime().addMSecs(1);
    QVERIFY(!slot->isRecording());

    const QString path = onlyFile(dir.path());
    QVERIFY2(!path.isEmpty(), "exactly one file expected");
    const QString suffix = format == 2 ? "_hd.wav" : (format == 1 ? "_wv.wav" : "_.wav");
    QVERIFY2(path.endsWith(suffix), qPrintable(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray f = file.readAll();

    const uint32_t d = packets * kPacket;
    const uint32_t intRate = uint32_t(rate);
    const int dataAt = format == 0 ? 112 : (format == 1 ? 44 : 216);
    QCOMPARE(f.size(), int(dataAt + d));
    QCOMPARE(f.mid(0, 4), QByteArray("RIFF"));
    QCOMPARE(u32(f, 4), format == 1 ? d + 36 : d + 100);
    QCOMPARE(f.mid(8, 4), QByteArray("WAVE"));
    QCOMPARE(f.mid(12, 4), QByteArray("fmt "));
    QCOMPARE(u32(f, 16), 16u);
    QCOMPARE(u16(f, 20), uint16_t(1));
    QCOMPARE(u16(f, 22), uint16_t(2));
    QCOMPARE(u32(f, 24), intRate);
    QCOMPARE(u32(f, 28), intRate * 6);
    if (rate == 39062.5)
        QCOMPARE(u32(f, 28), 234372u);
    QCOMPARE(u16(f, 32), uint16_t(6));
    QCOMPARE(u16(f, 34), uint16_t(24));

    int startAt = 0;
    if (format == 0) {
        QCOMPARE(f.mid(36, 4), QByteArray("vmsd"));
        QCOMPARE(u32(f, 40), 64u);
        QCOMPARE(u32(f, 44), 1u);
        startAt = 48;
        QCOMPARE(u32(f, 80), 0u);
        QCOMPARE(f64(f, 84), frequency);
        QCOMPARE(f64(f, 92), rate);
        QCOMPARE(f64(f, 100), 0.0);
        QCOMPARE(f.mid(108, 4), QByteArray("data"));
    } else if (format == 1) {
        QCOMPARE(f.mid(36, 4), QByteArray("data"));
        QCOMPARE(u32(f, 40), d);
    } else {
        QCOMPARE(f.mid(36, 4), QByteArray("auxi"));
        QCOMPARE(u32(f, 40), 164u);
        startAt = 44;
        QCOMPARE(u32(f, 76), uint32_t(frequency));
        QCOMPARE(f.mid(80, 128), QByteArray(128, '\0'));
        QCOMPARE(f.mid(208, 4), QByteArray("data"));
        QCOMPARE(u32(f, 212), d);
    }
    if (startAt) {
        const QDateTime start = stamp(f, startAt), stop = stamp(f, startAt + 16);
        QVERIFY2(start.isValid() && stop.isValid(), "time stamps (with day of week) must be valid");
        QVERIFY2(before <= start && start <= stop && stop <= after,
                 qPrintable(start.toString(Qt::ISODateWithMs) + " / " + stop.toString(Qt::ISODateWithMs)));
    }

    // Samples: the payloads unchanged (format 0) or scaled and saturated.
    const double gain = format == 1 ? 100.0 : std::pow(10.0, 1.5);
    for (int i = 0; i < packets; ++i) {
        const auto p = payload(i);
        const auto* stored = reinterpret_cast<const unsigned char*>(f.constData()) + dataAt + i * kPacket;
        if (format == 0) {
            QVERIFY2(std::memcmp(stored, p.data(), kPacket) == 0, qPrintable(QString("packet %1").arg(i)));
            continue;
        }
        for (int s = 0; s < kPacket / 3; ++s) {
            const int32_t want = scaled(read24(p.data() + 3 * s), gain);
            QVERIFY2(read24(stored + 3 * s) == want,
                     qPrintable(QString("packet %1 value %2: %3, expected %4").arg(i).arg(s).arg(read24(stored + 3 * s)).arg(want)));
        }
    }
    if (format != 0) {
        // Full scale saturates instead of wrapping.
        const auto* fs = reinterpret_cast<const unsigned char*>(f.constData()) + dataAt + 18;
        QCOMPARE(read24(fs), 8388607);
        QCOMPARE(read24(fs + 3), -8388608);
    }

    // Independent readers (format 0 is not a standard WAV layout).
    if (format == 0)
        return;
    const QString py = pythonWave(path, "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())");
    if (py.isEmpty())
        QSKIP("python3 is not installed");
    QCOMPARE(py, QString("2 3 %1 %2").arg(intRate).arg(d / 6));
    if (format == 1) {
        const QString frames = pythonWave(path, "import hashlib\nprint(hashlib.sha1(w.readframes(w.getnframes())).hexdigest())");
        QCOMPARE(frames, QString(QCryptographicHash::hash(f.mid(44), QCryptographicHash::Sha1).toHex()));
    }
    const QString sr = soxi("-r", path);
    if (sr.isEmpty())
        QSKIP("soxi (sox) is not installed");
    QCOMPARE(sr, QString::number(intRate));
    QCOMPARE(soxi("-c", path), QString("2"));
    QCOMPARE(soxi("-b", path), QString("24"));
    QCOMPARE(soxi("-s", path), QString::number(d / 6));
}

void TestIqFile::emptyRecording_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("length");
    QTest::newRow("0") << 0 << 112;
    QTest::newRow("1") << 1 << 44;
    QTest::newRow("2") << 2 << 216;
}

void TestIqFile::emptyRecording()
{
    QFETCH(int, format);
    QFETCH(int, length);
    QTemporaryDir dir;
    IqFileSlot slot;
    slot->setSampleRate(39062.5);
    QVERIFY(ox::file::startRecording(slot, Config(format, dir.path()), kApp, nullptr));
    ox::file::stopRecording(slot);
    const QString path = onlyFile(dir.path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray f = file.readAll();
    QCOMPARE(f.size(), length);
    QCOMPARE(u32(f, 4), format == 1 ? 36u : 100u);
    QCOMPARE(u32(f, 24), 39062u);
    // Formats 0 and 2 count D + 100 in the RIFF size, so with no samples their
    // "data" chunk lies past the RIFF end, where a strict reader stops.
    if (format != 1)
        return;
    const QString py = pythonWave(path, "print(w.getnchannels(), w.getframerate(), w.getnframes())");
    if (py.isEmpty())
        QSKIP("python3 is not installed");
    QCOMPARE(py, QString("2 39062 0"));
}

void TestIqFile::fileNames_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("name");
    QTest::newRow("2") << 2 << "/rec/Velmora2_ZorvaniDDC_20260307_09-05-03_hd.wav";
    QTest::newRow("1") << 1 << "/rec/Velmora2_ZorvaniDDC_20260307_09-05-03_wv.wav";
    QTest::newRow("0") << 0 << "/rec/Velmora2_ZorvaniDDC_20260307_09-05-03_.wav";
}

void TestIqFile::fileNames()
{
    QFETCH(int, format);
    QFETCH(QString, name);
    const QDateTime t(QDate(2026, 3, 7), QTime(9, 5, 3, 250));
    QCOMPARE(ox::file::iqFileName("/rec", kApp, ox::file::clampedFormat(format), t), name);
    QCOMPARE(int(ox::file::clampedFormat(5)), 2);
    QCOMPARE(int(ox::file::clampedFormat(-1)), 0);
    // 24-hour clock.
    QVERIFY(ox::file::iqFileName("/rec", kApp, IQFile::Format1, QDateTime(QDate(2026, 3, 7), QTime(21, 0, 0)))
                .contains("_21-00-00_"));
}

void TestIqFile::unwritableFolder()
{
    QTemporaryDir dir;
    // A folder below a regular file can never be created, even by root.
    QFile blocker(dir.filePath("plainfile"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QList<ox::ui::MessageRequest> boxes;
    int failedBeforeBox = -1;
    int failures = 0;
    ox::ui::setMessageHandler([&](const ox::ui::MessageRequest& r) {
        boxes << r;
        failedBeforeBox = failures;
        return QMessageBox::Ok;
    });
    IqFileSlot slot;
    QTest::ignoreMessage(QtWarningMsg, "bool __cdecl ox::file::IQFile::open(const class QString &) Failed to open file for writing!\n");
    QVERIFY(!ox::file::startRecording(slot, Config(2, dir.filePath("plainfile/sub")), kApp, nullptr, [&] { ++failures; }));
    QVERIFY(!slot->isRecording());
    QCOMPARE(failures, 1);
    QCOMPARE(failedBeforeBox, 1);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes[0].title, kApp);
    QCOMPARE(boxes[0].text, QString("Failed to open IQ file for write!"));
    // Packets and a stop on the idle slot are harmless.
    const auto p = payload(0);
    slot->writePacket(p.data());
    ox::file::stopRecording(slot);
    QCOMPARE(slot->dataBytes(), 0u);
}

void TestIqFile::openTwice()
{
    QTemporaryDir dir;
    IqFileSlot slot;
    QVERIFY(slot->open(dir.filePath("a.wav")));
    QTest::ignoreMessage(QtWarningMsg, "bool __cdecl ox::file::IQFile::open(const class QString &) already opened!");
    QVERIFY(!slot->open(dir.filePath("b.wav")));
    QVERIFY(slot->isRecording());
    ox::file::stopRecording(slot);
    QVERIFY(!QFile::exists(dir.filePath("b.wav")));
    QCOMPARE(QFileInfo(dir.filePath("a.wav")).size(), 216);
}

void TestIqFile::fullRingDropsWholePackets()
{
    QTemporaryDir dir;
    IqFileSlot slot;
    slot->setFormat(IQFile::Format0);
    QVERIFY(slot->open(dir.filePath("burst.wav")));
    // A burst much faster than the writer overflows the ring.
    const int burst = int(3 * IQFile::kRingBytes / kPacket);
    std::vector<std::vector<unsigned char>> packets;
    for (int i = 0; i < burst; ++i)
        packets.push_back(payload(i));
    int sent = 0;
    {
        auto file = slot.lock();
        while (sent < burst && (file->droppedPackets() == 0 || sent < 200))
            file->writePacket(packets[size_t(sent++)].data());
    }
    const uint64_t dropped = slot->droppedPackets();
    QVERIFY2(dropped > 0, "the burst should have overflowed the ring");
    QTRY_COMPARE_WITH_TIMEOUT(slot->dataBytes() + dropped * kPacket, uint64_t(sent) * kPacket, 5000);
    ox::file::stopRecording(slot);

    QFile file(dir.filePath("burst.wav"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray f = file.readAll();
    const int stored = (f.size() - 112) / kPacket;
    QCOMPARE((f.size() - 112) % kPacket, 0);
    QCOMPARE(uint64_t(stored) + dropped, uint64_t(sent));
    // Every stored packet is one whole payload, in order.
    int last = -1;
    for (int i = 0; i < stored; ++i) {
        const auto* b = reinterpret_cast<const unsigned char*>(f.constData()) + 112 + i * kPacket;
        const int index = read24(b);
        QVERIFY2(index > last && index < sent, qPrintable(QString("packet %1 has index %2").arg(i).arg(index)));
        QVERIFY2(std::memcmp(b, packets[size_t(index)].data(), kPacket) == 0, qPrintable(QString("packet %1").arg(i)));
        last = index;
    }
}

void TestIqFile::sizeLimitEndsCleanly()
{
    QTemporaryDir dir;
    IqFileSlot slot;
    slot->setFormat(IQFile::Format1);
    slot->setDataLimit(10 * kPacket);
    QVERIFY(slot->open(dir.filePath("limit.wav")));
    for (int i = 0; i < 30; ++i) {
        const auto p = payload(i);
        slot->writePacket(p.data());
        if (i % 5 == 4)
            QTRY_VERIFY_WITH_TIMEOUT(!slot->isRecording() || slot->dataBytes() == uint64_t(i + 1) * kPacket, 5000);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!slot->isRecording(), 5000);
    ox::file::stopRecording(slot);
    QFile file(dir.filePath("limit.wav"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray f = file.readAll();
    QCOMPARE(f.size(), 44 + 10 * kPacket);
    QCOMPARE(u32(f, 4), uint32_t(36 + 10 * kPacket));
    QCOMPARE(u32(f, 40), uint32_t(10 * kPacket));
    QCOMPARE(IQFile::kMaxDataBytes % kPacket, 0u);
    QVERIFY(IQFile::kMaxDataBytes + 100 <= 0xFFFFFFFFull);
    // The slot is usable again.
    QVERIFY(slot->open(dir.filePath("next.wav")));
    ox::file::stopRecording(slot);
}

void TestIqFile::reuseForNextRecording()
{
    QTemporaryDir dir;
    IqFileSlot slot;
    slot->setFormat(IQFile::Format2);
    slot->setFrequency(7100000.0);
    QVERIFY(slot->open(dir.filePath("first.wav")));
    feed(slot, 0, 20);
    ox::file::stopRecording(slot);
    slot->setFormat(IQFile::Format1);
    QVERIFY(slot->open(dir.filePath("second.wav")));
    feed(slot, 20, 25);
    // Changing the format mid-recording does not change the running file.
    slot->setFormat(IQFile::Format0);
    ox::file::stopRecording(slot);
    QCOMPARE(QFileInfo(dir.filePath("first.wav")).size(), 216 + 20 * kPacket);
    QCOMPARE(QFileInfo(dir.filePath("second.wav")).size(), 44 + 5 * kPacket);
    QFile second(dir.filePath("second.wav"));
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.read(40).mid(36), QByteArray("data"));
}

void TestIqFile::handOffAllocatesNothing()
{
    QTemporaryDir dir;
    IqFileSlot slot;
    QVERIFY(slot->open(dir.filePath("alloc.wav")));
    const auto p = payload(1);
    {
        testsupport::AllocationScope scope;
        for (int i = 0; i < 100; ++i)
            slot->writePacket(p.data());
        QCOMPARE(scope.count(), 0u);
    }
    ox::file::stopRecording(slot);
}

void TestIqFile::sustainedFastestRate()
{
    // 312500 Hz: one 200-sample packet every 640 us, from another thread, for
    // 3 s; the writer keeps up and the file holds every packet.
    QTemporaryDir dir;
    IqFileSlot slot;
    slot->setSampleRate(312500.0);
    QVERIFY(ox::file::startRecording(slot, Config(0, dir.path()), kApp, nullptr));
    const int packets = 4688;
    std::thread feeder([&slot] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < packets; ++i) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(640) * i);
            const auto p = payload(i);
            auto file = slot.lock();
            if (file->isRecording())
                file->writePacket(p.data());
        }
    });
    feeder.join();
    QTRY_COMPARE_WITH_TIMEOUT(slot->dataBytes() + slot->droppedPackets() * kPacket, uint64_t(packets) * kPacket, 5000);
    ox::file::stopRecording(slot);
    QCOMPARE(slot->droppedPackets(), 0u);
    const QString path = onlyFile(dir.path());
    QCOMPARE(QFileInfo(path).size(), qint64(112) + qint64(packets) * kPacket);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    file.seek(112 + qint64(packets - 1) * kPacket);
    const QByteArray last = file.read(kPacket);
    const auto expected = payload(packets - 1);
    QVERIFY(std::memcmp(last.constData(), expected.data(), kPacket) == 0);
}

QTEST_GUILESS_MAIN(TestIqFile)
#include "tst_iqfile.moc"
