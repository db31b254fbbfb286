// The eight calibration actions of the options page against the emulated
// receiver: what its calibration memory holds afterwards (compared with
// blocks built by the emulator's own encoder), the boxes the user sees, the
// controls, and the ".cff" files.
#include "ControlRig.h"

#include "CalibrationMemory.h"

#include <QDoubleSpinBox>
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

// A button, its block before (empty: erased), the write's fault (0 none, 1
// refused, 2 unanswered), the answers, the boxes, the controls afterwards, the
// blocks stored afterwards (empty: as before).
struct Action {
    QString button;
    QByteArray stored;
    int fault;
    Answers answers;
    QStringList texts;
    Values shown;
    QByteArray rootAfter, userAfter;
};
} // namespace
Q_DECLARE_METATYPE(Action)

class TestCalibrationActions : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<PanelRig> m_rig;

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
        c.port = port, c.logCommands = true;
        return m_rig->start(c, running);
    }

private slots:
    void initTestCase() { QVERIFY(support::isolateHome(m_home)); }
    void init()
    {
        QVERIFY(startRig(37300));
        for (int i = 0; i < 4; ++i)
            m_rig->control<QDoubleSpinBox>(kSpins[i])->setValue(kTyped[i]);
    }
    void cleanup() { m_rig.reset(); }

    // Read: a valid block fills the controls; an invalid one asks, and Yes
    // (confirmed) writes the defaults while No writes nothing. Write: the
    // controls' block, a refusal or a lost answer reported. Default: asked,
    // then written and shown, the controls kept if refused.
    void actions_data()
    {
        QTest::addColumn<Action>("a");
        const QByteArray none;
        const Answers yes{QMessageBox::Yes, QMessageBox::Yes}, no{QMessageBox::No};
        QByteArray corrupt = rootBlock(30.5, -4.5, -0.75);
        corrupt[40] = char(corrupt[40] ^ 0x01);
        const QStringList refused{"Failed to write calibrations!"};
        QTest::newRow("read user, valid") << Action{"pbUserCoeffRead", userBlock(-0.125), 0, {}, {}, {-0.125, 1.0, 2.0, 0.25}, none, none};
        QTest::newRow("read user, erased, No") << Action{"pbUserCoeffRead", none, 0, no, {kNoUser}, kTyped, none, none};
        QTest::newRow("read user, erased, Yes") << Action{"pbUserCoeffRead", none, 0, yes, {kNoUser, kReally}, {0.0, 1.0, 2.0, 0.25}, none, userBlock(0.0)};
        QTest::newRow("read root, valid") << Action{"pbCoeRootRead", rootBlock(30.5, -4.5, -0.75), 0, {}, {}, {0.5, 30.5, -4.5, -0.75}, none, none};
        QTest::newRow("read root, erased, No") << Action{"pbCoeRootRead", none, 0, no, {kNoRoot}, kTyped, none, none};
        // The defaults with the root frequency correction as it stands.
        QTest::newRow("read root, erased, Yes")
            << Action{"pbCoeRootRead", none, 0, yes, {kNoRoot, kReally}, {0.5, 27.6, 9.9, 0.25}, rootBlock(27.6, 9.9, 0.25), none};
        QTest::newRow("read root, corrupt, Yes then No")
            << Action{"pbCoeRootRead", corrupt, 0, {QMessageBox::Yes, QMessageBox::No}, {kNoRoot, kReally}, kTyped, none, none};
        QTest::newRow("write user") << Action{"pbUserCoeffWrite", none, 0, {}, {}, kTyped, none, userBlock(0.5)};
        QTest::newRow("write root") << Action{"pbCoeRootWrite", none, 0, {}, {}, kTyped, rootBlock(1.0, 2.0, 0.25), none};
        QTest::newRow("write user, refused") << Action{"pbUserCoeffWrite", none, 1, {}, refused, kTyped, none, none};
        // The block arrived; only its answer was lost.
        QTest::newRow("write root, unanswered")
            << Action{"pbCoeRootWrite", none, 2, {}, {"Failed to get answer from ZorvaniDDC!"}, kTyped, rootBlock(1.0, 2.0, 0.25), none};
        QTest::newRow("user default") << Action{"pbUserCoeffDefault", none, 0, {QMessageBox::Yes}, {kReally}, {0.0, 1.0, 2.0, 0.25}, none, userBlock(0.0)};
        QTest::newRow("user default, No") << Action{"pbUserCoeffDefault", none, 0, no, {kReally}, kTyped, none, none};
        QTest::newRow("root default")
            << Action{"pbCoeRootDefault", none, 0, {QMessageBox::Yes}, {kReally}, {0.5, 27.6, 9.9, 0.25}, rootBlock(27.6, 9.9, 0.25), none};
        QTest::newRow("root default refused: controls kept")
            << Action{"pbCoeRootDefault", none, 1, {QMessageBox::Yes}, QStringList{kReally} + refused, kTyped, none, none};
    }
    void actions()
    {
        QFETCH(Action, a);
        const quint16 write = a.button.contains(QLatin1String("Root")) ? kWriteRoot : kWriteUser;
        sim().setCalibration(write == kWriteRoot ? a.stored : QByteArray(), write == kWriteUser ? a.stored : QByteArray());
        const auto before = sim().state();
        if (a.fault)
            a.fault == 1 ? sim().failCommands(write, -1) : sim().dropReplies(write, -1);
        m_rig->boxes.answer(a.answers);
        m_rig->click(qPrintable(a.button));
        QCOMPARE(m_rig->boxes.texts(), a.texts);
        QCOMPARE(values(), a.shown);
        QCOMPARE(sim().state().rootCalibration, a.rootAfter.isEmpty() ? before.rootCalibration : a.rootAfter);
        QCOMPARE(sim().state().userCalibration, a.userAfter.isEmpty() ? before.userCalibration : a.userAfter);
        if (a.fault == 0) // nothing written unless something was to be stored
            QCOMPARE(sim().commands(write).isEmpty(), (write == kWriteRoot ? a.rootAfter : a.userAfter).isEmpty());
        QVERIFY(!m_rig->device->isOpen()); // the action opened the link for itself and closed it again
    }

    // Written while streaming, the block is read back by a new start.
    void writeWhileStreamingStartsAgain()
    {
        QVERIFY(m_rig->device->open() && m_rig->device->start());
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 5000);
        sim().clearCommandLog();
        m_rig->control<QDoubleSpinBox>(kSpins[0])->setValue(-0.25);
        m_rig->click("pbUserCoeffWrite");
        QVERIFY(m_rig->boxes.texts().isEmpty() && sim().state().userCalibration == userBlock(-0.25));
        const QList<int> sequence{kWriteUser, 2, 26, kReadRoot, 16, 1};
        QList<int> order;
        for (const auto& c : sim().commandLog())
            if (sequence.contains(c.command) && c.magic == 0xFF12)
                order << c.command;
        QCOMPARE(order, sequence);
        QTRY_VERIFY_WITH_TIMEOUT(m_rig->device->isStarted() && sim().state().streaming, 5000);
        QCOMPARE(values()[0], -0.25);
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
        QVERIFY(asked.size() == 1 && asked[0].kind == ox::ui::FileRequest::SaveFile && asked[0].title == "Save File");
        QCOMPARE(asked[0].filter, QStringLiteral("Calibrations (*.cff)"));
        QCOMPARE(asked[0].directory, documents + QStringLiteral("/Zorvani_") + sim().serialText() + QStringLiteral(".cff"));
        QSettings saved(path, QSettings::IniFormat);
        QCOMPARE(saved.childGroups(), QStringList{QStringLiteral("ZorvaniRoot")});
        for (const auto& [key, value] : {std::pair{"HfPreampM20", 1.0}, {"HfPreampM0", 2.0}, {"Frequency", 0.25}})
            QCOMPARE(saved.value(QStringLiteral("ZorvaniRoot/") + key).toDouble(), value);
        m_rig->click("pbLoadAdmin");
        QVERIFY(m_rig->boxes.files().last().directory == m_home.path() && values() == kTyped && !m_rig->device->isOpen());

        QVERIFY(startRig(37310, false)); // nobody answers there
        m_rig->click("pbSaveAdmin");
        QVERIFY(m_rig->boxes.files().size() == 1 && m_rig->boxes.texts().isEmpty());
        QCOMPARE(m_rig->boxes.files()[0].directory, documents + QStringLiteral("/Zorvani_.cff"));
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("text"); // "-": no such file
        QTest::addColumn<Values>("shown");
        const QByteArray both("[ZorvaniRoot]\nHfPreampM20=27.6\nHfPreampM0=9.9\n");
        QTest::newRow("all three") << both + "Frequency=-0.5\n" << Values{0.5, 27.6, 9.9, -0.5};
        QTest::newRow("no Frequency") << both << Values{0.5, 27.6, 9.9, 0.0};
        QTest::newRow("Frequency=1.5") << both + "Frequency=1.5\n" << Values{0.5, 27.6, 9.9, 0.0};
        QTest::newRow("HfPreampM20=70, HfPreampM0 not a number")
            << QByteArray("[ZorvaniRoot]\nHfPreampM20=70\nHfPreampM0=abc\nFrequency=0.125\n") << Values{0.5, 20.0, 0.0, 0.125};
        QTest::newRow("another group only") << QByteArray("[Other]\nHfPreampM20=5\n") << Values{0.5, 20.0, 0.0, 0.0};
        QTest::newRow("no such file") << QByteArray("-") << kTyped;
    }
    void load()
    {
        QFETCH(QByteArray, text);
        QFETCH(Values, shown);
        const QString path = m_home.filePath(text == "-" ? QStringLiteral("missing.cff") : QStringLiteral("load.cff"));
        QFile f(path);
        QVERIFY(text == "-" || (f.open(QIODevice::WriteOnly) && f.write(text) == text.size()));
        f.close();
        m_rig->boxes.chooseFile(path);
        m_rig->click("pbLoadAdmin");
        const auto asked = m_rig->boxes.files();
        QVERIFY(asked.size() == 1 && asked[0].kind == ox::ui::FileRequest::OpenFile && asked[0].title == "Open File");
        QCOMPARE(asked[0].filter, QStringLiteral("Calibrations (*.cff)"));
        QCOMPARE(values(), shown);
        QCOMPARE(m_rig->boxes.texts(), text != "-" ? QStringList() : QStringList{QStringLiteral("Failed to read the calibration file %1!").arg(path)});
        QVERIFY(sim().commands(kWriteRoot).isEmpty()); // loading only shows the values
    }
};

QTEST_MAIN(TestCalibrationActions)
#include "tst_calibrationactions.moc"
