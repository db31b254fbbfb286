// The eight calibration actions of the options page against the emulated
// receiver: what its calibration memory holds afterwards (compared with
// blocks built by the emulator's own encoder), the boxes the user sees, the
// controls, and the ".cff" files.
#include "ControlRig.h"

#include "CalibrationMemory.h"

#include <QDoubleSpinBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using zorvani::sim::calibrationBlock;

namespace {
constexpr quint16 kWriteRoot = 13, kReadRoot = 14, kWriteUser = 15;
const QString kReally = QStringLiteral("You really want to write the default calibration?");
const QString kNoUser = QStringLiteral("ZorvaniDDC don't have calibrations!\nDo you want write default calibration coefficients?");
const QString kNoRoot =
    QStringLiteral("ZorvaniDDC don't have root calibrations!\nDo you want write default calibration coefficients?");

using Answers = QList<QMessageBox::StandardButton>;
using Values = QList<double>; // user frequency, Preamp -20dB, Preamp 0dB, root frequency
const Values kTyped{0.5, 1.0, 2.0, 0.25};
const char* const kSpins[] = {"dsbFreqCoeffUser", "dsbHfPreampM20", "dsbHfPreampM0", "dsbAdminFreqCorrect"};

QByteArray rootBlock(double m20, double m0, double percent) { return calibrationBlock({m20, m0, 0, 0, 0, 0, 0, 0}, percent); }
QByteArray userBlock(double percent) { return calibrationBlock({0, 0, 0, 0, 0, 0, 0, 0}, percent); }
} // namespace

class TestCalibrationActions : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<PanelRig> m_rig;

    void setValues(const Values& v)
    {
        for (int i = 0; i < 4; ++i)
            m_rig->control<QDoubleSpinBox>(kSpins[i])->setValue(v[i]);
    }
    Values values() const
    {
        Values v;
        for (const char* name : kSpins)
            v << m_rig->control<QDoubleSpinBox>(name)->value();
        return v;
    }
    zorvani::sim::Simulator& sim() const { return *m_rig->sim; }
    bool startRig(quint16 port, bool running = true)
    {
        m_rig.reset(); // its boxes' script goes with it
        m_rig = std::make_unique<PanelRig>();
        zorvani::sim::Config c;
        c.port = port;
        c.logCommands = true;
        return m_rig->start(c, running);
    }

private slots:
    void initTestCase() { QVERIFY(support::isolateHome(m_home)); }
    void init()
    {
        QVERIFY(startRig(37300));
        setValues(kTyped);
    }
    void cleanup() { m_rig.reset(); }

    // Read: a valid block fills the controls; an invalid one asks, and Yes
    // (confirmed) writes the defaults while No writes nothing. Write: the
    // controls' block, a refusal or a lost answer reported. Default: asked,
    // then written and shown, the controls kept if refused.
    void actions_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("stored"); // the button's block before; empty: erased
        QTest::addColumn<int>("fault");       // of the write: 0 none, 1 refused, 2 unanswered
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<Values>("shown");
        QTest::addColumn<QByteArray>("rootAfter"); // stored afterwards; empty: as before
        QTest::addColumn<QByteArray>("userAfter");
        const QByteArray none;
        const Answers yes{QMessageBox::Yes, QMessageBox::Yes}, no{QMessageBox::No};
        QByteArray corrupt = rootBlock(30.5, -4.5, -0.75);
        corrupt[40] = char(corrupt[40] ^ 0x01);
        QTest::newRow("read user, valid") << "pbUserCoeffRead" << userBlock(-0.125) << 0 << Answers() << QStringList()
                                          << Values{-0.125, 1.0, 2.0, 0.25} << none << none;
        QTest::newRow("read user, erased, No") << "pbUserCoeffRead" << none << 0 << no << QStringList{kNoUser} << kTyped << none << none;
        QTest::newRow("read user, erased, Yes") << "pbUserCoeffRead" << none << 0 << yes << QStringList{kNoUser, kReally}
                                                << Values{0.0, 1.0, 2.0, 0.25} << none << userBlock(0.0);
        QTest::newRow("read root, valid") << "pbCoeRootRead" << rootBlock(30.5, -4.5, -0.75) << 0 << Answers() << QStringList()
                                          << Values{0.5, 30.5, -4.5, -0.75} << none << none;
        QTest::newRow("read root, erased, No") << "pbCoeRootRead" << none << 0 << no << QStringList{kNoRoot} << kTyped << none << none;
        // The defaults with the root frequency correction as it stands.
        QTest::newRow("read root, erased, Yes") << "pbCoeRootRead" << none << 0 << yes << QStringList{kNoRoot, kReally}
                                                << Values{0.5, 27.6, 9.9, 0.25} << rootBlock(27.6, 9.9, 0.25) << none;
        QTest::newRow("read root, corrupt, Yes then No") << "pbCoeRootRead" << corrupt << 0 << Answers{QMessageBox::Yes, QMessageBox::No}
                                                         << QStringList{kNoRoot, kReally} << kTyped << none << none;
        QTest::newRow("write user") << "pbUserCoeffWrite" << none << 0 << Answers() << QStringList() << kTyped << none << userBlock(0.5);
        QTest::newRow("write root") << "pbCoeRootWrite" << none << 0 << Answers() << QStringList() << kTyped
                                    << rootBlock(1.0, 2.0, 0.25) << none;
        QTest::newRow("write user, refused") << "pbUserCoeffWrite" << none << 1 << Answers()
                                             << QStringList{"Failed to write calibrations!"} << kTyped << none << none;
        // The block arrived; only its answer was lost.
        QTest::newRow("write root, unanswered") << "pbCoeRootWrite" << none << 2 << Answers()
                                                << QStringList{"Failed to get answer from ZorvaniDDC!"} << kTyped
                                                << rootBlock(1.0, 2.0, 0.25) << none;
        QTest::newRow("user default") << "pbUserCoeffDefault" << none << 0 << Answers{QMessageBox::Yes} << QStringList{kReally}
                                      << Values{0.0, 1.0, 2.0, 0.25} << none << userBlock(0.0);
        QTest::newRow("user default, No") << "pbUserCoeffDefault" << none << 0 << no << QStringList{kReally} << kTyped << none << none;
        QTest::newRow("root default") << "pbCoeRootDefault" << none << 0 << Answers{QMessageBox::Yes} << QStringList{kReally}
                                      << Values{0.5, 27.6, 9.9, 0.25} << rootBlock(27.6, 9.9, 0.25) << none;
        QTest::newRow("root default refused: controls kept") << "pbCoeRootDefault" << none << 1 << Answers{QMessageBox::Yes}
                                                             << QStringList{kReally, "Failed to write calibrations!"} << kTyped
                                                             << none << none;
    }
    void actions()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, stored);
        QFETCH(int, fault);
        QFETCH(Answers, answers);
        QFETCH(QStringList, texts);
        QFETCH(Values, shown);
        QFETCH(QByteArray, rootAfter);
        QFETCH(QByteArray, userAfter);
        const quint16 write = button.contains(QLatin1String("Root")) ? kWriteRoot : kWriteUser;
        sim().setCalibration(write == kWriteRoot ? stored : QByteArray(), write == kWriteUser ? stored : QByteArray());
        const auto before = sim().state();
        if (fault == 1)
            sim().failCommands(write, -1);
        if (fault == 2)
            sim().dropReplies(write, -1);
        m_rig->boxes.answer(answers);
        m_rig->click(qPrintable(button));
        QCOMPARE(m_rig->boxes.texts(), texts);
        QCOMPARE(values(), shown);
        QCOMPARE(sim().state().rootCalibration, rootAfter.isEmpty() ? before.rootCalibration : rootAfter);
        QCOMPARE(sim().state().userCalibration, userAfter.isEmpty() ? before.userCalibration : userAfter);
        if (fault == 0) // nothing written unless something was to be stored
            QCOMPARE(sim().commands(write).isEmpty(), (write == kWriteRoot ? rootAfter : userAfter).isEmpty());
        QVERIFY(!m_rig->device->isOpen()); // the action opened the link for itself and closed it again
    }

    // Written while streaming, the block is read back by a new start.
    void writeWhileStreamingStartsAgain()
    {
        QVERIFY(m_rig->device->open());
        QVERIFY(m_rig->device->start());
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 5000);
        sim().clearCommandLog();
        m_rig->control<QDoubleSpinBox>(kSpins[0])->setValue(-0.25);
        m_rig->click("pbUserCoeffWrite");
        QVERIFY(m_rig->boxes.texts().isEmpty());
        QCOMPARE(sim().state().userCalibration, userBlock(-0.25));
        const QList<int> sequence{kWriteUser, 2, 26, kReadRoot, 16, 1};
        QList<int> order;
        for (const auto& c : sim().commandLog())
            if (sequence.contains(c.command) && c.magic == 0xFF12)
                order << c.command;
        QCOMPARE(order, sequence);
        QVERIFY(m_rig->device->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 5000);
        QCOMPARE(m_rig->control<QDoubleSpinBox>(kSpins[0])->value(), -0.25);
    }

    // The file is named after the receiver (without one, "Zorvani_.cff");
    // the folder is remembered; a cancelled dialog changes nothing.
    void save()
    {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString path = m_home.filePath(QStringLiteral("saved.cff"));
        m_rig->boxes.chooseFile(path);
        m_rig->click("pbSaveAdmin");
        const auto asked = m_rig->boxes.files();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, ox::ui::FileRequest::SaveFile);
        QCOMPARE(asked[0].title, QStringLiteral("Save File"));
        QCOMPARE(asked[0].filter, QStringLiteral("Calibrations (*.cff)"));
        QCOMPARE(asked[0].directory, documents + QStringLiteral("/Zorvani_") + sim().serialText() + QStringLiteral(".cff"));
        QVERIFY(!m_rig->device->isOpen());
        QSettings saved(path, QSettings::IniFormat);
        QCOMPARE(saved.childGroups(), QStringList{QStringLiteral("ZorvaniRoot")});
        QCOMPARE(saved.value(QStringLiteral("ZorvaniRoot/HfPreampM20")).toDouble(), 1.0);
        QCOMPARE(saved.value(QStringLiteral("ZorvaniRoot/HfPreampM0")).toDouble(), 2.0);
        QCOMPARE(saved.value(QStringLiteral("ZorvaniRoot/Frequency")).toDouble(), 0.25);
        m_rig->click("pbLoadAdmin");
        QCOMPARE(m_rig->boxes.files().last().directory, m_home.path());
        QCOMPARE(values(), kTyped);

        QVERIFY(startRig(37310, false)); // nobody answers there
        m_rig->click("pbSaveAdmin");
        QCOMPARE(m_rig->boxes.files().size(), 1);
        QCOMPARE(m_rig->boxes.files()[0].directory, documents + QStringLiteral("/Zorvani_.cff"));
        QVERIFY(m_rig->boxes.texts().isEmpty());
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("text"); // "-": no such file
        QTest::addColumn<Values>("shown");
        QTest::addColumn<QString>("box");
        QTest::newRow("all three") << QByteArray("[ZorvaniRoot]\nHfPreampM20=27.6\nHfPreampM0=9.9\nFrequency=-0.5\n")
                                   << Values{0.5, 27.6, 9.9, -0.5} << QString();
        QTest::newRow("no Frequency") << QByteArray("[ZorvaniRoot]\nHfPreampM20=27.6\nHfPreampM0=9.9\n") << Values{0.5, 27.6, 9.9, 0.0}
                                      << QString();
        QTest::newRow("Frequency=1.5") << QByteArray("[ZorvaniRoot]\nHfPreampM20=27.6\nHfPreampM0=9.9\nFrequency=1.5\n")
                                       << Values{0.5, 27.6, 9.9, 0.0} << QString();
        QTest::newRow("HfPreampM20=70, HfPreampM0 not a number")
            << QByteArray("[ZorvaniRoot]\nHfPreampM20=70\nHfPreampM0=abc\nFrequency=0.125\n") << Values{0.5, 20.0, 0.0, 0.125} << QString();
        QTest::newRow("another group only") << QByteArray("[Other]\nHfPreampM20=5\n") << Values{0.5, 20.0, 0.0, 0.0} << QString();
        QTest::newRow("no such file") << QByteArray("-") << kTyped << QStringLiteral("Failed to read the calibration file %1!");
    }
    void load()
    {
        QFETCH(QByteArray, text);
        QFETCH(Values, shown);
        QFETCH(QString, box);
        const QString path = m_home.filePath(text == "-" ? QStringLiteral("missing.cff") : QStringLiteral("load.cff"));
        QFile f(path);
        QVERIFY(text == "-" || (f.open(QIODevice::WriteOnly) && f.write(text) == text.size()));
        f.close();
        m_rig->boxes.chooseFile(path);
        m_rig->click("pbLoadAdmin");
        const auto asked = m_rig->boxes.files();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, ox::ui::FileRequest::OpenFile);
        QCOMPARE(asked[0].title, QStringLiteral("Open File"));
        QCOMPARE(asked[0].filter, QStringLiteral("Calibrations (*.cff)"));
        QCOMPARE(values(), shown);
        QCOMPARE(m_rig->boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box.arg(path)});
        QVERIFY(sim().commands(kWriteRoot).isEmpty()); // loading only shows the values
    }
};

QTEST_MAIN(TestCalibrationActions)
#include "tst_calibrationactions.moc"
