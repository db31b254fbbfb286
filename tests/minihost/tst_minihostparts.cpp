// The minimal host's own pieces: command line, output level, WAV writer and
// the waterfall's history, each against values worked out here.
#include "DeviceAbstract.h"
#include "HostOutputs.h"
#include "HostSettings.h"
#include "JobOptions.h"
#include "SpectrumPictures.h"
#include "WavWriter.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

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

    void defaultsRunTheEmulatorJob()
    {
        JobOptions o;
        QString error;
        QVERIFY2(parse({}, &o, &error), qPrintable(error));
        QCOMPARE(int(o.source), int(JobOptions::Source::Emulator));
        QCOMPARE(o.port, quint16(50001));
        QCOMPARE(o.rateIndex, 3); // WFM needs the widest rate
        QCOMPARE(o.freqHz, 7100000.0);
        QCOMPARE(o.mode, QStringLiteral("AM"));
        QCOMPARE(o.agc, -1);
        QVERIFY(o.wav && o.png && o.iq && !o.rx2 && !o.lifecycleOnly);
        QCOMPARE(o.outDir, QStringLiteral("out"));
        QCOMPARE(o.settingsFile, m_config.path() + QStringLiteral("/ZorvaniDDC/minihost.ini"));
    }

    void values_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<double>("rx2Freq");
        QTest::addColumn<QString>("rx2Mode");
        QTest::addColumn<quint16>("port");

        QTest::newRow("rate index 0") << QStringList{"--rate", "0"} << true << 0 << 0.0 << QString() << quint16(50001);
        QTest::newRow("rate 78125 Hz") << QStringList{"--rate", "78125"} << true << 1 << 0.0 << QString() << quint16(50001);
        QTest::newRow("rate 39062.5 Hz") << QStringList{"--rate", "39062.5"} << true << 0 << 0.0 << QString()
                                         << quint16(50001);
        QTest::newRow("rate index 4") << QStringList{"--rate", "4"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("rate 1.5") << QStringList{"--rate", "1.5"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("rate 48000 Hz") << QStringList{"--rate", "48000"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("rx2 with mode") << QStringList{"--rx2", "7150000:USB"} << true << 3 << 7150000.0
                                       << QStringLiteral("USB") << quint16(50001);
        QTest::newRow("rx2 without mode") << QStringList{"--rx2", "7200000"} << true << 3 << 7200000.0 << QString()
                                          << quint16(50001);
        QTest::newRow("rx2 not a number") << QStringList{"--rx2", "abc:AM"} << false << 0 << 0.0 << QString()
                                          << quint16(0);
        QTest::newRow("receiver with its port") << QStringList{"--receiver", "192.0.2.7:50005"} << true << 3 << 0.0
                                                << QString() << quint16(50005);
        QTest::newRow("receiver port 0") << QStringList{"--receiver", "192.0.2.7:0"} << false << 0 << 0.0 << QString()
                                         << quint16(0);
        QTest::newRow("receiver host name") << QStringList{"--receiver", "radio:50001"} << false << 0 << 0.0
                                            << QString() << quint16(0);
        QTest::newRow("receiver and discover") << QStringList{"--receiver", "192.0.2.7:1", "--discover"} << false << 0
                                               << 0.0 << QString() << quint16(0);
        QTest::newRow("emulator and receiver") << QStringList{"--emulator", "--receiver", "192.0.2.7:1"} << false << 0
                                               << 0.0 << QString() << quint16(0);
        QTest::newRow("settings and none") << QStringList{"--settings", "x.ini", "--no-settings"} << false << 0 << 0.0
                                           << QString() << quint16(0);
        QTest::newRow("port 65536") << QStringList{"--port", "65536"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("agc 6") << QStringList{"--agc", "6"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("volume -101") << QStringList{"--volume", "-101"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("iq format 3") << QStringList{"--iq-format", "3"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("duration 0") << QStringList{"--duration", "0"} << false << 0 << 0.0 << QString() << quint16(0);
        QTest::newRow("frequency 0") << QStringList{"--freq", "0"} << false << 0 << 0.0 << QString() << quint16(0);
    }

    void values()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        JobOptions o;
        QString error;
        const bool ok = parse(arguments, &o, &error);
        QVERIFY2(ok == valid, qPrintable(error));
        if (!valid) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QTEST(o.rateIndex, "rateIndex");
        QTEST(o.port, "port");
        QFETCH(double, rx2Freq);
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
        const int receiver = int(JobOptions::Source::Receiver);
        QTest::newRow("all left out") << chosen << QStringList() << receiver << quint16(50005) << 1 << "USB" << "2" << 3
                                      << 7150000.0;
        QTest::newRow("given ones win") << chosen << QStringList{"--emulator", "--rate", "2", "--agc", "0"}
                                        << int(JobOptions::Source::Emulator) << quint16(50005) << 2 << "USB" << "2"
                                        << 0 << 7150000.0;
        QTest::newRow("a new mode drops the filter")
            << chosen << QStringList{"--mode", "AM"} << receiver << quint16(50005) << 1 << "AM" << "" << 3 << 7150000.0;
        QTest::newRow("discovery") << QStringList{"--discover", "--port", "50010"} << QStringList()
                                   << int(JobOptions::Source::Discover) << quint16(50010) << 3 << "AM" << "" << -1
                                   << 7100000.0;
        QTest::newRow("nothing with --no-settings")
            << chosen << QStringList{"--no-settings"} << int(JobOptions::Source::Emulator) << quint16(50001) << 3
            << "AM" << "" << -1 << 7100000.0;
    }
    void choicesAreRemembered()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        QTemporaryDir dir;
        const QStringList file = {QStringLiteral("--settings"), dir.filePath(QStringLiteral("minihost.ini"))};
        JobCommandLine commandLine;
        JobOptions o;
        QString error;
        QString note;
        QVERIFY2(commandLine.readRemembered(QStringList("minihost") + first + file, &o, &error, &note),
                 qPrintable(error));
        SettingsDevice device;
        device.value = 42;
        QVERIFY2(HostSettings(o.settingsFile).save(device, &o, &error), qPrintable(error));

        if (!second.contains(QStringLiteral("--no-settings")))
            second += file;
        o = JobOptions();
        QVERIFY2(commandLine.readRemembered(QStringList("minihost") + second + QStringList{"--duration", "5"}, &o,
                                            &error, &note),
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
        const bool remembers = !o.settingsFile.isEmpty();
        if (o.source == JobOptions::Source::Receiver)
            QCOMPARE(o.receiverAddress, QHostAddress(QStringLiteral("192.0.2.7")));
        device.value = 0;
        QVERIFY(HostSettings(o.settingsFile).load(device).isEmpty());
        QCOMPARE(device.value, remembers ? 42 : 0);
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
        QString error;
        QString note;
        QVERIFY2(JobCommandLine().readRemembered({"minihost", "--settings", path}, &o, &error, &note),
                 qPrintable(error));
        QVERIFY2(note.contains(QStringLiteral("--rate")) && note.contains(path), qPrintable(note));
        QCOMPARE(o.mode, QStringLiteral("AM"));
        QCOMPARE(o.rateIndex, 3);
        QCOMPARE(o.settingsFile, path);
    }

    void outputLevelOfASine()
    {
        // Amplitude 0.5 left, 0.25 right: RMS 20 log10(A / sqrt 2), peak A.
        TestOutput owner;
        PullEngine engine(owner, 48000);
        int n = 0;
        engine.setSource([&n](float* buffer, quint32 length, quint32 channels) {
            for (quint32 i = 0; i < length / channels; ++i, ++n) {
                const double s = std::sin(2.0 * M_PI * 1000.0 * n / 48000.0);
                buffer[channels * i] = float(0.5 * s);
                buffer[channels * i + 1] = float(0.25 * s);
            }
            return true;
        });
        QSignalSpy opened(&owner, &OutputAbstract::opened);
        QVERIFY(engine.open());
        QCOMPARE(opened.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(engine.level().frames >= 48000, 5000);
        engine.close();
        const OutputLevel level = engine.level();
        QCOMPARE(level.frames % 480, std::uint64_t(0)); // whole 10 ms blocks
        QVERIFY2(std::abs(level.rmsDbfs[0] - 20.0 * std::log10(0.5 / std::sqrt(2.0))) < 0.05,
                 qPrintable(QString::number(level.rmsDbfs[0])));
        QVERIFY2(std::abs(level.rmsDbfs[1] - 20.0 * std::log10(0.25 / std::sqrt(2.0))) < 0.05,
                 qPrintable(QString::number(level.rmsDbfs[1])));
        QVERIFY(std::abs(level.peak[0] - 0.5) < 1e-3);
        QVERIFY(std::abs(level.peak[1] - 0.25) < 1e-3);
    }

    void silenceAndUnwritablePath()
    {
        TestOutput owner;
        PullEngine engine(owner, 48000);
        engine.setSource([](float* buffer, quint32 length, quint32) {
            std::fill(buffer, buffer + length, 0.0f);
            return true;
        });
        QSignalSpy opened(&owner, &OutputAbstract::opened);
        QVERIFY(!engine.open(QStringLiteral("/nonexistent-folder/audio.wav")));
        QVERIFY(!engine.isOpen());
        QCOMPARE(opened.count(), 0);
        QVERIFY(engine.open());
        QTRY_VERIFY_WITH_TIMEOUT(engine.level().frames > 0, 5000);
        engine.close();
        QCOMPARE(engine.level().rmsDbfs[0], -200.0);
        QCOMPARE(engine.level().peak[0], 0.0);
    }

    void wavWriterSamplesAndHeader()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("a.wav"));
        WavWriter wav;
        QVERIFY(wav.open(path, 48000, 2));
        const float values[] = {0.0f, 1.0f, -1.0f, 0.5f, 2.0f, -2.0f};
        wav.write(values, 6);
        QCOMPARE(wav.frames(), std::uint64_t(3));
        wav.close();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray b = file.readAll();
        QCOMPARE(b.size(), 44 + 18);
        QCOMPARE(qFromLittleEndian<quint32>(b.constData() + 4), quint32(b.size() - 8));
        QCOMPARE(qFromLittleEndian<quint32>(b.constData() + 40), quint32(18));
        const auto sample = [&](int i) {
            const auto* p = reinterpret_cast<const uchar*>(b.constData() + 44 + 3 * i);
            qint32 v = qint32(p[0]) | qint32(p[1]) << 8 | qint32(p[2]) << 16;
            return (v & 0x800000) ? v - 0x1000000 : v;
        };
        // Full scale is 2^23 - 1 both ways; beyond it saturates.
        const qint32 expected[] = {0, 8388607, -8388607, 4194304, 8388607, -8388607};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(sample(i), expected[i]);
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

    void panoramaPlacesAPeakAtItsFrequency_data()
    {
        QTest::addColumn<double>("offsetHz");
        QTest::newRow("centre") << 0.0;
        QTest::newRow("+50 kHz") << 50000.0;
        QTest::newRow("-120 kHz") << -120000.0;
    }

    void panoramaPlacesAPeakAtItsFrequency()
    {
        // Bin i lies at centre + (i - N/2) * span / N; the plot spans centre +- span/2.
        QFETCH(double, offsetHz);
        PanoramaAxis axis;
        axis.centreHz = 7100000.0;
        axis.spanHz = 312500.0;
        const int n = 4096;
        std::vector<float> line(std::size_t(n), -120.0f);
        const int bin = n / 2 + int(std::lround(offsetHz / axis.spanHz * n));
        line[std::size_t(bin)] = -40.0f;
        const QImage image = renderPanorama(line, axis);
        const QRect plot = plotArea(image.size());
        int topX = -1;
        for (int y = plot.top() + 1; y < plot.bottom() && topX < 0; ++y)
            for (int x = plot.left() + 1; x < plot.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 200 && c.green() > 150 && c.blue() < 120) {
                    topX = x;
                    break;
                }
            }
        const double expected = plot.left() + (offsetHz / axis.spanHz + 0.5) * plot.width();
        QVERIFY2(std::abs(topX - expected) <= 2.0, qPrintable(QStringLiteral("peak at x %1, expected %2").arg(topX).arg(expected)));
    }

    void picturesHaveTheirSizes()
    {
        PanoramaAxis axis;
        axis.centreHz = 7100000.0;
        axis.spanHz = 312500.0;
        std::vector<float> line(4096, -120.0f);
        line[2048] = -40.0f;
        const QImage panorama = renderPanorama(line, axis);
        QCOMPARE(panorama.size(), kPanoramaPictureSize);
        const QImage waterfall = renderWaterfall({line, line}, axis);
        QCOMPARE(waterfall.size(), kWaterfallPictureSize);
        // Empty input still gives a picture (nothing arrived), not a crash.
        QCOMPARE(renderPanorama({}, axis).size(), kPanoramaPictureSize);
        QCOMPARE(renderWaterfall({}, PanoramaAxis{}).size(), kWaterfallPictureSize);
    }
};

QTEST_MAIN(TestMinihostParts)
#include "tst_minihostparts.moc"
