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

bool parse(const QStringList& arguments, JobOptions* options, QString* error)
{
    QCommandLineParser parser;
    JobCommandLine commandLine;
    commandLine.setUp(parser);
    if (!parser.parse(QStringList{QStringLiteral("minihost")} + arguments)) {
        *error = parser.errorText();
        return false;
    }
    return commandLine.read(parser, options, error);
}

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

    void values_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<double>("rx2Freq");
        QTest::addColumn<QString>("rx2Mode");
        QTest::addColumn<quint16>("port");
        const auto ok = [](const char* name, const QStringList& args, int rate, double rx2, const QString& mode,
                           quint16 port) { QTest::newRow(name) << args << true << rate << rx2 << mode << port; };
        const auto bad = [](const char* name, const QStringList& args) {
            QTest::newRow(name) << args << false << 0 << 0.0 << QString() << quint16(0);
        };
        ok("rate index 0", {"--rate", "0"}, 0, 0.0, QString(), 50001);
        ok("rate 78125 Hz", {"--rate", "78125"}, 1, 0.0, QString(), 50001);
        ok("rate 39062.5 Hz", {"--rate", "39062.5"}, 0, 0.0, QString(), 50001);
        ok("rx2 with mode", {"--rx2", "7150000:USB"}, 3, 7150000.0, "USB", 50001);
        ok("rx2 without mode", {"--rx2", "7200000"}, 3, 7200000.0, QString(), 50001);
        ok("receiver with its port", {"--receiver", "192.0.2.7:50005"}, 3, 0.0, QString(), 50005);
        bad("rate index 4", {"--rate", "4"});
        bad("rate 1.5", {"--rate", "1.5"});
        bad("rate 48000 Hz", {"--rate", "48000"});
        bad("rx2 not a number", {"--rx2", "abc:AM"});
        bad("receiver port 0", {"--receiver", "192.0.2.7:0"});
        bad("receiver host name", {"--receiver", "radio:50001"});
        bad("receiver and discover", {"--receiver", "192.0.2.7:1", "--discover"});
        bad("emulator and receiver", {"--emulator", "--receiver", "192.0.2.7:1"});
        bad("settings and none", {"--settings", "x.ini", "--no-settings"});
        bad("port 65536", {"--port", "65536"});
        bad("agc 6", {"--agc", "6"});
        bad("volume -101", {"--volume", "-101"});
        bad("volume above 0 dB", {"--volume", "6"});
        bad("receiver without port", {"--receiver", "10.0.0.1"});
        bad("loss above 1", {"--faults", "loss=1.5"});
        bad("faults for a real receiver", {"--receiver", "10.0.0.1:50001", "--faults", "stall=1"});
        bad("iq format 3", {"--iq-format", "3"});
        bad("duration 0", {"--duration", "0"});
        bad("frequency 0", {"--freq", "0"});
    }
    void values()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        QFETCH(double, rx2Freq);
        JobOptions o;
        QString error;
        QVERIFY2(parse(arguments, &o, &error) == valid, qPrintable(error));
        QCOMPARE(error.isEmpty(), valid);
        if (!valid)
            return;
        QTEST(o.rateIndex, "rateIndex");
        QTEST(o.port, "port");
        QCOMPARE(o.rx2, rx2Freq > 0.0);
        QCOMPARE(o.rx2FreqHz, rx2Freq);
        QTEST(o.rx2Mode, "rx2Mode");
    }

    // One run's choices come back in the next for every option it leaves out;
    // the plug-in's own settings travel in the same file.
    void choicesAreRemembered_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<int>("source");
        QTest::addColumn<quint16>("port");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("agc");
        QTest::addColumn<double>("freq");
        const QStringList chosen = {"--receiver", "192.0.2.7:50005", "--rate", "1", "--freq", "7150000", "--mode",
                                    "USB", "--filter", "2", "--agc", "3", "--volume", "-10"};
        const int receiver = int(JobOptions::Source::Receiver), emulator = int(JobOptions::Source::Emulator);
        QTest::newRow("all left out") << chosen << QStringList() << receiver << quint16(50005) << 1 << "USB" << "2" << 3
                                      << 7150000.0;
        QTest::newRow("given ones win") << chosen << QStringList{"--emulator", "--rate", "2", "--agc", "0"} << emulator
                                        << quint16(50005) << 2 << "USB" << "2" << 0 << 7150000.0;
        QTest::newRow("a new mode drops the filter")
            << chosen << QStringList{"--mode", "AM"} << receiver << quint16(50005) << 1 << "AM" << "" << 3 << 7150000.0;
        QTest::newRow("discovery") << QStringList{"--discover", "--port", "50010"} << QStringList()
                                   << int(JobOptions::Source::Discover) << quint16(50010) << 3 << "AM" << "" << -1
                                   << 7100000.0;
        QTest::newRow("nothing with --no-settings") << chosen << QStringList{"--no-settings"} << emulator
                                                    << quint16(50001) << 3 << "AM" << "" << -1 << 7100000.0;
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
        if (!second.contains(QStringLiteral("--no-settings")))
            second += file;
        o = JobOptions();
        QVERIFY2(commandLine.readRemembered(QStringList("minihost") + second + QStringList{"--duration", "5"}, &o, &error,
                                            &note),
                 qPrintable(error));
        QVERIFY2(note.isEmpty(), qPrintable(note));
        QTEST(int(o.source), "source");
        QTEST(o.port, "port");
        QTEST(o.rateIndex, "rateIndex");
        QTEST(o.mode, "mode");
        QTEST(o.filter, "filter");
        QTEST(o.agc, "agc");
        QTEST(o.freqHz, "freq");
        QCOMPARE(o.durationS, 5.0); // not a remembered choice: this run's own
        if (o.source == JobOptions::Source::Receiver)
            QCOMPARE(o.receiverAddress, QHostAddress(QStringLiteral("192.0.2.7")));
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
        {
            QSettings store(path, QSettings::IniFormat);
            store.setValue(QStringLiteral("minihost/mode"), QStringLiteral("USB"));
            store.setValue(QStringLiteral("minihost/rate"), QStringLiteral("48000"));
        }
        JobOptions o;
        QString error, note;
        QVERIFY2(JobCommandLine().readRemembered({"minihost", "--settings", path}, &o, &error, &note), qPrintable(error));
        QVERIFY2(note.contains(QStringLiteral("--rate")) && note.contains(path), qPrintable(note));
        QCOMPARE(o.mode, QStringLiteral("AM"));
        QCOMPARE(o.rateIndex, 3);
        QCOMPARE(o.settingsFile, path);
    }

    // Amplitude 0.5 left, 0.25 right: RMS 20 log10(A / sqrt 2), peak A, over
    // whole 10 ms blocks; silence reads -200 dBFS; an unwritable file opens nothing.
    void outputLevel_data()
    {
        QTest::addColumn<double>("amplitude");
        QTest::newRow("sine") << 0.5;
        QTest::newRow("silence") << 0.0;
    }
    void outputLevel()
    {
        QFETCH(double, amplitude);
        TestOutput owner;
        PullEngine engine(owner, 48000);
        int n = 0;
        engine.setSource([&n, amplitude](float* buffer, quint32 length, quint32 channels) {
            for (quint32 i = 0; i < length / channels; ++i, ++n) {
                const double s = amplitude * std::sin(2.0 * M_PI * 1000.0 * n / 48000.0);
                buffer[channels * i] = float(s);
                buffer[channels * i + 1] = float(s / 2.0);
            }
            return true;
        });
        QSignalSpy opened(&owner, &OutputAbstract::opened);
        QVERIFY(!engine.open(QStringLiteral("/nonexistent-folder/audio.wav")));
        QVERIFY(!engine.isOpen());
        QCOMPARE(opened.count(), 0);
        QVERIFY(engine.open());
        QCOMPARE(opened.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(engine.level().frames >= 48000, 5000);
        engine.close();
        const OutputLevel level = engine.level();
        QCOMPARE(level.frames % 480, std::uint64_t(0));
        for (int c = 0; c < 2; ++c) {
            const double a = amplitude / (c + 1);
            if (a == 0.0) {
                QCOMPARE(level.rmsDbfs[c], -200.0);
                QCOMPARE(level.peak[c], 0.0);
                continue;
            }
            QVERIFY2(std::abs(level.rmsDbfs[c] - 20.0 * std::log10(a / std::sqrt(2.0))) < 0.05,
                     qPrintable(QString::number(level.rmsDbfs[c])));
            QVERIFY(std::abs(level.peak[c] - a) < 1e-3);
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
        QCOMPARE(wav.fileSize, qint64(44 + 18));
        QCOMPARE(qint64(wav.riffSize), wav.fileSize - 8);
        QVERIFY(wav.channels == 2 && wav.rate == 48000 && wav.bits == 24 && wav.data.size() == 18);
        // Full scale is 2^23 - 1 both ways; beyond it saturates.
        const std::vector<double> left = wav.channel(0), right = wav.channel(1);
        QCOMPARE(left, (std::vector<double>{0.0, -8388607 / 8388608.0, 8388607 / 8388608.0}));
        QCOMPARE(right, (std::vector<double>{8388607 / 8388608.0, 4194304 / 8388608.0, -8388607 / 8388608.0}));
    }

    void waterfallHistoryCoversTheWholeRun()
    {
        WaterfallHistory history(8);
        float line[4];
        for (int frame = 0; frame < 100; ++frame) {
            std::fill(std::begin(line), std::end(line), float(frame));
            history.add(line, 4);
        }
        QCOMPARE(history.framesSeen(), std::size_t(100));
        const auto& lines = history.lines();
        QVERIFY(lines.size() <= 8 && lines.size() >= 4);
        // Evenly spaced frames from the first one on, in order.
        QCOMPARE(lines.front().front(), 0.0f);
        const float step = lines[1].front() - lines[0].front();
        for (std::size_t i = 1; i < lines.size(); ++i)
            QCOMPARE(lines[i].front() - lines[i - 1].front(), step);
        QVERIFY2(lines.back().front() > 100.0f - 2.0f * step, qPrintable(QString::number(lines.back().front())));
        for (const auto& l : lines)
            QCOMPARE(l.size(), std::size_t(4));
    }

    // Bin i lies at centre + (i - N/2) * span / N; the plot spans centre +- span/2.
    void panoramaPlacesAPeakAtItsFrequency_data()
    {
        QTest::addColumn<double>("offsetHz");
        QTest::newRow("centre") << 0.0;
        QTest::newRow("+50 kHz") << 50000.0;
        QTest::newRow("-120 kHz") << -120000.0;
    }
    void panoramaPlacesAPeakAtItsFrequency()
    {
        QFETCH(double, offsetHz);
        PanoramaAxis axis;
        axis.centreHz = 7100000.0;
        axis.spanHz = 312500.0;
        std::vector<float> line(4096, -120.0f);
        line[std::size_t(2048 + std::lround(offsetHz / axis.spanHz * 4096))] = -40.0f;
        const QImage image = renderPanorama(line, axis);
        QCOMPARE(image.size(), kPanoramaPictureSize);
        const QRect plot = plotArea(image.size());
        const double expected = plot.left() + (offsetHz / axis.spanHz + 0.5) * plot.width();
        QVERIFY2(std::abs(traceTop(image).x() - expected) <= 2.0, qPrintable(QString::number(traceTop(image).x())));
        QCOMPARE(renderWaterfall({line, line}, axis).size(), kWaterfallPictureSize);
        // Nothing arrived: still pictures, not a crash.
        QCOMPARE(renderPanorama({}, axis).size(), kPanoramaPictureSize);
        QCOMPARE(renderWaterfall({}, PanoramaAxis{}).size(), kWaterfallPictureSize);
    }
};

QTEST_MAIN(TestMinihostParts)
#include "tst_minihostparts.moc"
