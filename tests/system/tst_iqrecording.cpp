// IQ recordings of a real stream, read back and compared with the stream the
// emulator sent, regenerated from the same scene: receiver 0's stream is the
// scene generator salted 1, tuned once at the start, block after block. Built
// twice: tst_iqrecording records a second in each of the three formats of the
// host's recorder configuration, its header checked byte by byte;
// tst_longrecording (LONG_RECORDING) two minutes at 312500 Hz.
#include "SceneGenerator.h"
#include "SystemHost.h"

using namespace systest;

namespace {
constexpr int kPacketBytes = 1200; // 200 frames of two 24-bit values

template <typename T> T le(const QByteArray& d, int at) { return qFromLittleEndian<T>(d.constData() + at); }
qint32 le24(const char* p)
{
    const qint32 v = qint32(quint8(p[0])) | qint32(quint8(p[1])) << 8 | qint32(quint8(p[2])) << 16;
    return v >= 0x800000 ? v - 0x1000000 : v;
}


// Eight u16: year, month, day of week (1 = Monday), day, hour, minute, second, ms.
inline QDateTime stamp(const QByteArray& d, int at) // not read by the long build
{
    const auto u = [&](int i) { return le<quint16>(d, at + 2 * i); };
    const QDate date(u(0), u(1), u(3));
    return date.isValid() && date.dayOfWeek() == u(2) ? QDateTime(date, QTime(u(4), u(5), u(6), u(7))) : QDateTime();
}

// A recorded value: the 24-bit value in the top of 32 bits, times gain g, kept
// within the 24-bit range (the scaled formats saturate rather than wrap).
qint32 scaled24(qint32 v, double g)
{
    const double x = std::trunc(double(v) * 256.0 * g * 2147483392.0 / 2147483648.0);
    return g == 1.0 ? v : qint32(std::clamp(std::floor(x / 256.0), -8388608.0, 8388607.0));
}

class StreamReplica {
public:
    StreamReplica(const zorvani::sim::Scene& scene, double centreHz, double rateHz) : m_generator(scene, 1), m_block(200)
    {
        m_generator.setTuning(centreHz, rateHz);
    }
    // The next packet's 400 values, as the emulator converts them.
    void next(std::vector<qint32>* values)
    {
        m_generator.generate(m_block.data(), 200);
        values->resize(400);
        for (size_t i = 0; i < 400; ++i)
            (*values)[i] = qint32(std::clamp(std::round((i % 2 ? m_block[i / 2].im : m_block[i / 2].re) * 8388607.0),
                                             -8388608.0, 8388607.0));
        ++m_index;
    }
    qint64 index() const { return m_index; }

private:
    zorvani::sim::SceneGenerator m_generator;
    std::vector<Ostrovix::complex<double>> m_block;
    qint64 m_index = 0;
};

struct SampleMatch {
    QString why; // empty when the samples match
    qint64 firstPacket = -1; // index of the stream's packet the file starts with
    qint64 packets = 0;
    qint64 missing = 0;   // stream packets skipped between the first and the last (gaps allowed)
    qint64 saturated = 0; // values at the 24-bit limits in the file
};

// Compares the samples of `file` from `offset` to its end with the stream:
// the first packet is searched among the stream's first `searchLimit`, every
// further one must be the next one of the stream or, with `gapsAllowed`, a
// later one (the skipped ones are counted in `missing`).
SampleMatch matchStream(StreamReplica& replica, QFile& file, qint64 offset, double gain, qint64 searchLimit,
                               bool gapsAllowed = false)
{
    SampleMatch m;
    const qint64 size = file.size() - offset;
    if (size <= 0 || size % kPacketBytes != 0 || !file.seek(offset)) {
        m.why = QStringLiteral("%1 sample bytes are no whole number of packets").arg(size);
        return m;
    }
    std::vector<qint32> expected;
    for (qint64 p = 0; p < size / kPacketBytes; ++p, ++m.packets) {
        const QByteArray packet = file.read(kPacketBytes);
        const qint64 wanted = replica.index();
        const qint64 limit = p == 0 ? searchLimit : gapsAllowed ? wanted + 20000 : wanted + 1;
        bool equal = false;
        while (!equal && packet.size() == kPacketBytes && replica.index() < limit) {
            replica.next(&expected);
            equal = true;
            for (int i = 0; i < 400 && equal; ++i)
                equal = le24(packet.constData() + 3 * i) == scaled24(expected[size_t(i)], gain);
        }
        if (!equal) {
            m.why = p == 0 ? QStringLiteral("the first packet is none of the stream's first %1").arg(searchLimit)
                           : QStringLiteral("packet %1 of the file is not packet %2 of the stream").arg(p).arg(wanted);
            return m;
        }
        if (p == 0)
            m.firstPacket = replica.index() - 1;
        else
            m.missing += replica.index() - 1 - wanted;
        for (int i = 0; i < 400; ++i)
            m.saturated += std::abs(le24(packet.constData() + 3 * i)) >= 8388607 ? 1 : 0; // at the 24-bit limits
    }
    return m;
}

constexpr double kCentre = 7100000.0;
#ifdef LONG_RECORDING
constexpr quint16 kPort = 53300;
constexpr int kRateIndex = 3;
#else
constexpr quint16 kPort = 53200;
constexpr int kRateIndex = 0;
#endif
constexpr double kRate = 39062.5 * (1 << kRateIndex);
// The strong carrier goes beyond full scale once scaled by 100.
const QString kScene = QStringLiteral("seed 11; noise -120; carrier 7105000 -30; am 7090000 -50 tone=700");
} // namespace

class TestIqRecording : public QObject {
    Q_OBJECT

    LoadedPlugin m_plugin;
    QTemporaryDir m_folder;

    DeviceAbstract* device() { return m_plugin.device(); }
    Simulator& sim() { return *m_plugin.sim; }
    QStringList files() const { return QDir(m_folder.path()).entryList(QDir::Files); }

    // The one file that is in the folder and not in `before`, or empty.
    QString newFile(const QStringList& before) const
    {
        QStringList after = files();
        for (const QString& name : before)
            after.removeAll(name);
        return after.size() == 1 ? m_folder.filePath(after.first()) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        const QString failed = m_plugin.attach(emulator(kPort, kScene));
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        m_plugin.option<QComboBox>("cbSampleRate")->setCurrentIndex(kRateIndex);
        m_plugin.bridge.hostRecorder().setFolder(m_folder.path());
        QVERIFY(device()->open());
        // Tuned where the emulator already is, so its stream is one generator run.
        device()->setFreq(0, 0, kCentre);
        QVERIFY(device()->start());
        QVERIFY(sim().waitUntil([&] { return sim().state().streaming; }, 5000));
        QCOMPARE(sim().state().rateIndex, kRateIndex);
        QCOMPARE(sim().state().freq[0], quint64(kCentre * 10));
        QVERIFY(streamFor(sim(), 0.3));
    }

    void cleanupTestCase()
    {
        m_plugin.unload();
        QVERIFY2(m_plugin.seen.isEmpty(), qPrintable(m_plugin.boxTexts().join(QLatin1Char(','))));
    }

#ifndef LONG_RECORDING
    void formats_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("dataOffset");
        QTest::addColumn<double>("gain");
        QTest::newRow("0: vmsd chunk, payloads as sent") << 0 << "_.wav" << 112 << 1.0;
        QTest::newRow("1: plain, x100") << 1 << "_wv.wav" << 44 << 100.0;
        QTest::newRow("2: auxi chunk, x10^1.5") << 2 << "_hd.wav" << 216 << std::pow(10.0, 1.5);
    }
    void formats()
    {
        QFETCH(int, format);
        QFETCH(QString, suffix);
        QFETCH(int, dataOffset);
        QFETCH(double, gain);
        const QStringList before = files();
        m_plugin.bridge.hostRecorder().setFormat(format);
        QSignalSpy refused(device(), &DeviceAbstract::sWriteIQ);
        const QDateTime started = QDateTime::currentDateTime();
        device()->setWriteIQ(true, 0);
        QVERIFY(refused.isEmpty());
        QVERIFY(streamFor(sim(), 1.0));
        const QDateTime stopped = QDateTime::currentDateTime();
        device()->setWriteIQ(false, 0);
        const QDateTime stopEnd = QDateTime::currentDateTime();
        const QString path = newFile(before);
        QVERIFY2(path.endsWith(suffix) && QFileInfo(path).fileName().startsWith(QCoreApplication::applicationName() + "_ZorvaniDDC_"),
                 qPrintable("one new file per recording: " + path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(dataOffset);
        QCOMPARE(head.size(), dataOffset);
        const qint64 d = file.size() - dataOffset;
        // RIFF, its size, WAVE, then 39062 frames/s of 6 bytes (PCM, 2 channels of 24 bits).
        QCOMPARE(head.left(4) + head.mid(8, 8), QByteArray("RIFFWAVEfmt "));
        QCOMPARE(le<quint32>(head, 4), quint32(format == 1 ? d + 36 : d + 100));
        QCOMPARE(head.mid(16, 20), QByteArray::fromHex("10000000" "0100" "0200" "96980000" "84930300" "0600" "1800"));
        QCOMPARE(head.mid(dataOffset - (format ? 8 : 4), 4), QByteArray("data")); // format 0: no size after it
        if (format)
            QCOMPARE(le<quint32>(head, dataOffset - 4), quint32(d));
        QDateTime start, stop;
        if (format == 0) {
            QCOMPARE(head.mid(36, 12), QByteArray::fromHex("766d7364" "40000000" "01000000")); // "vmsd", 64, 1
            start = stamp(head, 48);
            stop = stamp(head, 64);
            QCOMPARE(le<quint32>(head, 80), 0u);
            QVERIFY(le<double>(head, 84) == kCentre && le<double>(head, 92) == kRate && le<double>(head, 100) == 0.0);
        } else if (format == 2) {
            QCOMPARE(head.mid(36, 8), QByteArray::fromHex("61757869" "a4000000")); // "auxi", 164
            start = stamp(head, 44);
            stop = stamp(head, 60);
            QCOMPARE(le<quint32>(head, 76), quint32(kCentre));
            QCOMPARE(head.mid(80, 128), QByteArray(128, '\0'));
        }
        // Local time, to the millisecond: opened within the start call, closed within the stop call.
        QVERIFY2(format == 1 || (start >= started.addMSecs(-1) && start <= stopped && stop >= stopped.addMSecs(-1) &&
                                 stop <= stopEnd.addMSecs(1)),
                 qPrintable(start.toString(Qt::ISODateWithMs) + " to " + stop.toString(Qt::ISODateWithMs)));

        // The samples: the stream's packets, in order, none missing, as the format scales them.
        StreamReplica replica(m_plugin.sim->config().scene, kCentre, kRate);
        const SampleMatch match = matchStream(replica, file, dataOffset, gain, 5000);
        QVERIFY2(match.why.isEmpty(), qPrintable(match.why));
        QVERIFY2(match.packets >= 150, qPrintable(QStringLiteral("%1 packets in 1 s").arg(match.packets)));
        QVERIFY2(format == 0 ? match.saturated == 0 : match.saturated > 0, "only the scaled carrier saturates");
    }
#else
    // Every packet the plug-in answered while recording is in the file, in the
    // stream's order, and nothing else is. It waits for the packets however
    // long the machine takes, and does not ask the link to lose nothing: on a
    // busy machine the link may give packets up (its own tests count those).
    void twoMinutesAtTheWidestRate()
    {
        m_plugin.bridge.hostRecorder().setFormat(0);
        QSignalSpy refused(device(), &DeviceAbstract::sWriteIQ);
        device()->setWriteIQ(true, 0);
        const quint64 sentAtStart = sim().counters().iqSent;
        QVERIFY(refused.isEmpty());
        // Answers arrive in the order they are sent. Once more packets are
        // answered than had been sent at the start, one of them was handled
        // with the recording on, and every answer to a packet handled before
        // the start has been counted: a packet answered with audio from here
        // on was handled, so it must be in the file. (A bare acknowledge may
        // be a packet the link skipped to resynchronise.)
        QVERIFY(sim().waitUntil([&] { return sim().counters().iqAnswered > sentAtStart; }, 10000));
        const auto atStart = sim().counters();
        QVERIFY(streamPackets(sim(), kRate / 200.0 * 120.0 - double(atStart.iqSent - sentAtStart)));
        const auto beforeStop = sim().counters();
        device()->setWriteIQ(false, 0);
        const qint64 sentAfter = qint64(sim().counters().iqSent);
        device()->stop();
        device()->close();

        QFile file(newFile({}));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(le<quint32>(file.read(8), 4), quint32(file.size() - 112 + 100));
        StreamReplica replica(m_plugin.sim->config().scene, kCentre, kRate);
        const SampleMatch match = matchStream(replica, file, 112, 1.0, sentAfter, true);
        const auto link = sim().counters();
        const qint64 handled = qint64(beforeStop.iqAnswered - atStart.iqAnswered) - qint64(beforeStop.iqAnswersShort - atStart.iqAnswersShort);
        const QString counts = QStringLiteral("answered with audio while recording %1, file %2 packets from %3 with %4 "
                                              "missing; link: %5 sent, %6 answered, %7 re-sent, %8 unknown. %9")
                                   .arg(handled).arg(match.packets).arg(match.firstPacket).arg(match.missing)
                                   .arg(link.iqSent).arg(link.iqAnswered).arg(link.iqResent).arg(link.iqAnswersUnknown).arg(match.why);
        // Nothing the plug-in handled while recording is missing from the
        // file, and a gap in it is only where the receiver had to re-send.
        QVERIFY2(match.why.isEmpty() && match.packets >= handled, qPrintable(counts));
        QVERIFY2(match.missing <= qint64(link.iqResent) && link.iqAnswersUnknown == 0, qPrintable(counts));
    }
#endif
};

QTEST_MAIN(TestIqRecording)
#include "tst_iqrecording.moc"
