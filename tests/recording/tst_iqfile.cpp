// The IQ WAV writer: a valid header counting what is in the file at every
// moment, every packet stored or counted, write errors stopping with what
// fit, and the size limit continuing in the next file without a gap.
#include "AllocationCounter.h"
#include "TinyFilesystem.h"
#include "IQRecorderConfigAbstract.h"
#include "common/MessageBox.h"
#include "recording/IQFile.h"
#include "recording/IQRecording.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using ox::file::IQFile;

namespace {

constexpr int kPacket = IQFile::kPacketBytes;
const QString kApp = QStringLiteral("Velmora2");
const char* const kSuffix[] = {"_.wav", "_wv.wav", "_hd.wav"};
const QByteArray kOpenWarning = "bool __cdecl ox::file::IQFile::open(const class QString &) ";

struct Config : IQRecorderConfigAbstract {
    Config(int format, QString folder) : m_format(format), m_folder(std::move(folder)) {}
    int format() const override { return m_format; }
    QString folder() const override { return m_folder; }
    int m_format;
    QString m_folder;
};

// Packet i: its index in the first frame, full scale both ways in the fourth,
// then alternating small values (unchanged by x100) and large ones (saturating).
std::vector<unsigned char> payload(int index)
{
    std::vector<unsigned char> p(kPacket);
    for (int f = 0; f < kPacket / 6; ++f)
        for (int c = 0; c < 2; ++c) {
            const int n = index * 400 + f * 2 + c;
            int32_t v = (f % 2 == 0) ? (n * 7919) % 160001 - 80000 : (n * 104729) % 16777216 - 8388608;
            if (f == 0 || f == 3)
                v = f == 0 ? (c == 0 ? index : -index) : (c == 0 ? 8388607 : -8388608);
            for (int b = 0; b < 3; ++b)
                p[size_t(f * 6 + c * 3 + b)] = uint8_t(v >> (8 * b));
        }
    return p;
}

int32_t read24(const unsigned char* b) { return int32_t(uint32_t(b[0] | b[1] << 8 | b[2] << 16) << 8) >> 8; }

// Expected stored sample: x = v 2^-31 g 2147483392 on the 32-bit word,
// truncated, held within 32 bits, upper three bytes kept.
int32_t scaled(int32_t sample, double gain)
{
    const long double x = std::trunc((long double)sample * 256.0L * gain * 2147483392.0L / 2147483648.0L);
    return int32_t(std::floor(std::clamp(x, -2147483648.0L, 2147483647.0L) / 256.0L));
}

uint16_t u16(const QByteArray& f, int off) { return qFromLittleEndian<quint16>(f.constData() + off); }
QByteArray le(quint32 v, int bytes = 4)
{
    QByteArray b(4, '\0');
    qToLittleEndian<quint32>(v, b.data());
    return b.left(bytes);
}
// Eight u16: year, month, day of week, day, hour, minute, second, ms; invalid when the weekday does not match.
QDateTime stamp(const QByteArray& f, int off)
{
    const QDate d(u16(f, off), u16(f, off + 2), u16(f, off + 6));
    if (!d.isValid() || d.dayOfWeek() != u16(f, off + 4))
        return {};
    return QDateTime(d, QTime(u16(f, off + 8), u16(f, off + 10), u16(f, off + 12), u16(f, off + 14)));
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int dataOffset(int format) { return format == 0 ? 112 : (format == 1 ? 44 : 216); }

// The header as the format tables give it for d sample bytes, time stamps zero.
QByteArray expectedHeader(int format, uint32_t d, double rate, double frequency)
{
    const auto f64 = [](double v) { return QByteArray(reinterpret_cast<const char*>(&v), 8); };
    const auto zeros = [](int n) { return QByteArray(n, '\0'); };
    const uint32_t r = uint32_t(rate);
    QByteArray h = "RIFF" + le(format == 1 ? d + 36 : d + 100) + "WAVEfmt " + le(16) + le(1, 2) + le(2, 2) + le(r) +
                   le(r * 6) + le(6, 2) + le(24, 2);
    if (format == 0)
        return h + "vmsd" + le(64) + le(1) + zeros(36) + f64(frequency) + f64(rate) + zeros(8) + "data";
    if (format == 1)
        return h + "data" + le(d);
    return h + "auxi" + le(164) + zeros(32) + le(uint32_t(frequency)) + zeros(128) + "data" + le(d);
}

// Empty when the file holds a header counting `packets` packets (time stamps
// aside) and those packets from `first` on as the format stores them
// (unchanged, or scaled and saturated).
QString fileError(const QString& path, int format, int first, double packets, double rate, double frequency = 7100000.0)
{
    const QByteArray f = readAll(path);
    const int at = dataOffset(format);
    const uint32_t bytes = uint32_t(std::llround(packets * kPacket));
    QByteArray header = f.left(at);
    if (format != 1 && header.size() == at)
        header.replace(format == 0 ? 48 : 44, 32, QByteArray(32, '\0'));
    if (header != expectedHeader(format, bytes, rate, frequency))
        return path + ": header " + header.toHex();
    if (f.size() != at + qint64(bytes))
        return QString("the file holds %1 bytes, not %2").arg(f.size()).arg(at + bytes);
    const double gain = format == 1 ? 100.0 : std::pow(10.0, 1.5);
    const auto* stored = reinterpret_cast<const unsigned char*>(f.constData()) + at;
    std::vector<unsigned char> p;
    for (uint32_t b = 0; b < bytes; b += 3) {
        const int packet = first + int(b / kPacket);
        if (b % kPacket == 0)
            p = payload(packet);
        const int32_t sent = read24(p.data() + b % kPacket), want = format == 0 ? sent : scaled(sent, gain);
        const int32_t got = read24(stored + b);
        if (got != want)
            return QString("packet %1 value %2: %3, expected %4").arg(packet).arg(b % kPacket / 3).arg(got).arg(want);
    }
    return {};
}

// Hands packets [from, to) over, letting the writer drain every 10 so that the ring never overflows.
void feed(IqFileSlot& slot, int from, int to)
{
    for (int i = from; i < to; ++i) {
        slot->writePacket(payload(i).data());
        if ((i + 1 - from) % 10 == 0 || i + 1 == to)
            QTRY_COMPARE_WITH_TIMEOUT(slot->dataBytes(), uint64_t(i + 1 - from) * kPacket, 5000);
    }
}

void configure(IqFileSlot& slot, int format, double rate)
{
    slot->setFormat(IQFile::Format(format));
    slot->setSampleRate(rate);
    slot->setFrequency(7100000.0);
}

} // namespace

class TestIqFile : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { ox::ui::setMessageHandler({}); }

    // A reader (or a crash) at any moment meets a complete header that counts
    // what is in the file: at the open, while recording (more packets than
    // the ring holds), after the stop. (The time stamps against the clock:
    // the recording system test.)
    void validAtEveryMoment()
    {
        // A fraction of a hertz in the third row; formats out of range in the last two: the nearest.
        const struct { int configFormat, format; double rate, frequency; } rows[] = {
            {0, 0, 78125.0, 7100000.0}, {1, 1, 39062.5, 14074000.5}, {2, 2, 312500.0, 3573000.9},
            {5, 2, 156250.0, 7100000.0}, {-1, 0, 78125.0, 10136000.0}};
        for (const auto& r : rows) {
            QTemporaryDir dir;
            IqFileSlot slot;
            slot->setSampleRate(r.rate);
            slot->setFrequency(r.frequency);
            QVERIFY(ox::file::startRecording(slot, Config(r.configFormat, dir.path()), kApp, nullptr));
            const QStringList files = QDir(dir.path()).entryList(QDir::Files);
            const QString path = dir.filePath(files.value(0));
            const auto error = [&](double n) { return fileError(path, r.format, 0, n, r.rate, r.frequency); };
            QVERIFY2(files.size() == 1 && path.endsWith(kSuffix[r.format]), qPrintable(path));
            QVERIFY2(error(0).isEmpty(), "no valid header at the open");
            // A second open is refused and leaves the running file alone.
            QTest::ignoreMessage(QtWarningMsg, (kOpenWarning + "already opened!").constData());
            QVERIFY(!slot->open(dir.filePath("refused.wav")) && slot->isRecording());
            feed(slot, 0, 60);
            QTRY_VERIFY_WITH_TIMEOUT(error(60).isEmpty() && slot->isRecording(), 5000);
            slot->setFormat(IQFile::Format(r.format == 0 ? 2 : 0)); // for the next recording only
            ox::file::stopRecording(slot);
            QVERIFY2(error(60).isEmpty() && !slot->isRecording(), qPrintable(error(60)));
            QVERIFY(!QFile::exists(dir.filePath("refused.wav")));
        }
    }

    // Zero-padded, on the 24-hour clock.
    void fileName()
    {
        const QDateTime at(QDate(2026, 3, 7), QTime(21, 5, 3, 250));
        QCOMPARE(ox::file::iqFileName("/rec", kApp, IQFile::Format2, at),
                 QString("/rec/Velmora2_ZorvaniDDC_20260307_21-05-03_hd.wav"));
    }

    void unwritableFolder()
    {
        QTemporaryDir dir;
        // A folder below a regular file can never be created, even by root.
        QVERIFY(QFile(dir.filePath("plainfile")).open(QIODevice::WriteOnly));
        QList<ox::ui::MessageRequest> boxes;
        int failedBeforeBox = -1, failures = 0;
        ox::ui::setMessageHandler([&](const ox::ui::MessageRequest& r) {
            boxes << r;
            failedBeforeBox = failures;
            return QMessageBox::Ok;
        });
        IqFileSlot slot;
        QTest::ignoreMessage(QtWarningMsg, (kOpenWarning + "Failed to open file for writing!\n").constData());
        const Config below(2, dir.filePath("plainfile/sub"));
        QVERIFY(!ox::file::startRecording(slot, below, kApp, nullptr, [&] { ++failures; }));
        QVERIFY(!slot->isRecording() && failures == 1 && failedBeforeBox == 1 && boxes.size() == 1);
        QVERIFY(boxes[0].icon == QMessageBox::Warning && boxes[0].title == kApp);
        QCOMPARE(boxes[0].text, QString("Failed to open IQ file for write!"));
        slot->writePacket(payload(0).data()); // harmless on the idle slot, as is a stop
        ox::file::stopRecording(slot);
        QCOMPARE(slot->dataBytes(), 0u);
    }

    // Every packet handed over is in the file, whole and in order, or counted
    // as dropped, for a burst far faster than the disk; the hand-over allocates
    // nothing, even when it drops. (A stream at the fastest rate from the
    // network thread: the recording system test's two minutes.)
    void storedOrCounted()
    {
        std::vector<std::vector<unsigned char>> packets;
        for (int i = 0; i < 4688; ++i)
            packets.push_back(payload(i));
        QTemporaryDir dir;
        IqFileSlot slot;
        slot->setFormat(IQFile::Format0);
        QVERIFY(slot->open(dir.filePath("stream.wav")));
        int sent = 0;
        {
            auto file = slot.lock();
            testsupport::AllocationScope scope;
            while (sent < int(packets.size()) && (file->droppedPackets() == 0 || sent < 200))
                file->writePacket(packets[size_t(sent++)].data());
            QVERIFY2(scope.count() == 0 && file->droppedPackets() > 0, "the burst overflows, allocating nothing");
        }
        const uint64_t dropped = slot->droppedPackets();
        QTRY_COMPARE_WITH_TIMEOUT(slot->dataBytes() + dropped * kPacket, uint64_t(sent) * kPacket, 5000);
        ox::file::stopRecording(slot);
        const QByteArray f = readAll(dir.filePath("stream.wav"));
        const int stored = (f.size() - 112) / kPacket;
        QVERIFY((f.size() - 112) % kPacket == 0 && uint64_t(stored) + dropped == uint64_t(sent));
        for (int i = 0, last = -1; i < stored; ++i) {
            const auto* b = reinterpret_cast<const unsigned char*>(f.constData()) + 112 + i * kPacket;
            const int index = read24(b);
            QVERIFY2(index > last && index < sent && std::memcmp(b, packets[size_t(index)].data(), kPacket) == 0,
                     qPrintable(QString("packet %1 has index %2").arg(i).arg(index)));
            last = index;
        }
    }

    // Twice what the disk holds, at once: the recording stops with the
    // reason, queued to this thread, and keeps what fit under a valid header.
    void fullDiskKeepsWhatFit()
    {
        for (int format : {0, 1, 2}) {
            testsupport::TinyFilesystem disk(256 * 1024);
            if (!disk.isMounted())
                QSKIP(qPrintable(disk.whyNot()));
            IqFileSlot slot;
            QObject receiver;
            QStringList failed; // path, reason
            QObject::connect(slot.lock().get(), &IQFile::failed, &receiver,
                             [&](const QString& path, const QString& reason) { failed << path << reason; });
            configure(slot, format, 156250.0);
            const QString path = disk.filePath("full.wav");
            QVERIFY(slot->open(path));
            {
                auto file = slot.lock();
                for (int i = 0; i < 2 * 256 * 1024 / kPacket; ++i)
                    file->writePacket(payload(i).data());
                QCOMPARE(file->droppedPackets(), 0u);
            }
            QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 2, 5000);
            const QString why = failed.join(": ");
            QVERIFY2(!slot->isRecording() && failed[0] == path && failed[1].contains("No space left"), qPrintable(why));
            ox::file::stopRecording(slot);
            const uint32_t d = uint32_t(slot->dataBytes()); // most of the disk, whole frames
            const QString error = fileError(path, format, 0, double(d) / kPacket, 156250.0);
            QVERIFY2(d > 200 * 1024 && d % 6 == 0 && error.isEmpty(), qPrintable(QString::number(d) + error));
            QTemporaryDir elsewhere; // the slot records again once there is room
            QVERIFY(slot->open(elsewhere.filePath("next.wav")));
            ox::file::stopRecording(slot);
        }
    }

    // Handed over without waiting, so parts change while the ring holds packets.
    void sizeLimitContinuesInNextFile()
    {
        for (int format : {0, 1, 2}) {
            QTemporaryDir dir;
            IqFileSlot slot;
            configure(slot, format, 78125.0);
            slot->setDataLimit(10 * kPacket + 7); // rounded down to whole packets
            QVERIFY(slot->open(dir.filePath("rec_hd.wav")));
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
            for (int part = 0; part < 3; ++part) {
                const QString path = dir.filePath(names[part]);
                const QString error = fileError(path, format, 10 * part, std::min(10, 25 - 10 * part), 78125.0);
                const QByteArray f = readAll(path);
                QVERIFY2(error.isEmpty() && (format != 2 || (stamp(f, 44).isValid() && stamp(f, 44) <= stamp(f, 60))),
                         qPrintable(names[part] + ": " + error));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestIqFile)
#include "tst_iqfile.moc"
