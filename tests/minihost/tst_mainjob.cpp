// The minimal host's main job, run as a user runs it: the built program
// against its in-process emulator on loopback, its outputs read back by
// independent readers (Python's wave module, a parser and a DFT written here).
#include "Simulator.h"
#include "SpectrumPictures.h"
#include "TinyFilesystem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// Ports of this program only (54000-54799): other test programs use other
// ranges. Each run of it takes 16 by its process id; each job one of them.
constexpr int kPortsPerRun = 16;
quint16 testPort(int offset)
{
    if (offset < 0 || offset >= kPortsPerRun)
        qFatal("port offset %d beyond this run's %d ports", offset, kPortsPerRun);
    return quint16(54000 + (QCoreApplication::applicationPid() % 50) * kPortsPerRun + offset);
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run runProgram(const QString& program, const QStringList& arguments, int timeoutMs = 30000)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A configuration folder of its own: no run takes another's remembered choices.
    QTemporaryDir config;
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("timed out");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

Run runMinihost(const QStringList& arguments, int timeoutMs = 30000)
{
    return runProgram(QStringLiteral(MINIHOST_PATH), arguments, timeoutMs);
}

QStringList jobArguments(const QString& outDir, int portOffset, const QStringList& extra = {},
                         const QString& seconds = QStringLiteral("3"))
{
    return QStringList{QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN"), QStringLiteral("--duration"),
                       seconds, QStringLiteral("--out"), outDir, QStringLiteral("--port"),
                       QString::number(testPort(portOffset))} +
           extra;
}

// Starts a 60-second job; true once it has reported `seconds` of running.
bool startLongJob(QProcess& process, const QString& outDir, int portOffset, const QStringList& extra, int seconds,
                  QByteArray* output)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MINIHOST_PATH), jobArguments(outDir, portOffset, extra, QStringLiteral("60")));
    const QByteArray mark = QStringLiteral("[%1/60 s]").arg(seconds).toLatin1();
    QDeadlineTimer deadline(30000);
    while (!output->contains(mark) && process.waitForReadyRead(int(deadline.remainingTime())))
        *output += process.readAllStandardOutput();
    return output->contains(mark);
}

// A RIFF/WAVE file as its chunks say, parsed here.
struct Wav {
    QString error;
    quint16 format = 0;
    quint16 channels = 0;
    quint32 rate = 0;
    quint32 byteRate = 0;
    quint16 blockAlign = 0;
    quint16 bits = 0;
    quint32 riffSize = 0;
    qint64 fileSize = 0;
    QByteArray data;
    QStringList chunks;
};

Wav readWav(const QString& path)
{
    Wav wav;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        wav.error = file.errorString();
        return wav;
    }
    const QByteArray bytes = file.readAll();
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    if (bytes.size() < 44 || bytes.left(4) != "RIFF" || bytes.mid(8, 4) != "WAVE") {
        wav.error = QStringLiteral("no RIFF/WAVE header");
        return wav;
    }
    wav.riffSize = u32(4);
    wav.fileSize = bytes.size();
    for (int at = 12; at + 8 <= bytes.size();) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = u32(at + 4);
        if (at + 8 + qint64(size) > bytes.size()) {
            wav.error = QStringLiteral("chunk %1 runs past the end").arg(QString::fromLatin1(id));
            return wav;
        }
        wav.chunks << QString::fromLatin1(id);
        if (id == "fmt ") {
            wav.format = u16(at + 8);
            wav.channels = u16(at + 10);
            wav.rate = u32(at + 12);
            wav.byteRate = u32(at + 16);
            wav.blockAlign = u16(at + 20);
            wav.bits = u16(at + 22);
        } else if (id == "data") {
            wav.data = bytes.mid(at + 8, int(size));
        }
        at += 8 + int(size) + int(size & 1);
    }
    if (!wav.chunks.contains(QStringLiteral("fmt ")) || !wav.chunks.contains(QStringLiteral("data")))
        wav.error = QStringLiteral("fmt or data chunk missing: %1").arg(wav.chunks.join(QLatin1Char(',')));
    return wav;
}

// One channel of 24-bit interleaved audio, full scale 1.0.
std::vector<double> channel24(const Wav& wav, int channel)
{
    std::vector<double> values;
    const int frame = 3 * wav.channels;
    const auto* p = reinterpret_cast<const uchar*>(wav.data.constData());
    for (int at = 3 * channel; at + 3 <= wav.data.size(); at += frame) {
        qint32 v = qint32(p[at]) | qint32(p[at + 1]) << 8 | qint32(p[at + 2]) << 16;
        if (v & 0x800000)
            v -= 0x1000000;
        values.push_back(double(v) / 8388608.0);
    }
    return values;
}

// Magnitude of the DFT of x at f Hz (a single bin, computed directly).
double dftMagnitude(const std::vector<double>& x, std::size_t first, std::size_t count, double f, double rate)
{
    double re = 0.0;
    double im = 0.0;
    for (std::size_t n = 0; n < count; ++n) {
        const double phase = 2.0 * M_PI * f * double(n) / rate;
        re += x[first + n] * std::cos(phase);
        im -= x[first + n] * std::sin(phase);
    }
    return std::hypot(re, im) / double(count);
}

double rmsDb(const std::vector<double>& x, std::size_t first, std::size_t count)
{
    double sum = 0.0;
    for (std::size_t n = 0; n < count; ++n)
        sum += x[first + n] * x[first + n];
    return 10.0 * std::log10(sum / double(count) + 1e-30);
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestMainJob : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_out; // the default job's output folder
    Run m_default;

    // Channels, sample width, rate, frames in the header, frames read.
    QString pythonWave(const QString& path)
    {
        const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        if (python.isEmpty())
            return {};
        const Run run = runProgram(
            python, {QStringLiteral("-c"),
                     QStringLiteral("import sys, wave\n"
                                    "w = wave.open(sys.argv[1])\n"
                                    "n = len(w.readframes(w.getnframes())) // (w.getnchannels() * w.getsampwidth())\n"
                                    "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), n)\n"),
                     path});
        return (run.out + run.err).trimmed();
    }

    QString iqFile(const QString& folder) const
    {
        const QStringList files = QDir(folder).entryList({QStringLiteral("minihost_ZorvaniDDC_*.wav")}, QDir::Files);
        return files.size() == 1 ? QDir(folder).filePath(files.first()) : QString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("ZORVANI_PLUGIN"), "ZORVANI_PLUGIN names the built plug-in");
        // Runs started here keep their settings away from the user's.
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
        QFile scene(m_dir.filePath(QStringLiteral("two.scene")));
        QVERIFY(scene.open(QIODevice::WriteOnly | QIODevice::Text));
        scene.write("noise -140\nam 7100000 -50 tone=1000\nam 7150000 -50 tone=600\n");
        scene.close();
        m_out = m_dir.filePath(QStringLiteral("default"));
        m_default = runMinihost(jobArguments(m_out, 0));
    }

    void defaultJobExitsCleanly()
    {
        QVERIFY2(m_default.exitCode == 0, qPrintable(m_default.err + m_default.out));
        QVERIFY2(m_default.out.contains(QStringLiteral("streaming from 127.0.0.2:")), qPrintable(m_default.out));
        QVERIFY2(!m_default.err.contains(QStringLiteral("minihost:")), qPrintable(m_default.err));
    }

    void audioIsReadByPythonsWaveModule()
    {
        const QString result = pythonWave(QDir(m_out).filePath(QStringLiteral("audio.wav")));
        if (result.isEmpty())
            QSKIP("python3 is not installed");
        const QStringList fields = result.split(QLatin1Char(' '));
        QCOMPARE(fields.size(), 5);
        QCOMPARE(fields[4], fields[3]);
        QCOMPARE(fields[0], QStringLiteral("2"));
        QCOMPARE(fields[1], QStringLiteral("3"));
        QCOMPARE(fields[2], QStringLiteral("48000"));
        // About the run's length at 48000 frames per second.
        QVERIFY2(fields[3].toInt() > 2 * 48000 && fields[3].toInt() < 5 * 48000, qPrintable(result));
    }

    void tunedStationDominatesTheAudio_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QList<double>>("tones");
        QTest::addColumn<double>("minimumMarginDb");
        QTest::newRow("AM at 7.1 MHz, 1 kHz tone (default)") << QStringList() << QList<double>{1000.0} << 20.0;
        QTest::newRow("USB at 7.15 MHz, 700 and 1900 Hz")
            << QStringList{QStringLiteral("--freq"), QStringLiteral("7150000"), QStringLiteral("--mode"),
                           QStringLiteral("USB")}
            << QList<double>{700.0, 1900.0} << 20.0;
        QTest::newRow("NFM at 7.2 MHz by number, 1 kHz tone")
            << QStringList{QStringLiteral("--freq"), QStringLiteral("7200000"), QStringLiteral("--mode"),
                           QStringLiteral("6"), QStringLiteral("--no-png"), QStringLiteral("--no-iq")}
            << QList<double>{1000.0} << 20.0;
        // Both receivers reach the main output, each with its own station of a
        // scene given on the command line. Fast AGC and headroom keep their sum
        // clear of full scale; the margin is smaller, as the mix carries weak
        // sidebands of its own.
        QTest::newRow("two receivers, AM 1 kHz and AM 600 Hz")
            << QStringList{QStringLiteral("--scene"), m_dir.filePath(QStringLiteral("two.scene")), QStringLiteral("--rx2"),
                           QStringLiteral("7150000:AM"), QStringLiteral("--agc"), QStringLiteral("4"),
                           QStringLiteral("--volume"), QStringLiteral("-20"), QStringLiteral("--no-png"),
                           QStringLiteral("--no-iq")}
            << QList<double>{600.0, 1000.0} << 6.0;
    }

    void tunedStationDominatesTheAudio()
    {
        QFETCH(QStringList, extra);
        QFETCH(QList<double>, tones);
        QFETCH(double, minimumMarginDb);
        QString folder = m_out;
        if (!extra.isEmpty()) {
            folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()).left(3).trimmed());
            const Run run = runMinihost(jobArguments(folder, 1, extra));
            QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        }
        if (extra.contains(QStringLiteral("--rx2"))) {
            QFile summary(QDir(folder).filePath(QStringLiteral("summary.txt")));
            QVERIFY(summary.open(QIODevice::ReadOnly | QIODevice::Text));
            const QString text = QString::fromUtf8(summary.readAll());
            for (const QString& line : {QStringLiteral("rx2 frequency: 7150000 Hz"), QStringLiteral("rx2 mode: AM (0)"),
                                        QStringLiteral("meter rx2 ch0: last ")})
                QVERIFY2(text.contains(line), qPrintable(line + QStringLiteral(" missing in\n") + text));
        }
        const Wav wav = readWav(QDir(folder).filePath(QStringLiteral("audio.wav")));
        QVERIFY2(wav.error.isEmpty(), qPrintable(wav.error));
        QCOMPARE(wav.format, quint16(1));
        QCOMPARE(wav.channels, quint16(2));
        QCOMPARE(wav.rate, quint32(48000));
        QCOMPARE(wav.bits, quint16(24));
        QCOMPARE(wav.blockAlign, quint16(6));
        QCOMPARE(wav.byteRate, quint32(48000 * 6));
        QCOMPARE(wav.data.size() % 6, 0);
        QCOMPARE(qint64(wav.riffSize), wav.fileSize - 8);

        // The last second: the AGC has settled by then.
        for (int ch = 0; ch < 2; ++ch) {
            const std::vector<double> x = channel24(wav, ch);
            QVERIFY2(x.size() > 2 * 48000, qPrintable(QString::number(x.size())));
            const std::size_t count = 48000;
            const std::size_t first = x.size() - count;
            const double level = rmsDb(x, first, count);
            QVERIFY2(level > -40.0, qPrintable(QStringLiteral("channel %1 RMS %2 dBFS").arg(ch).arg(level)));
            // 1 Hz bins: each tone well above everything else between 100 Hz and 4 kHz.
            double weakestTone = 1e9;
            for (double tone : tones)
                weakestTone = std::min(weakestTone, dftMagnitude(x, first, count, tone, 48000.0));
            double strongestOther = 0.0;
            double strongestAt = 0.0;
            for (double f = 100.0; f <= 4000.0; f += 25.0) {
                bool nearTone = false;
                for (double tone : tones)
                    nearTone = nearTone || std::abs(f - tone) < 40.0;
                if (nearTone)
                    continue;
                const double m = dftMagnitude(x, first, count, f, 48000.0);
                if (m > strongestOther) {
                    strongestOther = m;
                    strongestAt = f;
                }
            }
            const double marginDb = 20.0 * std::log10(weakestTone / std::max(strongestOther, 1e-12));
            QVERIFY2(marginDb > minimumMarginDb, qPrintable(QStringLiteral("channel %1: tone %2 dB above the strongest other "
                                                                "frequency (%3 Hz)")
                                                     .arg(ch)
                                                     .arg(marginDb, 0, 'f', 1)
                                                     .arg(strongestAt)));
        }
    }

    void picturesLoadWithTheStationInThePanorama()
    {
        QImage panorama(QDir(m_out).filePath(QStringLiteral("panorama.png")));
        QImage waterfall(QDir(m_out).filePath(QStringLiteral("waterfall.png")));
        QVERIFY(!panorama.isNull());
        QVERIFY(!waterfall.isNull());
        QCOMPARE(panorama.size(), kPanoramaPictureSize);
        QCOMPARE(waterfall.size(), kWaterfallPictureSize);

        // The trace's highest point: the AM carrier, strongest emitter of the
        // default scene, at the tuned frequency in the middle of the axis.
        const QRect plot = plotArea(panorama.size());
        int topY = plot.bottom();
        int topX = -1;
        for (int y = plot.top() + 1; y < plot.bottom() && topX < 0; ++y)
            for (int x = plot.left() + 1; x < plot.right(); ++x) {
                const QColor c = panorama.pixelColor(x, y);
                if (c.red() > 200 && c.green() > 150 && c.blue() < 120) {
                    topY = y;
                    topX = x;
                    break;
                }
            }
        QVERIFY2(topX >= 0, "no trace in the panorama");
        QVERIFY2(std::abs(topX - plot.center().x()) <= 4,
                 qPrintable(QStringLiteral("highest point at x %1, centre %2").arg(topX).arg(plot.center().x())));
        QVERIFY2(topY < plot.top() + plot.height() / 3, qPrintable(QString::number(topY)));

        // The waterfall shows the carrier as a bright column over the noise.
        const QRect cells = plotArea(waterfall.size());
        const int y = cells.center().y();
        const int centre = qGray(waterfall.pixel(cells.center().x(), y));
        int quiet = 0;
        for (int x = cells.left() + 10; x < cells.left() + 110; ++x)
            quiet = std::max(quiet, qGray(waterfall.pixel(x, y)));
        QVERIFY2(centre > quiet, qPrintable(QStringLiteral("carrier %1, noise up to %2").arg(centre).arg(quiet)));
    }

    void iqRecordingHasAValidHeader()
    {
        const QString path = iqFile(m_out);
        QVERIFY2(!path.isEmpty(), qPrintable(QDir(m_out).entryList().join(QLatin1Char(' '))));
        QVERIFY2(path.endsWith(QStringLiteral("_hd.wav")), qPrintable(path));
        const Wav wav = readWav(path);
        QVERIFY2(wav.error.isEmpty(), qPrintable(wav.error));
        QCOMPARE(wav.channels, quint16(2));
        QCOMPARE(wav.rate, quint32(312500));
        QCOMPARE(wav.blockAlign, quint16(6));
        QVERIFY(wav.chunks.contains(QStringLiteral("auxi")));
        // This format's RIFF size counts the samples plus 100, whatever the chunks add up to.
        QCOMPARE(wav.riffSize, quint32(wav.data.size() + 100));
        // About the run: 312500 frames of 6 bytes per second, whole frames.
        QCOMPARE(wav.data.size() % 6, 0);
        QVERIFY2(wav.data.size() > 312500 * 6, qPrintable(QString::number(wav.data.size())));
        const QString python = pythonWave(path);
        if (!python.isEmpty())
            QVERIFY2(python.startsWith(QStringLiteral("2 3 312500 ")), qPrintable(python));
    }

    void summaryNamesWhatWasDone()
    {
        QFile file(QDir(m_out).filePath(QStringLiteral("summary.txt")));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(file.readAll());
        for (const QString& line :
             {QStringLiteral("receiver: emulator at 127.0.0.2:%1 (Static IP)").arg(testPort(0)),
              QStringLiteral("rate: 312500 Hz (index 3)"), QStringLiteral("rx1 frequency: 7100000 Hz"),
              QStringLiteral("rx1 mode: AM (0)"), QStringLiteral("rx2: off"), QStringLiteral("file: audio.wav"),
              QStringLiteral("file: panorama.png"), QStringLiteral("file: waterfall.png")})
            QVERIFY2(text.contains(line), qPrintable(line + QStringLiteral(" missing in\n") + text));
        QVERIFY2(!text.contains(QStringLiteral("problem:")), qPrintable(text));

        QRegularExpressionMatch meter =
            QRegularExpression(QStringLiteral("meter rx1 ch0: last (-?[0-9.]+) dBm, mean (-?[0-9.]+) dBm, readings (\\d+)"))
                .match(text);
        QVERIFY2(meter.hasMatch(), qPrintable(text));
        QVERIFY(meter.captured(3).toInt() > 10);
        QVERIFY(meter.captured(1).toDouble() < 0.0 && meter.captured(1).toDouble() > -150.0);

        QRegularExpressionMatch emulator = QRegularExpression(
            QStringLiteral("emulator: IQ packets sent (\\d+), answered (\\d+), lost (\\d+)")).match(text);
        QVERIFY2(emulator.hasMatch(), qPrintable(text));
        const double sent = emulator.captured(1).toDouble();
        // 1562.5 packets per second at 312500 Hz, for about three seconds.
        QVERIFY2(sent > 1562.5 * 2.5 && sent < 1562.5 * 4.5, qPrintable(emulator.captured(0)));
        QVERIFY2(emulator.captured(2).toDouble() > 0.95 * sent, qPrintable(emulator.captured(0)));
        QCOMPARE(emulator.captured(3), QStringLiteral("0"));

        QRegularExpressionMatch audio =
            QRegularExpression(QStringLiteral("audio: (\\d+) frames at 48000 Hz, RMS left (-?[0-9.]+) dBFS")).match(text);
        QVERIFY2(audio.hasMatch(), qPrintable(text));
        QVERIFY(audio.captured(1).toInt() > 2 * 48000);
        QVERIFY(audio.captured(2).toDouble() > -60.0);
    }

    void helpListsEveryOption()
    {
        const Run run = runMinihost({QStringLiteral("--help")});
        QCOMPARE(run.exitCode, 0);
        for (const char* option :
             {"--receiver", "--discover", "--rate", "--freq", "--mode", "--filter", "--agc", "--nr", "--anf", "--nb1",
              "--nb2", "--volume", "--rx2", "--duration", "--out", "--no-wav", "--no-png", "--no-iq", "--scene",
              "--port", "--window", "--plugin", "--lifecycle-only", "--faults", "broadcasts", "Scene format"})
            QVERIFY2(run.out.contains(QLatin1String(option), Qt::CaseInsensitive), option);
    }

    void lifecycleOnlyExitsZero()
    {
        const Run run = runMinihost({QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN"),
                                     QStringLiteral("--lifecycle-only")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        QVERIFY2(run.out.contains(QStringLiteral("device menu received")), qPrintable(run.out));
        QVERIFY2(run.out.trimmed().endsWith(QStringLiteral("done")), qPrintable(run.out));
    }

    void failuresExitNonZeroWithAMessage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString plugin = qEnvironmentVariable("ZORVANI_PLUGIN");
        const QString folder = m_dir.filePath(QStringLiteral("failures"));
        const QString aFile = m_dir.filePath(QStringLiteral("a-file"));
        QFile touch(aFile);
        touch.open(QIODevice::WriteOnly);
        QTest::newRow("plug-in path that does not exist")
            << QStringList{QStringLiteral("--plugin"), m_dir.filePath(QStringLiteral("none.so")),
                           QStringLiteral("--lifecycle-only")}
            << QStringLiteral("not a Qt plug-in");
        QTest::newRow("plug-in that is no plug-in")
            << QStringList{QStringLiteral("--plugin"), aFile, QStringLiteral("--out"), folder, QStringLiteral("--port"),
                           QString::number(testPort(2))}
            << QStringLiteral("not a Qt plug-in");
        QTest::newRow("output folder is a file")
            << QStringList{QStringLiteral("--plugin"), plugin, QStringLiteral("--out"), aFile}
            << QStringLiteral("output folder");
        QTest::newRow("unknown mode")
            << QStringList{QStringLiteral("--plugin"), plugin, QStringLiteral("--out"), folder, QStringLiteral("--port"),
                           QString::number(testPort(3)), QStringLiteral("--mode"), QStringLiteral("XYZ")}
            << QStringLiteral("unknown mode");
        QTest::newRow("filter choice out of range")
            << QStringList{QStringLiteral("--plugin"), plugin, QStringLiteral("--out"), folder, QStringLiteral("--port"),
                           QString::number(testPort(4)), QStringLiteral("--filter"), QStringLiteral("99")}
            << QStringLiteral("--filter");
        QTest::newRow("rate that does not exist") << QStringList{QStringLiteral("--rate"), QStringLiteral("48000")}
                                                  << QStringLiteral("--rate");
        QTest::newRow("volume above 0 dB") << QStringList{QStringLiteral("--volume"), QStringLiteral("6")}
                                           << QStringLiteral("--volume");
        QTest::newRow("receiver without port") << QStringList{QStringLiteral("--receiver"), QStringLiteral("10.0.0.1")}
                                               << QStringLiteral("--receiver");
        QTest::newRow("negative duration") << QStringList{QStringLiteral("--duration"), QStringLiteral("-1")}
                                           << QStringLiteral("--duration");
        QTest::newRow("loss above 1") << QStringList{QStringLiteral("--faults"), QStringLiteral("loss=1.5")}
                                      << QStringLiteral("--faults");
        QTest::newRow("faults for a real receiver")
            << QStringList{QStringLiteral("--receiver"), QStringLiteral("10.0.0.1:50001"), QStringLiteral("--faults"),
                           QStringLiteral("stall=1")}
            << QStringLiteral("--faults");
        QTest::newRow("scene with a bad line")
            << QStringList{QStringLiteral("--plugin"), plugin, QStringLiteral("--out"), folder, QStringLiteral("--port"),
                           QString::number(testPort(5)), QStringLiteral("--scene"), aFile + QStringLiteral(".scene")}
            << QStringLiteral("scene");
    }

    void failuresExitNonZeroWithAMessage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFile bad(m_dir.filePath(QStringLiteral("a-file.scene")));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("am 7100000 loud\n");
        bad.close();
        const Run run = runMinihost(arguments);
        QVERIFY2(run.exitCode > 0, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
        QVERIFY2(run.err.contains(QStringLiteral("minihost: ")) && run.err.contains(message), qPrintable(run.err));
    }

    void terminatedRunEndsCleanlyWithItsOutputs()
    {
        const QString folder = m_dir.filePath(QStringLiteral("terminated"));
        QProcess process;
        QByteArray output;
        QVERIFY2(startLongJob(process, folder, 7, {QStringLiteral("--no-png")}, 1, &output), output.constData());
        process.terminate();
        QVERIFY(process.waitForFinished(15000));
        output += process.readAllStandardOutput();
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
                 qPrintable(QString::fromLocal8Bit(process.readAllStandardError() + output)));
        QVERIFY2(output.contains("interrupted after"), output.constData());
        const Wav wav = readWav(QDir(folder).filePath(QStringLiteral("audio.wav")));
        QVERIFY2(wav.error.isEmpty(), qPrintable(wav.error));
        QCOMPARE(qint64(wav.riffSize), wav.fileSize - 8);
        QVERIFY(wav.data.size() > 48000 * 6);
        const QString iq = iqFile(folder);
        QVERIFY(!iq.isEmpty());
        QVERIFY(readWav(iq).error.isEmpty());
        QVERIFY(QFile::exists(QDir(folder).filePath(QStringLiteral("summary.txt"))));
    }

    // The emulator's faults reach the summary: a stream that stops is lost
    // (the run ends there, exit 1), packets lost beyond the re-sends are given up.
    void linkTroubleIsReported_data()
    {
        QTest::addColumn<QString>("faults");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("summaryLine");
        QTest::newRow("IQ stream stops after 1 s") << QStringLiteral("stall=1") << 1
                                                   << QStringLiteral("link: stream lost after \\d+\\.\\d s");
        QTest::newRow("half the IQ transmissions lost") << QStringLiteral("loss=0.5") << 0
                                                        << QStringLiteral("link: IQ packets given up [1-9]\\d*");
    }
    void linkTroubleIsReported()
    {
        QFETCH(QString, faults);
        QFETCH(int, exitCode);
        QFETCH(QString, summaryLine);
        const QString folder = m_dir.filePath(QStringLiteral("faults-%1").arg(exitCode));
        // The slowest rate: heavy loss makes the emulator re-send a lot.
        QStringList arguments = jobArguments(folder, 10 + exitCode,
                                             {QStringLiteral("--faults"), faults, QStringLiteral("--rate"),
                                              QStringLiteral("0"), QStringLiteral("--no-png"), QStringLiteral("--no-iq")});
        // Long enough that only a lost stream ends it early.
        if (exitCode)
            arguments[arguments.indexOf(QStringLiteral("--duration")) + 1] = QStringLiteral("40");
        const Run run = runMinihost(arguments, 60000);
        QVERIFY2(run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1\n%2%3").arg(run.exitCode).arg(run.out, run.err)));
        QFile file(QDir(folder).filePath(QStringLiteral("summary.txt")));
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString summary = QString::fromUtf8(file.readAll());
        QVERIFY2(summary.contains(QRegularExpression(summaryLine)), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("faults ") + faults), qPrintable(summary));
        if (exitCode == 0) {
            QVERIFY2(run.out.contains(QStringLiteral("IQ packets given up")), qPrintable(run.out));
            QVERIFY2(!summary.contains(QStringLiteral("problem:")), qPrintable(summary));
            return;
        }
        // Said on every channel, and no status line after it.
        QVERIFY2(run.err.contains(QStringLiteral("minihost: the receiver's IQ stream was lost after")), qPrintable(run.err));
        QVERIFY2(summary.contains(QStringLiteral("problem: the receiver's IQ stream was lost")), qPrintable(summary));
        QVERIFY2(summary.contains(QStringLiteral("message: The ZorvaniDDC stopped sending IQ data")), qPrintable(summary));
        const int lostAt = run.out.indexOf(QStringLiteral("stream lost after"));
        QVERIFY2(lostAt > 0, qPrintable(run.out));
        QVERIFY2(!run.out.mid(lostAt).contains(QStringLiteral("/40 s]")), qPrintable(run.out));
    }

    void unansweredReceiverFailsToOpen()
    {
        // A loopback address where nothing listens: the open fails cleanly.
        const Run run = runMinihost({QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN"),
                                     QStringLiteral("--receiver"),
                                     QStringLiteral("127.0.0.9:%1").arg(testPort(6)), QStringLiteral("--out"),
                                     m_dir.filePath(QStringLiteral("absent"))});
        QVERIFY2(run.exitCode > 0, qPrintable(run.out + run.err));
        QVERIFY2(run.err.contains(QStringLiteral("cannot open the receiver at 127.0.0.9")), qPrintable(run.err));
    }

    void fullDiskEndsWithValidFilesAndAFailure()
    {
        // Half a megabyte: filled by a fraction of a second of IQ at 312500 Hz,
        // or by the audio alone within two seconds.
        testsupport::TinyFilesystem disk(512 * 1024);
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.whyNot()));
        const Run run = runMinihost(jobArguments(disk.path(), 8), 60000);
        const QString said = run.err + run.out;
        QVERIFY2(run.exitCode == 1, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(said)));
        // The plug-in's box, the host's own report of each file, and no "wrote":
        // the disk is full to the end, so neither pictures nor summary fit.
        const QString audio = disk.filePath(QStringLiteral("audio.wav"));
        const QString iq = iqFile(disk.path());
        QVERIFY2(!iq.isEmpty(), qPrintable(said));
        for (const QString& text :
             {QStringLiteral("IQ recording stopped: %1 could not be written (No space left on device)").arg(iq),
              QStringLiteral("stopped by the plug-in; %1 keeps what was recorded").arg(iq),
              QStringLiteral("cannot write %1 (No space left on device)").arg(audio),
              QStringLiteral("cannot write %1").arg(disk.filePath(QStringLiteral("summary.txt")))})
            QVERIFY2(run.err.contains(text), qPrintable(text + QStringLiteral(" missing in\n") + run.err));
        QVERIFY2(!run.out.contains(QStringLiteral("wrote ")), qPrintable(run.out));

        // What fit, under headers that count exactly it.
        const Wav sound = readWav(audio);
        QVERIFY2(sound.error.isEmpty(), qPrintable(sound.error));
        QCOMPARE(qint64(sound.riffSize), sound.fileSize - 8);
        QVERIFY(sound.data.size() > 0 && sound.data.size() % 6 == 0);
        const Wav samples = readWav(iq);
        QVERIFY2(samples.error.isEmpty(), qPrintable(samples.error));
        QCOMPARE(samples.fileSize, qint64(216 + samples.data.size()));
        QCOMPARE(samples.riffSize, quint32(samples.data.size() + 100));
        QVERIFY(samples.data.size() > 64 * 1024 && samples.data.size() % 6 == 0);
    }

    void killedRunLeavesReadableFiles()
    {
        const QString folder = m_dir.filePath(QStringLiteral("killed"));
        QProcess process;
        QByteArray output;
        QVERIFY2(startLongJob(process, folder, 9,
                              {QStringLiteral("--no-png"), QStringLiteral("--iq-format"), QStringLiteral("1")}, 3, &output),
                 output.constData());
        process.kill();
        QVERIFY(process.waitForFinished(15000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);

        const QString iq = iqFile(folder);
        QVERIFY2(!iq.isEmpty(), qPrintable(QDir(folder).entryList().join(QLatin1Char(' '))));
        const QString sox = QStandardPaths::findExecutable(QStringLiteral("sox"));
        const QString soxi = QStandardPaths::findExecutable(QStringLiteral("soxi"));
        const struct {
            QString path;
            int rate;
        } files[] = {{QDir(folder).filePath(QStringLiteral("audio.wav")), 48000}, {iq, 312500}};
        for (const auto& file : files) {
            // The header counts what the last rewrite saw: at most a second
            // less than the file holds, never more.
            const QString python = pythonWave(file.path);
            if (python.isEmpty())
                QSKIP("python3 is not installed");
            const QStringList fields = python.split(QLatin1Char(' '));
            QVERIFY2(fields.size() == 5 && fields[0] == QLatin1String("2") && fields[2].toInt() == file.rate,
                     qPrintable(file.path + QStringLiteral(": ") + python));
            const qint64 counted = fields[3].toLongLong();
            const qint64 onDisk = (QFileInfo(file.path).size() - 44) / 6;
            QCOMPARE(fields[4].toLongLong(), counted);
            QVERIFY2(counted > 0 && counted <= onDisk && onDisk - counted <= file.rate,
                     qPrintable(QStringLiteral("%1: header %2 frames, file %3").arg(file.path).arg(counted).arg(onDisk)));
            if (sox.isEmpty() || soxi.isEmpty())
                QSKIP("sox is not installed");
            QCOMPARE(runProgram(soxi, {QStringLiteral("-s"), file.path}).out.trimmed(), QString::number(counted));
            // sox decodes every counted frame (two values each).
            const Run decoded = runProgram(sox, {file.path, QStringLiteral("-n"), QStringLiteral("stat")});
            const QRegularExpressionMatch read =
                QRegularExpression(QStringLiteral("Samples read:\\s+(\\d+)")).match(decoded.err);
            QVERIFY2(decoded.exitCode == 0 && read.hasMatch(), qPrintable(decoded.err));
            QCOMPARE(read.captured(1).toLongLong(), 2 * counted);
        }
    }

    // --help says where the settings are kept: the user's configuration folder
    // (for these runs, each run's own).
    void helpNamesTheSettingsFile()
    {
        const Run run = runMinihost({QStringLiteral("--help")});
        QCOMPARE(run.exitCode, 0);
        const QRegularExpressionMatch file =
            QRegularExpression(QStringLiteral("default:\\s+(\\S+)/ZorvaniDDC/minihost\\.ini\\)")).match(run.out);
        QVERIFY2(file.hasMatch(), qPrintable(run.out));
        QVERIFY2(file.captured(1).startsWith(QDir::tempPath()), qPrintable(file.captured(1)));
        for (const char* option : {"--settings", "--no-settings", "--emulator"})
            QVERIFY2(run.out.contains(QLatin1String(option)), option);
    }

    // The next run starts with what the last one chose: the receiver, rate,
    // mode and frequency from the host's choices, the options page (here LPF
    // off and DSP values) from the plug-in's own settings. --no-settings
    // starts from the defaults and leaves the file alone.
    void nextRunStartsWithTheChoicesOfTheLast()
    {
        const QString file = m_dir.filePath(QStringLiteral("remembered.ini"));
        {
            // The options page as a user left it: nothing but this file knows these values.
            QFile seed(file);
            QVERIFY(seed.open(QIODevice::WriteOnly | QIODevice::Text));
            seed.write("[ZorvaniOptions]\nLpf=false\ndsp_nr_taps=40\nagc_user_Decay=3000\n");
        }
        zorvani::sim::Config c;
        c.address = QHostAddress(QStringLiteral("127.0.0.11"));
        c.port = testPort(0); // the default job's, free again
        c.logCommands = false;
        const QString receiver = QStringLiteral("127.0.0.11:%1").arg(c.port);
        const QStringList quick = {QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN"),
                                   QStringLiteral("--duration"), QStringLiteral("1"), QStringLiteral("--no-wav"),
                                   QStringLiteral("--no-png"), QStringLiteral("--no-iq")};
        const auto runAgainst = [&](const QString& out, const QStringList& arguments, zorvani::sim::State* state) {
            zorvani::sim::Simulator sim(c);
            if (!sim.start())
                return Run();
            const Run run = runMinihost(quick + QStringList{QStringLiteral("--out"), m_dir.filePath(out)} + arguments);
            *state = sim.state();
            return run;
        };

        zorvani::sim::State state;
        Run run = runAgainst(QStringLiteral("first"),
                             {QStringLiteral("--settings"), file, QStringLiteral("--receiver"), receiver,
                              QStringLiteral("--rate"), QStringLiteral("1"), QStringLiteral("--mode"),
                              QStringLiteral("USB"), QStringLiteral("--freq"), QStringLiteral("7150000")},
                             &state);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));

        run = runAgainst(QStringLiteral("second"), {QStringLiteral("--settings"), file}, &state);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        QVERIFY2(run.out.contains(QStringLiteral("streaming from %1 at 78125 Hz").arg(receiver)), qPrintable(run.out));
        QCOMPARE(state.rateIndex, 1);
        QCOMPARE(state.freq[0], quint64(71500000));
        QVERIFY(!state.lpf);
        const QString summary = readText(m_dir.filePath(QStringLiteral("second/summary.txt")));
        QVERIFY2(summary.contains(QStringLiteral("rx1 mode: USB")), qPrintable(summary));
        QSettings saved(file, QSettings::IniFormat);
        saved.beginGroup(QStringLiteral("ZorvaniOptions"));
        QCOMPARE(saved.allKeys().size(), 143);
        QCOMPARE(saved.value(QStringLiteral("dsp_nr_taps")).toInt(), 40);
        QCOMPARE(saved.value(QStringLiteral("agc_user_Decay")).toDouble(), 3000.0);
        QCOMPARE(saved.value(QStringLiteral("SdrAddress")).toByteArray(), QByteArray("127.0.0.11"));

        const QString before = readText(file);
        run = runAgainst(QStringLiteral("defaults"),
                         {QStringLiteral("--no-settings"), QStringLiteral("--receiver"), receiver}, &state);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err + run.out));
        QCOMPARE(state.rateIndex, 3);
        QVERIFY(state.lpf);
        const QString defaults = readText(m_dir.filePath(QStringLiteral("defaults/summary.txt")));
        QVERIFY2(defaults.contains(QStringLiteral("rx1 mode: AM")), qPrintable(defaults));
        QCOMPARE(readText(file), before);
    }
};

QTEST_GUILESS_MAIN(TestMainJob)
#include "tst_mainjob.moc"
