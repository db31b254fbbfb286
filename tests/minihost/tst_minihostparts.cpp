// The minimal host's own pieces: command line and remembered choices, output
// level, WAV writer and the pictures, each against values worked out here.
#include "DeviceAbstract.h"
#include "HostOutputs.h"
#include "HostSettings.h"
#include "JobOptions.h"
#include "MinihostRun.h"
#include "WavWriter.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

using namespace hosttest;

namespace {

class TestOutput : public OutputAbstract {
public:
    void setAudioSource(AudioSource) override {}
};

// A plug-in that keeps one value of its own in the settings.
class SettingsDevice : public DeviceAbstract {
public:
    bool init(BridgeAbstract&, QLayout*, bool, bool) override { return true; }
    void saveSettings(QSettings* store) override { store->setValue(QStringLiteral("Device/value"), value); }
    void loadSettings(QSettings* store) override { value = store->value(QStringLiteral("Device/value"), -1).toInt(); }
    int value = 0;
};

} // namespace

class TestMinihostParts : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;

private slots:
    // Qt reads the user's configuration folder once: set before anything asks for it.
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
    }

    // Rates by index or in Hz, the second receiver with or without its mode,
    // a receiver with its port; every value out of range or contradicting
    // another option is refused with a message.
    void commandLineValues()
    {
        const auto parse = [](const QStringList& arguments, JobOptions* o, QString* error) {
            QCommandLineParser parser;
            JobCommandLine commandLine;
            commandLine.setUp(parser);
            if (parser.parse(QStringList{"minihost"} + arguments))
                return commandLine.read(parser, o, error);
            *error = parser.errorText();
            return false;
        };
        const struct {
            QStringList arguments;
            int rateIndex;
            double rx2;
            QString rx2Mode;
            quint16 port;
        } valid[] = {{{"--rate", "0"}, 0, 0.0, {}, 50001},          {{"--rate", "78125"}, 1, 0.0, {}, 50001},
                     {{"--rate", "39062.5"}, 0, 0.0, {}, 50001},    {{"--rx2", "7150000:USB"}, 3, 7150000.0, "USB", 50001},
                     {{"--rx2", "7200000"}, 3, 7200000.0, {}, 50001}, {{"--receiver", "192.0.2.7:50005"}, 3, 0.0, {}, 50005}};
        for (const auto& v : valid) {
            JobOptions o;
            QString error;
            QVERIFY2(parse(v.arguments, &o, &error) && error.isEmpty(), qPrintable(v.arguments.join(' ') + ": " + error));
            QVERIFY2(o.rateIndex == v.rateIndex && o.port == v.port && o.rx2 == (v.rx2 > 0.0) && o.rx2FreqHz == v.rx2 &&
                         o.rx2Mode == v.rx2Mode, qPrintable(v.arguments.join(' ')));
        }
        const QList<QStringList> refused = {
            {"--rate", "4"}, {"--rate", "1.5"}, {"--rate", "48000"}, {"--rx2", "abc:AM"}, {"--receiver", "192.0.2.7:0"},
            {"--receiver", "radio:50001"}, {"--receiver", "192.0.2.7:1", "--discover"}, {"--emulator", "--receiver", "192.0.2.7:1"},
            {"--settings", "x.ini", "--no-settings"}, {"--port", "65536"}, {"--agc", "6"}, {"--volume", "-101"}, {"--volume", "6"},
            {"--receiver", "10.0.0.1"}, {"--faults", "loss=1.5"}, {"--receiver", "10.0.0.1:50001", "--faults", "stall=1"},
            {"--iq-format", "3"}, {"--duration", "0"}, {"--freq", "0"}};
        for (const QStringList& arguments : refused) {
            JobOptions o;
            QString error;
            QVERIFY2(!parse(arguments, &o, &error) && !error.isEmpty(), qPrintable(arguments.join(' ')));
        }
    }

    // One run's choices come back in the next for every option it leaves out;
    // the plug-in's own settings travel in the same file.
    void choicesAreRemembered_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<QString>("expected"); // source port rate mode filter agc frequency
        const QStringList chosen = {"--receiver", "192.0.2.7:50005", "--rate", "1", "--freq", "7150000", "--mode", "USB",
                                    "--filter", "2", "--agc", "3", "--volume", "-10"};
        QTest::newRow("all left out") << chosen << QStringList() << "1 50005 1 USB 2 3 7150000";
        QTest::newRow("given ones win") << chosen << QStringList{"--emulator", "--rate", "2", "--agc", "0"} << "0 50005 2 USB 2 0 7150000";
        QTest::newRow("a new mode drops the filter") << chosen << QStringList{"--mode", "AM"} << "1 50005 1 AM  3 7150000";
        QTest::newRow("discovery") << QStringList{"--discover", "--port", "50010"} << QStringList() << "2 50010 3 AM  -1 7100000";
        QTest::newRow("nothing with --no-settings") << chosen << QStringList{"--no-settings"} << "0 50001 3 AM  -1 7100000";
    }
    void choicesAreRemembered()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QTemporaryDir dir;
        const QStringList file = {QStringLiteral("--settings"), dir.filePath(QStringLiteral("minihost.ini"))};
        JobCommandLine commandLine;
        JobOptions o;
        QString error, note;
        QVERIFY2(commandLine.readRemembered(QStringList("minihost") + first + file, &o, &error, &note), qPrintable(error));
        SettingsDevice device;
        device.value = 42;
        QVERIFY2(HostSettings(o.settingsFile).save(device, &o, &error), qPrintable(error));
        o = JobOptions();
        const QStringList again = second.contains("--no-settings") ? second : second + file;
        QVERIFY2(commandLine.readRemembered(QStringList("minihost") + again + QStringList{"--duration", "5"}, &o, &error, &note),
                 qPrintable(error));
        QVERIFY2(note.isEmpty(), qPrintable(note));
        QTEST(QStringLiteral("%1 %2 %3 %4 %5 %6 %7").arg(int(o.source)).arg(o.port).arg(o.rateIndex).arg(o.mode, o.filter)
                  .arg(o.agc).arg(o.freqHz, 0, 'f', 0), "expected");
        QCOMPARE(o.durationS, 5.0); // not a remembered choice: this run's own
        QVERIFY(o.source != JobOptions::Source::Receiver || o.receiverAddress == QHostAddress(QStringLiteral("192.0.2.7")));
        device.value = 0;
        QVERIFY(HostSettings(o.settingsFile).load(device).isEmpty());
        QCOMPARE(device.value, o.settingsFile.isEmpty() ? 0 : 42);
    }

    // A remembered choice the command line would refuse is not used, and the
    // run goes on with what it was given.
    void refusedChoicesAreNotUsed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("minihost.ini"));
        QSettings store(path, QSettings::IniFormat);
        store.setValue(QStringLiteral("minihost/mode"), QStringLiteral("USB"));
        store.setValue(QStringLiteral("minihost/rate"), QStringLiteral("48000"));
        store.sync();
        JobOptions o;
        QString error, note;
        QVERIFY2(JobCommandLine().readRemembered({"minihost", "--settings", path}, &o, &error, &note), qPrintable(error));
        QVERIFY2(note.contains(QStringLiteral("--rate")) && note.contains(path), qPrintable(note));
        QVERIFY(o.mode == QStringLiteral("AM") && o.rateIndex == 3 && o.settingsFile == path);
    }

    // Amplitude 0.5 left, 0.25 right: RMS 20 log10(A / sqrt 2), peak A, over
    // whole 10 ms blocks; silence reads -200 dBFS; an unwritable file opens nothing.
    void outputLevel()
    {
        for (const double amplitude : {0.5, 0.0}) {
            TestOutput owner;
            PullEngine engine(owner, 48000);
            int n = 0;
            engine.setSource([&n, amplitude](float* buffer, quint32 length, quint32 channels) {
                for (quint32 i = 0; i < length / channels; ++i, ++n) {
                    buffer[channels * i] = float(amplitude * std::sin(2.0 * M_PI * 1000.0 * n / 48000.0));
                    buffer[channels * i + 1] = buffer[channels * i] / 2.0f;
                }
                return true;
            });
            QSignalSpy opened(&owner, &OutputAbstract::opened);
            QVERIFY(!engine.open(QStringLiteral("/nonexistent-folder/audio.wav")) && !engine.isOpen() && opened.isEmpty());
            QVERIFY(engine.open());
            QCOMPARE(opened.count(), 1);
            QTRY_VERIFY_WITH_TIMEOUT(engine.level().frames >= 48000, 5000);
            engine.close();
            const OutputLevel level = engine.level();
            QCOMPARE(level.frames % 480, std::uint64_t(0));
            for (int c = 0; c < 2; ++c) {
                const double a = amplitude / (c + 1);
                const double rms = a > 0.0 ? 20.0 * std::log10(a / std::sqrt(2.0)) : -200.0;
                QVERIFY2(std::abs(level.rmsDbfs[c] - rms) < 0.05 && std::abs(level.peak[c] - a) < 1e-3,
                         qPrintable(QStringLiteral("%1 dBFS, peak %2 for amplitude %3").arg(level.rmsDbfs[c]).arg(level.peak[c]).arg(a)));
            }
        }
    }

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
        const Wav wav = readWav(path);
        QVERIFY2(wav.error.isEmpty(), qPrintable(wav.error));
        QVERIFY(wav.fileSize == 44 + 18 && wav.riffSize == 44 + 18 - 8 && wav.channels == 2 && wav.rate == 48000 && wav.bits == 24);
        // Full scale is 2^23 - 1 both ways; beyond it saturates.
        QCOMPARE(wav.channel(0), (std::vector<double>{0.0, -8388607 / 8388608.0, 8388607 / 8388608.0}));
        QCOMPARE(wav.channel(1), (std::vector<double>{8388607 / 8388608.0, 4194304 / 8388608.0, -8388607 / 8388608.0}));
    }

    // The waterfall keeps evenly spaced frames of the whole run, from the
    // first one on, in order. In the panorama, bin i lies at centre +
    // (i - N/2) * span / N; the plot spans centre +- span/2. Nothing arrived:
    // still pictures, not a crash.
    void pictures()
    {
        WaterfallHistory history(8);
        for (int frame = 0; frame < 100; ++frame) {
            const float line[4] = {float(frame), float(frame), float(frame), float(frame)};
            history.add(line, 4);
        }
        QCOMPARE(history.framesSeen(), std::size_t(100));
        const auto& lines = history.lines();
        QVERIFY(lines.size() <= 8 && lines.size() >= 4 && lines.front().front() == 0.0f);
        const float step = lines[1].front() - lines[0].front();
        for (std::size_t i = 1; i < lines.size(); ++i)
            QVERIFY(lines[i].front() - lines[i - 1].front() == step && lines[i].size() == 4);
        QVERIFY2(lines.back().front() > 100.0f - 2.0f * step, qPrintable(QString::number(lines.back().front())));

        for (const double offsetHz : {0.0, 50000.0, -120000.0}) {
            const PanoramaAxis axis{7100000.0, 312500.0};
            std::vector<float> line(4096, -120.0f);
            line[std::size_t(2048 + std::lround(offsetHz / axis.spanHz * 4096))] = -40.0f;
            const QImage image = renderPanorama(line, axis);
            QCOMPARE(image.size(), kPanoramaPictureSize);
            const QRect plot = plotArea(image.size());
            const double expected = plot.left() + (offsetHz / axis.spanHz + 0.5) * plot.width();
            QVERIFY2(std::abs(traceTop(image).x() - expected) <= 2.0, qPrintable(QString::number(traceTop(image).x())));
            QCOMPARE(renderWaterfall({line, line}, axis).size(), kWaterfallPictureSize);
        }
        QCOMPARE(renderPanorama({}, PanoramaAxis{}).size(), kPanoramaPictureSize);
        QCOMPARE(renderWaterfall({}, PanoramaAxis{}).size(), kWaterfallPictureSize);
    }
};

QTEST_MAIN(TestMinihostParts)
#include "tst_minihostparts.moc"
