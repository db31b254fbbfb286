#include "AllocationCounter.h"
#include "TinyFilesystem.h"
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

int dataOffset(int format)
{
    return format == 0 ? 112 : (format == 1 ? 44 : 216);
}

// The header as the format tables give it for d sample bytes, time stamps zero.
QByteArray expectedHeader(int format, uint32_t d, double rate, double frequency)
{
    uchar b[216] = {};
    const auto id = [&](int at, const char* text) { std::memcpy(b + at, text, 4); };
    const auto f64 = [&](int at, double v) {
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        qToLittleEndian<quint64>(bits, b + at);
    };
    const uint32_t r = uint32_t(rate);
    id(0, "RIFF");
    qToLittleEndian<quint32>(format == 1 ? d + 36 : d + 100, b + 4);
    id(8, "WAVE");
    id(12, "fmt ");
    qToLittleEndian<quint32>(16, b + 16);
    qToLittleEndian<quint16>(1, b + 20);
    qToLittleEndian<quint16>(2, b + 22);
    qToLittleEndian<quint32>(r, b + 24);
    qToLittleEndian<quint32>(r * 6, b + 28);
    qToLittleEndian<quint16>(6, b + 32);
    qToLittleEndian<quint16>(24, b + 34);
    if (format == 0) {
        id(36, "vmsd");
        qToLittleEndian<quint32>(64, b + 40);
        qToLittleEndian<quint32>(1, b + 44);
        f64(84, frequency);
        f64(92, rate);
        id(108, "data");
    } else if (format == 1) {
        id(36, "data");
        qToLittleEndian<quint32>(d, b + 40);
    } else {
        id(36, "auxi");
        qToLittleEndian<quint32>(164, b + 40);
        qToLittleEndian<quint32>(uint32_t(frequency), b + 76);
        id(208, "data");
        qToLittleEndian<quint32>(d, b + 212);
    }
    return QByteArray(reinterpret_cast<const char*>(b), dataOffset(format));
}

// The file's header with its start and stop times zeroed, to compare with expectedHeader().
QByteArray headerWithoutTimes(const QByteArray& f, int format)
{
    QByteArray h = f.left(dataOffset(format));
    if (format != 1 && h.size() == dataOffset(format))
        h.replace(format == 0 ? 48 : 44, 32, QByteArray(32, '\0'));
    return h;
}

// Empty when the `bytes` sample bytes from `at` are packets first, first + 1,
// ... as the format stores them (unchanged, or scaled and saturated).
QString samplesError(const QByteArray& f, int at, int format, int first, qint64 bytes)
{
    if (f.size() < at + bytes)
        return QString("the file holds %1 bytes, not %2").arg(f.size()).arg(at + bytes);
    const double gain = format == 1 ? 100.0 : std::pow(10.0, 1.5);
    const auto* stored = reinterpret_cast<const unsigned char*>(f.constData()) + at;
    std::vector<unsigned char> p;
    for (qint64 b = 0; b < bytes; b += 3) {
        const int packet = first + int(b / kPacket);
        if (b % kPacket == 0)
            p = payload(packet);
        const int32_t sent = read24(p.data() + b % kPacket);
        const int32_t want = format == 0 ? sent : scaled(sent, gain);
        if (read24(stored + b) != want)
            return QString("packet %1 value %2: %3, expected %4").arg(packet).arg(b % kPacket / 3).arg(read24(stored + b)).arg(want);
    }
    return {};
}

// Format, rate and the 7.1 MHz tuning of the next recording.
void configure(IqFileSlot& slot, int format, double rate)
{
    slot->setFormat(IQFile::Format(format));
    slot->setSampleRate(rate);
    slot->setFrequency(7100000.0);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestIqFile : public QObject {
    Q_OBJECT

    static void formatRows()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("2") << 2;
    }

private slots:
    void cleanup() { ox::ui::setMessageHandler({}); }
    void formats_data();
    void formats();
    void fileNames();
    void unwritableFolder();
    void storedOrCounted_data();
    void storedOrCounted();
    void validWhileRecording_data() { formatRows(); }
    void validWhileRecording();
    void fullDiskKeepsWhatFit_data() { formatRows(); }
    void fullDiskKeepsWhatFit();
    void sizeLimitContinuesInNextFile_data() { formatRows(); }
    void sizeLimitContinuesInNextFile();
    void reuseForNextRecording();
    void handOffAllocatesNothing();
};

void TestIqFile::formats_data()
{
    QTest::addColumn<int>("configFormat");
    QTest::addColumn<int>("format");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("frequency");
    QTest::addColumn<int>("packets");
    // 60 packets: more than the ring holds at once.
    QTest::newRow("0 at 39062.5") << 0 << 0 << 39062.5 << 7100000.0 << 60;
    QTest::newRow("1 at 39062.5") << 1 << 1 << 39062.5 << 14074000.5 << 60;
    QTest::newRow("2 at 312500") << 2 << 2 << 312500.0 << 3573000.9 << 60;
    QTest::newRow("5 records as 2") << 5 << 2 << 156250.0 << 7100000.0 << 60;
    QTest::newRow("-1 records as 0") << -1 << 0 << 78125.0 << 10136000.0 << 60;
    for (int format = 0; format < 3; ++format)
        QTest::addRow("%d, empty", format) << format << format << 39062.5 << 7100000.0 << 0;
}

void TestIqFile::formats()
{
    QFETCH(int, configFormat);
    QFETCH(int, format);
    QFETCH(double, rate);
    QFETCH(double, frequency);
    QFETCH(int, packets);
    QTemporaryDir dir;
    IqFileSlot slot;
    slot->setSampleRate(rate);
    slot->setFrequency(frequency);
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
    QVERIFY(ox::file::startRecording(slot, Config(configFormat, dir.path()), kApp, nullptr));
    QVERIFY(slot->isRecording());
    feed(slot, 0, packets);
    ox::file::stopRecording(slot);
    const QDateTime after = QDateTime::currentDateTime().addMSecs(1);
    QVERIFY(!slot->isRecording());

    const QString path = onlyFile(dir.path());
    const QString suffix = format == 2 ? "_hd.wav" : (format == 1 ? "_wv.wav" : "_.wav");
    QVERIFY2(path.endsWith(suffix), qPrintable(path));
    const QByteArray f = readAll(path);
    const uint32_t d = uint32_t(packets * kPacket);
    const int dataAt = dataOffset(format);
    QCOMPARE(f.size(), int(dataAt + d));
    QCOMPARE(headerWithoutTimes(f, format), expectedHeader(format, d, rate, frequency));
    if (rate == 39062.5)
        QCOMPARE(u32(f, 28), 234372u);
    if (format != 1) {
        const int startAt = format == 0 ? 48 : 44;
        const QDateTime start = stamp(f, startAt), stop = stamp(f, startAt + 16);
        QVERIFY2(start.isValid() && stop.isValid(), "time stamps (with day of week) must be valid");
        QVERIFY2(before <= start && start <= stop && stop <= after,
                 qPrintable(start.toString(Qt::ISODateWithMs) + " / " + stop.toString(Qt::ISODateWithMs)));
    }
    const QString samples = samplesError(f, dataAt, format, 0, d);
    QVERIFY2(samples.isEmpty(), qPrintable(samples));

    // An independent reader. Format 0 is not a standard WAV layout; formats 0
    // and 2 count D + 100 in the RIFF size, so with no samples their "data"
    // chunk lies past the RIFF end, where a strict reader stops.
    if (format == 0 || (format == 2 && packets == 0))
        return;
    const QString py = pythonWave(path, "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())");
    if (py.isEmpty())
        QSKIP("python3 is not installed");
    QCOMPARE(py, QString("2 3 %1 %2").arg(uint32_t(rate)).arg(d / 6));
    if (format == 1) {
        const QString frames = pythonWave(path, "import hashlib\nprint(hashlib.sha1(w.readframes(w.getnframes())).hexdigest())");
        QCOMPARE(frames, QString(QCryptographicHash::hash(f.mid(44), QCryptographicHash::Sha1).toHex()));
    }
}

void TestIqFile::fileNames()
{
    // Zero-padded, on the 24-hour clock; continuations numbered next to the
    // first file and sorted after it.
    const QDateTime t(QDate(2026, 3, 7), QTime(21, 5, 3, 250));
    const char* suffixes[] = {"_.wav", "_wv.wav", "_hd.wav"};
    for (int format = 0; format < 3; ++format)
        QCOMPARE(ox::file::iqFileName("/rec", kApp, IQFile::Format(format), t),
                 QString("/rec/Velmora2_ZorvaniDDC_20260307_21-05-03") + suffixes[format]);
    QCOMPARE(IQFile::partFileName("/rec/a_hd.wav", 12), QString("/rec/a_hd_012.wav"));
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

void TestIqFile::storedOrCounted_data()
{
    QTest::addColumn<bool>("paced");
    QTest::newRow("a burst that overflows the ring") << false;
    QTest::newRow("312500 Hz from another thread") << true;
}

void TestIqFile::storedOrCounted()
{
    // Every packet handed over is in the file, whole and in order, or counted
    // as dropped: for a burst far faster than the disk, and for a stream at the
    // fastest rate (a packet every 640 us for 3 s) handed over from another
    // thread while the writer writes. Whether the writer keeps up with a real
    // stream on a given machine is a benchmark's question, not this test's.
    QFETCH(bool, paced);
    QTemporaryDir dir;
    IqFileSlot slot;
    slot->setFormat(IQFile::Format0);
    QVERIFY(slot->open(dir.filePath("stream.wav")));
    std::vector<std::vector<unsigned char>> packets;
    for (int i = 0; i < 4688; ++i)
        packets.push_back(payload(i));
    int sent = 0;
    if (paced) {
        std::thread feeder([&] {
            const auto start = std::chrono::steady_clock::now();
            for (; sent < int(packets.size()); ++sent) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(640) * sent);
                slot->writePacket(packets[size_t(sent)].data());
            }
        });
        feeder.join();
    } else {
        auto file = slot.lock();
        while (sent < int(packets.size()) && (file->droppedPackets() == 0 || sent < 200))
            file->writePacket(packets[size_t(sent++)].data());
        QVERIFY2(file->droppedPackets() > 0, "the burst should have overflowed the ring");
    }
    const uint64_t dropped = slot->droppedPackets();
    QTRY_COMPARE_WITH_TIMEOUT(slot->dataBytes() + dropped * kPacket, uint64_t(sent) * kPacket, 5000);
    ox::file::stopRecording(slot);

    const QByteArray f = readAll(dir.filePath("stream.wav"));
    const int stored = (f.size() - 112) / kPacket;
    QCOMPARE((f.size() - 112) % kPacket, 0);
    QCOMPARE(uint64_t(stored) + dropped, uint64_t(sent));
    int last = -1;
    for (int i = 0; i < stored; ++i) {
        const auto* b = reinterpret_cast<const unsigned char*>(f.constData()) + 112 + i * kPacket;
        const int index = read24(b);
        QVERIFY2(index > last && index < sent, qPrintable(QString("packet %1 has index %2").arg(i).arg(index)));
        QVERIFY2(std::memcmp(b, packets[size_t(index)].data(), kPacket) == 0, qPrintable(QString("packet %1").arg(i)));
        last = index;
    }
}

void TestIqFile::validWhileRecording()
{
    // A reader (or a crash) at any moment meets a complete header that counts
    // what is in the file, not a placeholder.
    QFETCH(int, format);
    QTemporaryDir dir;
    IqFileSlot slot;
    configure(slot, format, 78125.0);
    const QString path = dir.filePath("live.wav");
    QVERIFY(slot->open(path));
    QCOMPARE(headerWithoutTimes(readAll(path), format), expectedHeader(format, 0, 78125.0, 7100000.0));
    feed(slot, 0, 30);
    const uint32_t d = 30 * kPacket;
    QTRY_COMPARE_WITH_TIMEOUT(headerWithoutTimes(readAll(path), format), expectedHeader(format, d, 78125.0, 7100000.0),
                              5000);
    QVERIFY(slot->isRecording());
    QCOMPARE(readAll(path).size(), int(dataOffset(format) + d));
    ox::file::stopRecording(slot);
}

void TestIqFile::fullDiskKeepsWhatFit()
{
    QFETCH(int, format);
    testsupport::TinyFilesystem disk(256 * 1024);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.whyNot()));
    IqFileSlot slot;
    // Queued to this thread, as the plug-in receives it.
    QObject receiver;
    QStringList failed; // path, reason
    QObject::connect(slot.lock().get(), &IQFile::failed, &receiver,
                     [&](const QString& path, const QString& reason) { failed << path << reason; });
    configure(slot, format, 156250.0);
    const QString path = disk.filePath("full.wav");
    QVERIFY(slot->open(path));
    // Twice what the disk holds, at once: the ring takes it all.
    {
        auto file = slot.lock();
        for (int i = 0; i < 2 * 256 * 1024 / kPacket; ++i)
            file->writePacket(payload(i).data());
        QCOMPARE(file->droppedPackets(), 0u);
    }
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 5000);
    QVERIFY(!slot->isRecording());
    QCOMPARE(failed[0], path);
    QVERIFY2(failed[1].contains("No space left"), qPrintable(failed[1]));
    ox::file::stopRecording(slot);

    // What fit: most of the disk, whole frames, under a header that counts them.
    const uint32_t d = uint32_t(slot->dataBytes());
    QVERIFY2(d > 200 * 1024 && d % 6 == 0, qPrintable(QString::number(d)));
    const QByteArray f = readAll(path);
    QCOMPARE(f.size(), int(dataOffset(format) + d));
    QCOMPARE(headerWithoutTimes(f, format), expectedHeader(format, d, 156250.0, 7100000.0));
    const QString samples = samplesError(f, dataOffset(format), format, 0, d);
    QVERIFY2(samples.isEmpty(), qPrintable(samples));
    // The slot records again once there is room.
    QTemporaryDir elsewhere;
    QVERIFY(slot->open(elsewhere.filePath("next.wav")));
    ox::file::stopRecording(slot);
}

void TestIqFile::sizeLimitContinuesInNextFile()
{
    QFETCH(int, format);
    QTemporaryDir dir;
    IqFileSlot slot;
    configure(slot, format, 78125.0);
    slot->setDataLimit(10 * kPacket + 7); // rounded down to whole packets
    const QString first = dir.filePath("rec_hd.wav");
    QVERIFY(slot->open(first));
    // Handed over without waiting: parts change while the ring holds packets.
    {
        auto file = slot.lock();
        for (int i = 0; i < 25; ++i)
            file->writePacket(payload(i).data());
    }
    QTRY_COMPARE_WITH_TIMEOUT(slot->dataBytes(), uint64_t(25 * kPacket), 5000);
    QVERIFY(slot->isRecording());
    ox::file::stopRecording(slot);
    QCOMPARE(slot->droppedPackets(), 0u);

    const QStringList names = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(names, QStringList({"rec_hd.wav", "rec_hd_002.wav", "rec_hd_003.wav"}));
    int packet = 0;
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        const int packets = std::min(10, 25 - packet);
        const uint32_t d = uint32_t(packets * kPacket);
        const QByteArray f = readAll(path);
        QCOMPARE(f.size(), int(dataOffset(format) + d));
        QCOMPARE(headerWithoutTimes(f, format), expectedHeader(format, d, 78125.0, 7100000.0));
        const QString samples = samplesError(f, dataOffset(format), format, packet, d);
        QVERIFY2(samples.isEmpty(), qPrintable(name + ": " + samples));
        if (format == 2) {
            const QDateTime start = stamp(f, 44), stop = stamp(f, 60);
            QVERIFY2(start.isValid() && start <= stop, qPrintable(name));
        }
        packet += packets;
    }
}

void TestIqFile::reuseForNextRecording()
{
    // A second open while recording is refused and leaves the running file
    // alone; after a stop the slot records again, in its new format.
    QTemporaryDir dir;
    IqFileSlot slot;
    configure(slot, 2, 39062.5);
    QVERIFY(slot->open(dir.filePath("first.wav")));
    QTest::ignoreMessage(QtWarningMsg, "bool __cdecl ox::file::IQFile::open(const class QString &) already opened!");
    QVERIFY(!slot->open(dir.filePath("refused.wav")));
    QVERIFY(slot->isRecording());
    feed(slot, 0, 20);
    ox::file::stopRecording(slot);
    QVERIFY(!QFile::exists(dir.filePath("refused.wav")));
    slot->setFormat(IQFile::Format1);
    QVERIFY(slot->open(dir.filePath("second.wav")));
    feed(slot, 20, 25);
    // Changing the format mid-recording does not change the running file.
    slot->setFormat(IQFile::Format0);
    ox::file::stopRecording(slot);
    const uint32_t d = 5 * kPacket;
    QCOMPARE(readAll(dir.filePath("first.wav")).size(), 216 + 20 * kPacket);
    const QByteArray second = readAll(dir.filePath("second.wav"));
    QCOMPARE(headerWithoutTimes(second, 1), expectedHeader(1, d, 39062.5, 7100000.0));
    const QString samples = samplesError(second, 44, 1, 20, d);
    QVERIFY2(samples.isEmpty(), qPrintable(samples));
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

QTEST_GUILESS_MAIN(TestIqFile)
#include "tst_iqfile.moc"
