// The minimal host's main job, run as a user runs it: the built program
// against its in-process emulator on loopback, its outputs read back by
// independent readers (a WAV parser and a DFT written here).
#include "MinihostRun.h"
#include "Simulator.h"
#include "SpectrumPictures.h"
#include "TestPorts.h"
#include "TinyFilesystem.h"
#include "WavWriter.h"

#include <QSettings>
#include <QtTest>

#include <cmath>
#include <complex>
#include <numeric>

using namespace hosttest;
using testsupport::processPort;

namespace {

QStringList job(const QString& outDir, int portOffset, const QStringList& extra = {}, int seconds = 3)
{
    const QString port = QString::number(processPort(45400, portOffset));
    return withPlugin({"--duration", QString::number(seconds), "--out", outDir, "--port", port}) + extra;
}

// Magnitude of the DFT of the last second of x at f Hz, one bin computed directly.
double dftMagnitude(const std::vector<double>& x, double f)
{
    std::complex<double> acc = 0.0;
    for (std::size_t n = 0; n < 48000; ++n)
        acc += x[x.size() - 48000 + n] * std::polar(1.0, -2.0 * M_PI * f * double(n) / 48000.0);
    return std::abs(acc) / 48000.0;
}

QString iqFile(const QString& folder)
{
    const QStringList files = QDir(folder).entryList({QStringLiteral("minihost_ZorvaniDDC_*.wav")}, QDir::Files);
    return files.size() == 1 ? QDir(folder).filePath(files.first()) : QString();
}

// "WAVE", "fmt ", 16 bytes: PCM, 2 channels, 48000 Hz, 288000 bytes/s, 6 bytes a frame, 24 bits.
const QByteArray kHostFormat =
    QByteArray::fromHex("57415645" "666d7420" "10000000" "0100" "0200" "80bb0000" "00650400" "0600" "1800");

// The samples of a WAV file the host wrote: two channels of 24 bits at 48000
// Hz under a 44-byte header whose sizes count the whole file; else empty,
// with the reason.
QByteArray hostWav(const QString& path, QString* error)
{
    QFile file(path);
    const QByteArray b = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto u32 = [&](int at) { return b.size() < 44 ? 0 : qint64(qFromLittleEndian<quint32>(b.constData() + at)); };
    const bool sized = u32(4) == b.size() - 8 && u32(40) == b.size() - 44;
    if (b.left(4) == "RIFF" && b.mid(8, 28) == kHostFormat && b.mid(36, 4) == "data" && sized)
        return b.mid(44);
    *error = QStringLiteral("%1: not the host's audio header: %2").arg(path, QString::fromLatin1(b.left(44).toHex()));
    return {};
}

// One channel of interleaved two-channel 24-bit samples, full scale 1.0.
std::vector<double> channel(const QByteArray& samples, int c)
{
    std::vector<double> values;
    const auto* p = reinterpret_cast<const uchar*>(samples.constData());
    for (int at = 3 * c; at + 3 <= samples.size(); at += 6)
        values.push_back(double(qint32(quint32(p[at]) << 8 | quint32(p[at + 1]) << 16 | quint32(p[at + 2]) << 24) >> 8) / 8388608.0);
    return values;
}

// Every line in `text`, or the first one missing.
QString missing(const QString& text, const QStringList& lines)
{
    for (const QString& line : lines)
        if (!text.contains(line))
            return line + QStringLiteral(" missing in\n") + text;
    return {};
}

} // namespace

class TestMainJob : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_out; // the default job's output folder
    Run m_default;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("ZORVANI_PLUGIN"), "ZORVANI_PLUGIN names the built plug-in");
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
        QFile scene(m_dir.filePath(QStringLiteral("two.scene")));
        QVERIFY(scene.open(QIODevice::WriteOnly) && scene.write("noise -140\nam 7100000 -50 tone=1000\nam 7150000 -50 tone=600\n"));
        scene.close();
        m_out = m_dir.filePath(QStringLiteral("default"));
        m_default = runMinihost(job(m_out, 0));
    }

    // The default job: clean exit, a panorama with the station in its middle,
    // an IQ recording (its layout: the recording system test) and a summary
    // without a problem (its audio: the next test).
    void defaultJobWritesItsOutputs()
    {
        QVERIFY2(m_default.exitCode == 0 && !m_default.err.contains("minihost:"), qPrintable(m_default.said()));
        QVERIFY2(m_default.out.contains(QStringLiteral("streaming from 127.0.0.2:")), qPrintable(m_default.out));
        const QImage panorama(QDir(m_out).filePath(QStringLiteral("panorama.png")));
        QCOMPARE(panorama.size(), kPanoramaPictureSize);
        // The trace's highest point: the AM carrier, strongest of the default scene, at the tuning.
        const QRect plot = plotArea(panorama.size());
        QPoint top(-1, plot.bottom()); // the first pixel of the trace's colour from the top
        for (int y = plot.top() + 1; y < plot.bottom() && top.x() < 0; ++y)
            for (int x = plot.left() + 1; x < plot.right() && top.x() < 0; ++x) {
                const QColor c = panorama.pixelColor(x, y);
                if (c.red() > 200 && c.green() > 150 && c.blue() < 120)
                    top = QPoint(x, y);
            }
        QVERIFY2(std::abs(top.x() - plot.center().x()) <= 4 && top.y() < plot.top() + plot.height() / 3,
                 qPrintable(QStringLiteral("highest point at %1, %2").arg(top.x()).arg(top.y())));
        QVERIFY2(QFileInfo(iqFile(m_out)).size() > 312500 * 6, "no IQ recording of the run");
        const QString text = readText(QDir(m_out).filePath(QStringLiteral("summary.txt")));
        QVERIFY2(text.contains("rate: 312500 Hz (index 3)") && !text.contains("problem:"), qPrintable(text));
    }

    // The host's WAV writer, which the audio checks read: full scale is
    // 2^23 - 1 both ways, and beyond it saturates.
    void wavWriterSamplesAndHeader()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.wav"));
        WavWriter writer;
        QVERIFY(writer.open(path, 48000, 2));
        const float values[] = {0.0f, 1.0f, -1.0f, 0.5f, 2.0f, -2.0f};
        writer.write(values, 6);
        QCOMPARE(writer.frames(), std::uint64_t(3));
        writer.close();
        QString error;
        const QByteArray samples = hostWav(path, &error);
        QVERIFY2(samples.size() == 18, qPrintable(error));
        QCOMPARE(channel(samples, 0), (std::vector<double>{0.0, -8388607 / 8388608.0, 8388607 / 8388608.0}));
        QCOMPARE(channel(samples, 1), (std::vector<double>{8388607 / 8388608.0, 4194304 / 8388608.0, -8388607 / 8388608.0}));
    }

    void tunedStationDominatesTheAudio_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QList<double>>("tones");
        QTest::addColumn<double>("minimumMarginDb");
        QTest::newRow("AM at 7.1 MHz, 1 kHz tone (default)") << QStringList() << QList<double>{1000.0} << 20.0;
        // Both receivers reach the main output, each with its station of a scene
        // given on the command line; fast AGC and headroom keep their sum clear
        // of full scale, and the mix carries weak sidebands of its own.
        QTest::newRow("two receivers, AM 1 kHz and AM 600 Hz")
            << QStringList{"--scene", m_dir.filePath(QStringLiteral("two.scene")), "--rx2", "7150000:AM", "--agc", "4",
                           "--volume", "-20", "--no-png", "--no-iq"}
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
            const Run run = runMinihost(job(folder, 1, extra));
            QVERIFY2(run.exitCode == 0, qPrintable(run.said()));
        }
        QString error;
        const QByteArray samples = hostWav(QDir(folder).filePath(QStringLiteral("audio.wav")), &error);
        QVERIFY2(error.isEmpty() && samples.size() % 6 == 0, qPrintable(error));
        for (int ch = 0; ch < 2; ++ch) {
            const std::vector<double> x = channel(samples, ch);
            QVERIFY2(x.size() > 2 * 48000 && x.size() < 5 * 48000, qPrintable(QString::number(x.size()))); // a 3 s run
            // The last second, once the AGC has settled; 1 Hz bins: each tone
            // well above everything else between 100 Hz and 4 kHz.
            const double power = std::inner_product(x.end() - 48000, x.end(), x.end() - 48000, 0.0) / 48000.0;
            QVERIFY2(10.0 * std::log10(power + 1e-30) > -40.0, qPrintable(QStringLiteral("channel %1 too quiet").arg(ch)));
            double weakestTone = 1e9, strongestOther = 0.0, strongestAt = 0.0;
            for (double tone : tones)
                weakestTone = std::min(weakestTone, dftMagnitude(x, tone));
            for (double f = 100.0; f <= 4000.0; f += 25.0) {
                const double m = dftMagnitude(x, f);
                if (m > strongestOther && std::none_of(tones.begin(), tones.end(), [f](double t) { return std::abs(f - t) < 40.0; })) {
                    strongestOther = m;
                    strongestAt = f;
                }
            }
            const double marginDb = 20.0 * std::log10(weakestTone / std::max(strongestOther, 1e-12));
            QVERIFY2(marginDb > minimumMarginDb,
                     qPrintable(QStringLiteral("channel %1: tone %2 dB above %3 Hz").arg(ch).arg(marginDb, 0, 'f', 1).arg(strongestAt)));
        }
    }

    void failuresExitNonZeroWithAMessage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString folder = m_dir.filePath(QStringLiteral("failures")), aFile = m_dir.filePath(QStringLiteral("a-file"));
        QFile(aFile).open(QIODevice::WriteOnly);
        QTest::newRow("plug-in that is no plug-in")
            << QStringList{"--plugin", aFile, "--out", folder, "--port", QString::number(processPort(45400, 2))}
            << "not a Qt plug-in";
        QTest::newRow("output folder is a file") << withPlugin({"--out", aFile}) << "output folder";
        // A refused option value reaches the user.
        QTest::newRow("rate that does not exist") << QStringList{"--rate", "48000"} << "--rate";
        // A loopback address where nothing listens: the open fails cleanly.
        QTest::newRow("receiver that does not answer")
            << withPlugin({"--receiver", QStringLiteral("127.0.0.9:%1").arg(processPort(45400, 6)), "--out", folder})
            << "cannot open the receiver at 127.0.0.9";
    }
    void failuresExitNonZeroWithAMessage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run run = runMinihost(arguments);
        QVERIFY2(run.exitCode > 0 && run.err.contains(QStringLiteral("minihost: ")) && run.err.contains(message),
                 qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));
    }

    // A stream that stops is lost: the run ends there (exit 1) and says so on
    // every channel, with no status line after it.
    void lostStreamIsReported()
    {
        const QString folder = m_dir.filePath(QStringLiteral("stall"));
        const Run run = runMinihost(job(folder, 11, {"--faults", "stall=1", "--rate", "0", "--no-png", "--no-iq"}, 40));
        QVERIFY2(run.exitCode == 1, qPrintable(QStringLiteral("exit %1\n%2").arg(run.exitCode).arg(run.said())));
        const QString summary = readText(QDir(folder).filePath(QStringLiteral("summary.txt")));
        const QString lack = missing(summary, {"problem: the receiver's IQ stream was lost", "faults stall=1",
                                               "message: The ZorvaniDDC stopped sending IQ data"});
        QVERIFY2(lack.isEmpty() && summary.contains(QRegularExpression("link: stream lost after \\d+\\.\\d s")), qPrintable(lack + summary));
        QVERIFY2(run.err.contains(QStringLiteral("minihost: the receiver's IQ stream was lost after")), qPrintable(run.err));
        const int lostAt = run.out.indexOf(QStringLiteral("stream lost after"));
        QVERIFY2(lostAt > 0 && !run.out.mid(lostAt).contains(QStringLiteral("/40 s]")), qPrintable(run.out));
    }


    // Killed mid-run, the host leaves an audio file whose header, rewritten as
    // it runs, counts at most a second less than the file holds, never more.
    void killedRunLeavesAReadableAudioFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("killed/audio.wav"));
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        host.setProcessEnvironment(env);
        host.start(QStringLiteral(MINIHOST_PATH), job(QFileInfo(path).path(), 9, {"--no-png", "--no-iq"}, 60));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > 44 + 2 * 48000 * 6, 60000);
        host.kill();
        QVERIFY(host.waitForFinished(15000) && host.exitStatus() == QProcess::CrashExit);
        QFile file(path);
        const QByteArray b = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const qint64 counted = b.size() < 44 ? 0 : qFromLittleEndian<quint32>(b.constData() + 40);
        const QString what =
            QStringLiteral("header %1 bytes of %2: %3").arg(counted).arg(b.size() - 44).arg(QString(b.left(44).toHex()));
        QVERIFY2(b.left(4) == "RIFF" && b.mid(8, 28) == kHostFormat && b.mid(36, 4) == "data", qPrintable(what));
        QVERIFY2(qFromLittleEndian<quint32>(b.constData() + 4) == counted + 36, qPrintable(what));
        QVERIFY2(counted > 0 && counted % 6 == 0, qPrintable(what));
        QVERIFY2(counted <= b.size() - 44 && b.size() - 44 - counted <= 48000 * 6, qPrintable(what));
    }

    // A full disk ends the run with a failure and the plug-in's own words
    // (what the file keeps: the recording tests).
    void fullDiskIsReported()
    {
        // Half a megabyte: filled by a fraction of a second of IQ at 312500 Hz,
        // or by the audio alone within two seconds.
        testsupport::TinyFilesystem disk(512 * 1024);
        if (!disk.isMounted())
            QSKIP(qPrintable(disk.whyNot()));
        const Run run = runMinihost(job(disk.path(), 8));
        QVERIFY2(run.exitCode == 1, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.said())));
        // The plug-in's box reaches the user, and the host reports the recording stopped.
        const QString iq = iqFile(disk.path());
        const QString lack =
            missing(run.err, {QStringLiteral("IQ recording stopped: %1 could not be written (No space left on device)").arg(iq),
                              QStringLiteral("stopped by the plug-in; %1 keeps what was recorded").arg(iq)});
        QVERIFY2(lack.isEmpty(), qPrintable(lack));
    }

    // A firmware update the user asked for runs to its end with its steps on
    // the console, its outcome goes into the summary and the exit status, and
    // the receiver streams afterwards.
    void firmwareUpdateRunsToItsEnd_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("console"); // lines on standard output, in order
        QTest::addColumn<QStringList>("summary"); // lines of summary.txt
        const QStringList written = {"firmware: Connection (state 1)", "firmware: Executing step 1 (state 3)", "firmware: 50 % written",
                                     "firmware: 100 % written", "firmware: Firmware updated. (state 13)", "streaming from 127.0.0.2:"};
        const QStringList updated = {"firmware update: finished: Firmware updated. (state 13)", "emulator firmware: 11.3"};
        QTest::newRow("receiver in its bootloader") << QStringList{"--emulator-firmware", "bootloader", "--update-firmware"} << 0
                                                    << written << updated;
        // A failed update leaves nothing to stream: the summary says why.
        QTest::newRow("flash that cannot be erased")
            << QStringList{"--emulator-firmware", "unerasable", "--update-firmware"} << 1 << QStringList{"firmware: Connection (state 2)"}
            << QStringList{"firmware update: failed: Can not firmware update for ZorvaniDDC. (state 8)",
                           "problem: firmware update failed: Can not firmware update for ZorvaniDDC. (state 8)", "emulator firmware: bootloader"};
    }
    void firmwareUpdateRunsToItsEnd()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, console);
        QFETCH(QStringList, summary);
        static int runs = 0;
        const QString out = m_dir.filePath(QStringLiteral("firmware%1").arg(runs));
        const Run run = runMinihost(withPlugin({"--duration", "1", "--no-png", "--no-iq", "--out", out, "--port",
                                                QString::number(processPort(46500, runs++))}) + arguments, 150000);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.said()));
        for (int line = 0, from = 0; line < console.size(); from += console[line++].size()) {
            from = run.out.indexOf(console[line], from);
            QVERIFY2(from >= 0, qPrintable(QStringLiteral("\"%1\" missing or out of order in:\n%2").arg(console[line], run.out)));
        }
        const QString written = readText(QDir(out).filePath(QStringLiteral("summary.txt")));
        for (const QString& line : summary)
            QVERIFY2(written.contains(line + QLatin1Char('\n')), qPrintable(written));
    }

    // The next run starts with what the last one chose: receiver, rate and
    // mode from the host's choices (a frequency given anew wins), the options page (here LPF off
    // and DSP values) from the plug-in's own settings. --no-settings starts
    // from the defaults and leaves the file alone.
    void nextRunStartsWithTheChoicesOfTheLast()
    {
        const QString file = m_dir.filePath(QStringLiteral("remembered.ini"));
        QFile seed(file); // the options page as a user left it: nothing but this file knows these values
        QVERIFY(seed.open(QIODevice::WriteOnly) && seed.write("[ZorvaniOptions]\nLpf=false\ndsp_nr_taps=40\nagc_user_Decay=3000\n"));
        seed.close();
        zorvani::sim::Config c;
        c.address = QHostAddress(QStringLiteral("127.0.0.11"));
        c.port = processPort(45400, 0); // the default job's, free again
        c.logCommands = false;
        const QString receiver = QStringLiteral("127.0.0.11:%1").arg(c.port);
        zorvani::sim::State state;
        const auto runAgainst = [&](const QString& out, const QStringList& arguments) {
            zorvani::sim::Simulator sim(c);
            const Run run = sim.start() ? runMinihost(withPlugin({"--duration", "1", "--no-wav", "--no-png", "--no-iq", "--out",
                                                                  m_dir.filePath(out)}) + arguments) : Run();
            state = sim.state();
            return run;
        };
        Run run = runAgainst("first", {"--settings", file, "--receiver", receiver, "--rate", "1", "--mode", "USB", "--freq", "7150000"});
        QVERIFY2(run.exitCode == 0, qPrintable(run.said()));
        run = runAgainst("second", {"--settings", file, "--freq", "7160000"}); // a choice given wins over the remembered one
        QVERIFY2(run.exitCode == 0 && run.out.contains(QStringLiteral("streaming from %1 at 78125 Hz").arg(receiver)), qPrintable(run.said()));
        QVERIFY(state.rateIndex == 1 && state.freq[0] == 71600000u && !state.lpf);
        const QString lack = missing(readText(m_dir.filePath(QStringLiteral("second/summary.txt"))),
                                     {"rx1 mode: USB", QStringLiteral("receiver: %1 (Static IP)").arg(receiver), "rate: 78125 Hz (index 1)"});
        QVERIFY2(lack.isEmpty(), qPrintable(lack));
        QSettings saved(file, QSettings::IniFormat);
        saved.beginGroup(QStringLiteral("ZorvaniOptions"));
        QCOMPARE(saved.allKeys().size(), 143);
        QCOMPARE(saved.value(QStringLiteral("dsp_nr_taps")).toInt(), 40);
        QCOMPARE(saved.value(QStringLiteral("agc_user_Decay")).toDouble(), 3000.0);
        QCOMPARE(saved.value(QStringLiteral("SdrAddress")).toByteArray(), QByteArray("127.0.0.11"));

        const QString before = readText(file);
        run = runAgainst("defaults", {"--no-settings", "--receiver", receiver});
        QVERIFY2(run.exitCode == 0, qPrintable(run.said()));
        QVERIFY(state.rateIndex == 3 && state.lpf);
        QVERIFY(readText(m_dir.filePath(QStringLiteral("defaults/summary.txt"))).contains(QStringLiteral("rx1 mode: AM")));
        QCOMPARE(readText(file), before);
    }
};

QTEST_GUILESS_MAIN(TestMainJob)
#include "tst_mainjob.moc"
