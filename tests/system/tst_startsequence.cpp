// The receiver's start sequence as the host meets it: the plug-in loaded the
// way the host loads it, started against emulated receivers in each state the
// sequence has a branch for. Checked on the wire (the commands the emulator
// receives, in order), in the boxes the user sees, and at the host (streaming,
// or devClosed with nothing left running).
#include "SystemHost.h"

#include "CalibrationMemory.h"

using namespace systest;

namespace {
constexpr quint16 kPort = 53700;
constexpr quint32 kLocked = 0x1 | 0x2 | 0x4 | 0x10 | 0x40 | 0x80 | 0x100 | 0x800;
const char* const kUpdate = "Information|You need update the ZorvaniDDC firmware.";

struct Branch {
    const char* name;
    bool bootloader;
    quint16 major, minor;
    quint32 status;
    int unanswered; // command whose replies are dropped once the link is open, 0: none
    QMessageBox::StandardButton answer;
    const char* box;  // "title|start of the text", empty: no box
    const char* note; // part of the box's informative text
    QList<int> commands;
    bool streams;
};

const Branch kBranches[] = {
    {"11.3 starts without a question", false, 11, 3, kLocked, 0, QMessageBox::NoButton, "", "", kFullStart, true},
    {"11.2, Ignore: streams", false, 11, 2, kLocked, 0, QMessageBox::Ignore, kUpdate, "version 11.2", kFullStart, true},
    {"11.2, No: closed", false, 11, 2, kLocked, 0, QMessageBox::No, kUpdate, "", {CmdInformation}, false},
    {"unknown firmware 0.1 is named", false, 0, 1, kLocked, 0, QMessageBox::No, kUpdate, "version 0.1", {CmdInformation}, false},
    {"bootloader: no Start, update offered", true, 11, 3, kLocked, 0, QMessageBox::No,
     "Velmora2|ZorvaniDDC receiver is in the firmware updating mode.", "", {}, false},
    {"information unanswered", false, 11, 3, kLocked, CmdInformation, QMessageBox::NoButton,
     "Velmora2|Can't get information", "", {CmdInformation}, false},
    {"Start unanswered", false, 11, 3, kLocked, CmdStart, QMessageBox::NoButton,
     "Velmora2|ZorvaniDDC did not answer the start command.", "", kBeforeStart + QList<int>{CmdStart, CmdStop}, false},
    {"reference not locked: warned, streams", false, 11, 3, kLocked & ~0x2u, 0, QMessageBox::NoButton,
     "Velmora2|The ZorvaniDDC frequency reference is not locked (PLL1 Lock: NO).", "", kFullStart, true},
};

// Stored root values of the HF preamplifier's -20 dB and 0 dB settings, and the correction expected.
struct Calibration {
    const char* name;
    int preamp;
    bool att, frontPreamp;
    double m20, m0, correction;
};
const Calibration kCalibrations[] = {
    {"-20dB setting, 0 stored", 0, false, false, 0.0, 9.9, 0.0},
    {"-20dB setting, 27.6 stored, ATT on", 0, true, false, 27.6, 9.9, 46.1},
    {"0dB setting, 9.9 stored", 1, false, false, 27.6, 9.9, 9.9},
    {"0dB setting, 9.9 stored, front-end preamp", 1, false, true, 27.6, 9.9, -0.4},
    {"-20dB setting, -12.5 stored", 0, false, false, -12.5, 30.0, -12.5},
};
} // namespace

class TestStartSequence : public QObject {
    Q_OBJECT

    LoadedPlugin m_plugin;

    DeviceAbstract* device() { return m_plugin.device(); }
    Simulator& sim() { return *m_plugin.sim; }

    // A fresh emulated receiver in state `c` takes the place of the last one.
    bool useReceiver(Config c)
    {
        c.port = kPort;
        c.resendAfterMs = 40;
        return m_plugin.replaceEmulator(c);
    }

private slots:
    void initTestCase()
    {
        const QString error = m_plugin.attach(emulator(kPort, QStringLiteral("noise -150")));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanup()
    {
        device()->stop();
        device()->close();
        m_plugin.answers.clear();
        m_plugin.seen.clear();
        for (const char* box : {"chbFeAtt", "chbFePreamp", "chbLpf", "chbPll"})
            m_plugin.option<QCheckBox>(box)->setChecked(QByteArray(box) == "chbLpf");
    }

    void branches_data() { addRows(kBranches); }
    void branches()
    {
        QFETCH(int, row);
        const Branch& b = kBranches[row];
        Config c;
        c.startInBootloader = b.bootloader;
        c.versionMajor = b.major;
        c.versionMinor = b.minor;
        c.statusBits = b.status;
        QVERIFY(useReceiver(c));
        QVERIFY(device()->open());
        if (b.unanswered)
            sim().dropReplies(quint16(b.unanswered), -1);
        sim().clearCommandLog();
        if (b.answer != QMessageBox::NoButton)
            m_plugin.answers << b.answer;
        QSignalSpy closed(device(), &DeviceAbstract::devClosed);

        QCOMPARE(device()->start(), b.streams);
        QCOMPARE(closed.count(), b.streams ? 0 : 1);
        QCOMPARE(device()->isStarted(), b.streams);
        if (b.streams) {
            QTRY_VERIFY_WITH_TIMEOUT(!sim().commands(CmdBandScope).isEmpty(), 2000);
            QTRY_VERIFY_WITH_TIMEOUT(sim().counters().iqAnswersFull > 50, 5000);
        } else {
            QVERIFY(!device()->isOpen());
            QTest::qWait(300); // nothing more is to come: no late Start, no stream
            QVERIFY(!sim().state().streaming);
        }
        const QString mismatch = wireMismatch(sim().commandLog(), b.commands);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        // An unanswered request went out five times before it failed.
        if (b.unanswered)
            QCOMPARE(sim().commands(quint16(b.unanswered)).size(), 5);
        const QStringList shown = m_plugin.boxTexts();
        QCOMPARE(shown.size(), *b.box ? 1 : 0);
        if (shown.isEmpty())
            return;
        QVERIFY2(shown.first().startsWith(QLatin1String(b.box)), qPrintable(shown.first()));
        QVERIFY2(m_plugin.seen.first().informativeText.contains(QLatin1String(b.note)), qPrintable(m_plugin.seen.first().informativeText));
    }

    // Choices made on the page while the link was closed are what the start sends.
    void choicesMadeWhileClosedReachTheStart()
    {
        Config c;
        c.statusBits = kLocked | 0x8; // an external reference is present
        QVERIFY(useReceiver(c));
        m_plugin.option<QCheckBox>("chbLpf")->setChecked(false);
        m_plugin.option<QCheckBox>("chbPll")->setChecked(true);
        QVERIFY(device()->open() && device()->start());
        QTRY_VERIFY_WITH_TIMEOUT(!sim().commands(CmdBandScope).isEmpty(), 2000);
        QVERIFY(!sim().state().lpf && sim().state().pll && m_plugin.seen.isEmpty());
    }

    // The factory calibration stored in the receiver moves every reading by
    // the level correction: front end (ATT +18.5 dB, preamplifier -10.3 dB)
    // plus the root value of the HF preamplifier setting in use. The meter
    // reads the carrier's level relative to full scale, plus that correction;
    // what the receiver stores is what the Admin page shows.
    void calibrationMovesTheMeter_data() { addRows(kCalibrations); }
    void calibrationMovesTheMeter()
    {
        QFETCH(int, row);
        const auto& [name, preamp, att, frontPreamp, m20, m0, correction] = kCalibrations[row];
        constexpr double kCarrierDbfs = -90.0;
        QVERIFY(useReceiver(emulator(kPort, QStringLiteral("noise -170; carrier 7101000 %1").arg(kCarrierDbfs))));
        sim().setCalibration(zorvani::sim::calibrationBlock({m20, m0}, 0.0), {});
        m_plugin.option<QCheckBox>("chbFeAtt")->setChecked(att);
        m_plugin.option<QCheckBox>("chbFePreamp")->setChecked(frontPreamp);
        QVERIFY(device()->open() && device()->start());
        device()->setPreamp(uint(preamp)); // a change while streaming rescales at once
        device()->setFreq(0, 0, 7100000.0);
        device()->setMode(0, 0, 4); // USB: the carrier is a 1 kHz tone in the passband
        device()->setFilter(0, 0, 0, 100.0, 2900.0);
        const double reading = settledMeter(device(), sim());
        QVERIFY2(std::abs(reading - (kCarrierDbfs + correction)) < 0.3,
                 qPrintable(QStringLiteral("%1 dB for a carrier at %2 dBFS; want %3 dB more").arg(reading).arg(kCarrierDbfs).arg(correction)));
        QCOMPARE(m_plugin.option<QDoubleSpinBox>("dsbHfPreampM20")->value(), m20);
        QCOMPARE(m_plugin.option<QDoubleSpinBox>("dsbHfPreampM0")->value(), m0);
        QVERIFY(m_plugin.seen.isEmpty());
    }
};

QTEST_MAIN(TestStartSequence)
#include "tst_startsequence.moc"
