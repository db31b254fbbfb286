// The eight calibration actions of the options page against the emulated
// receiver: what its calibration memory holds afterwards (compared with
// blocks built by the emulator's own encoder), the boxes the user sees, the
// controls, and the ".cff" files.
#include "PanelRig.h"

#include "CalibrationMemory.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using zorvani::sim::calibrationBlock;
using zorvani::sim::Config;

namespace {
constexpr quint16 kPort = 37300;
constexpr quint16 kSilentPort = 37310; // nobody answers there
constexpr quint16 kWriteRoot = 13;
constexpr quint16 kReadRoot = 14;
constexpr quint16 kWriteUser = 15;

const QString kNoAnswer = QStringLiteral("Failed to get answer from ZorvaniDDC!");
const QString kRefused = QStringLiteral("Failed to write calibrations!");
const QString kReally = QStringLiteral("You really want to write the default calibration?");
const QString kNoUser =
    QStringLiteral("ZorvaniDDC don't have calibrations!\nDo you want write default calibration coefficients?");
const QString kNoRoot =
    QStringLiteral("ZorvaniDDC don't have root calibrations!\nDo you want write default calibration coefficients?");

using Answers = QList<QMessageBox::StandardButton>;
using Values = QList<double>; // user frequency, Preamp -20dB, Preamp 0dB, root frequency

QByteArray rootBlock(double m20, double m0, double percent)
{
    return calibrationBlock({m20, m0, 0, 0, 0, 0, 0, 0}, percent);
}
QByteArray userBlock(double percent)
{
    return calibrationBlock({0, 0, 0, 0, 0, 0, 0, 0}, percent);
}
} // namespace

class TestCalibrationActions : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<PanelRig> m_rig;

    QDoubleSpinBox* spin(const char* name) const { return m_rig->control<QDoubleSpinBox>(name); }
    void setValues(const Values& v)
    {
        spin("dsbFreqCoeffUser")->setValue(v[0]);
        spin("dsbHfPreampM20")->setValue(v[1]);
        spin("dsbHfPreampM0")->setValue(v[2]);
        spin("dsbAdminFreqCorrect")->setValue(v[3]);
    }
    Values values() const
    {
        return {spin("dsbFreqCoeffUser")->value(), spin("dsbHfPreampM20")->value(), spin("dsbHfPreampM0")->value(),
                spin("dsbAdminFreqCorrect")->value()};
    }
    zorvani::sim::Simulator& sim() const { return *m_rig->sim; }

    // A file the user picks in the dialog, holding `text`.
    QString cffFile(const QString& name, const QByteArray& text) const
    {
        const QString path = m_home.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return {};
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(support::isolateHome(m_home)); }

    void init()
    {
        m_rig = std::make_unique<PanelRig>();
        Config c;
        c.port = kPort;
        c.logCommands = true;
        QVERIFY(m_rig->start(c));
        setValues({0.5, 1.0, 2.0, 0.25});
    }
    void cleanup() { m_rig.reset(); }

    // Read: a valid block fills the controls; an invalid one asks, and Yes
    // (confirmed) writes the defaults while No writes nothing.
    void read_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("root"); // stored blocks; empty: erased
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<Values>("shown");
        QTest::addColumn<QByteArray>("written"); // the block stored afterwards; empty: none written

        QTest::newRow("user, valid") << "pbUserCoeffRead" << QByteArray() << userBlock(-0.125) << Answers()
                                     << QStringList() << Values{-0.125, 1.0, 2.0, 0.25} << QByteArray();
        QTest::newRow("user, erased, No") << "pbUserCoeffRead" << QByteArray() << QByteArray()
                                          << Answers{QMessageBox::No} << QStringList{kNoUser}
                                          << Values{0.5, 1.0, 2.0, 0.25} << QByteArray();
        QTest::newRow("user, erased, Yes") << "pbUserCoeffRead" << QByteArray() << QByteArray()
                                           << Answers{QMessageBox::Yes, QMessageBox::Yes}
                                           << QStringList{kNoUser, kReally} << Values{0.0, 1.0, 2.0, 0.25}
                                           << userBlock(0.0);
        QTest::newRow("root, valid") << "pbCoeRootRead" << rootBlock(30.5, -4.5, -0.75) << QByteArray() << Answers()
                                     << QStringList() << Values{0.5, 30.5, -4.5, -0.75} << QByteArray();
        QTest::newRow("root, erased, No") << "pbCoeRootRead" << QByteArray() << QByteArray()
                                          << Answers{QMessageBox::No} << QStringList{kNoRoot}
                                          << Values{0.5, 1.0, 2.0, 0.25} << QByteArray();
        // The defaults with the root frequency correction as it stands.
        QTest::newRow("root, erased, Yes") << "pbCoeRootRead" << QByteArray() << QByteArray()
                                           << Answers{QMessageBox::Yes, QMessageBox::Yes}
                                           << QStringList{kNoRoot, kReally} << Values{0.5, 27.6, 9.9, 0.25}
                                           << rootBlock(27.6, 9.9, 0.25);
        QByteArray corrupt = rootBlock(30.5, -4.5, -0.75);
        corrupt[40] = char(corrupt[40] ^ 0x01);
        QTest::newRow("root, corrupt, Yes then No") << "pbCoeRootRead" << corrupt << QByteArray()
                                                    << Answers{QMessageBox::Yes, QMessageBox::No}
                                                    << QStringList{kNoRoot, kReally} << Values{0.5, 1.0, 2.0, 0.25}
                                                    << QByteArray();
    }
    void read()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, root);
        QFETCH(QByteArray, user);
        QFETCH(Answers, answers);
        QFETCH(QStringList, texts);
        QFETCH(Values, shown);
        QFETCH(QByteArray, written);
        sim().setCalibration(root, user);
        const auto before = sim().state();
        m_rig->boxes.answer(answers);
        m_rig->click(qPrintable(button));
        QCOMPARE(m_rig->boxes.texts(), texts);
        QCOMPARE(values(), shown);
        const bool isRoot = button.contains(QLatin1String("Root"));
        const QByteArray stored = isRoot ? sim().state().rootCalibration : sim().state().userCalibration;
        QCOMPARE(stored, written.isEmpty() ? (isRoot ? before.rootCalibration : before.userCalibration) : written);
        QCOMPARE(sim().commands(isRoot ? kWriteRoot : kWriteUser).size(), written.isEmpty() ? 0 : 1);
        // The action opened the link for itself and closed it again.
        QVERIFY(!m_rig->device->isOpen());
    }

    void writeAndDefault_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("fault"); // 0 none, 1 refused, 2 unanswered
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<Values>("shown");
        QTest::addColumn<QByteArray>("root"); // stored afterwards; empty: still erased
        QTest::addColumn<QByteArray>("user");

        const Values typed{0.5, 1.0, 2.0, 0.25};
        QTest::newRow("user written") << "pbUserCoeffWrite" << 0 << Answers() << QStringList() << typed
                                      << QByteArray() << userBlock(0.5);
        QTest::newRow("root written") << "pbCoeRootWrite" << 0 << Answers() << QStringList() << typed
                                      << rootBlock(1.0, 2.0, 0.25) << QByteArray();
        QTest::newRow("user refused") << "pbUserCoeffWrite" << 1 << Answers() << QStringList{kRefused} << typed
                                      << QByteArray() << QByteArray();
        // The block arrived; only its answer was lost.
        QTest::newRow("root unanswered") << "pbCoeRootWrite" << 2 << Answers() << QStringList{kNoAnswer} << typed
                                         << rootBlock(1.0, 2.0, 0.25) << QByteArray();
        QTest::newRow("user default") << "pbUserCoeffDefault" << 0 << Answers{QMessageBox::Yes}
                                      << QStringList{kReally} << Values{0.0, 1.0, 2.0, 0.25} << QByteArray()
                                      << userBlock(0.0);
        QTest::newRow("user default, No") << "pbUserCoeffDefault" << 0 << Answers{QMessageBox::No}
                                          << QStringList{kReally} << typed << QByteArray() << QByteArray();
        QTest::newRow("root default") << "pbCoeRootDefault" << 0 << Answers{QMessageBox::Yes}
                                      << QStringList{kReally} << Values{0.5, 27.6, 9.9, 0.25}
                                      << rootBlock(27.6, 9.9, 0.25) << QByteArray();
        QTest::newRow("root default refused: controls kept")
            << "pbCoeRootDefault" << 1 << Answers{QMessageBox::Yes} << QStringList{kReally, kRefused} << typed
            << QByteArray() << QByteArray();
    }
    void writeAndDefault()
    {
        QFETCH(QString, button);
        QFETCH(int, fault);
        QFETCH(Answers, answers);
        QFETCH(QStringList, texts);
        QFETCH(Values, shown);
        QFETCH(QByteArray, root);
        QFETCH(QByteArray, user);
        const auto erased = sim().state();
        const quint16 command = button.contains(QLatin1String("Root")) ? kWriteRoot : kWriteUser;
        if (fault == 1)
            sim().failCommands(command, -1);
        if (fault == 2)
            sim().dropReplies(command, -1);
        m_rig->boxes.answer(answers);
        m_rig->click(qPrintable(button));
        QCOMPARE(m_rig->boxes.texts(), texts);
        QCOMPARE(values(), shown);
        QCOMPARE(sim().state().rootCalibration, root.isEmpty() ? erased.rootCalibration : root);
        QCOMPARE(sim().state().userCalibration, user.isEmpty() ? erased.userCalibration : user);
        QVERIFY(!m_rig->device->isOpen());
    }

    // Written while streaming, the block is read back by a new start.
    void writeWhileStreamingStartsAgain()
    {
        QVERIFY(m_rig->device->open());
        QVERIFY(m_rig->device->start());
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 5000);
        sim().clearCommandLog();
        spin("dsbFreqCoeffUser")->setValue(-0.25);
        m_rig->click("pbUserCoeffWrite");
        QVERIFY(m_rig->boxes.texts().isEmpty());
        QCOMPARE(sim().state().userCalibration, userBlock(-0.25));
        QList<int> order;
        for (const auto& c : sim().commandLog())
            if (QList<int>{kWriteUser, 2, 26, kReadRoot, 16, 1}.contains(c.command) && c.magic == 0xFF12)
                order << c.command;
        QCOMPARE(order, (QList<int>{kWriteUser, 2, 26, kReadRoot, 16, 1}));
        QVERIFY(m_rig->device->isStarted());
        QTRY_VERIFY_WITH_TIMEOUT(sim().state().streaming, 5000);
        QCOMPARE(spin("dsbFreqCoeffUser")->value(), -0.25);
    }

    void saveNamesTheFileAfterTheReceiver()
    {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString path = m_home.filePath(QStringLiteral("saved.cff"));
        m_rig->boxes.chooseFile(path);
        m_rig->click("pbSaveAdmin");
        const auto asked = m_rig->boxes.files();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, ox::ui::FileRequest::SaveFile);
        QCOMPARE(asked[0].title, QStringLiteral("Save File"));
        QCOMPARE(asked[0].filter, QStringLiteral("Calibrations (*.cff)"));
        QCOMPARE(asked[0].directory, dir + QStringLiteral("/Zorvani_") + sim().serialText() + QStringLiteral(".cff"));
        QVERIFY(!m_rig->device->isOpen());

        QSettings saved(path, QSettings::IniFormat);
        QCOMPARE(saved.childGroups(), QStringList{QStringLiteral("ZorvaniRoot")});
        QCOMPARE(saved.value(QStringLiteral("ZorvaniRoot/HfPreampM20")).toDouble(), 1.0);
        QCOMPARE(saved.value(QStringLiteral("ZorvaniRoot/HfPreampM0")).toDouble(), 2.0);
        QCOMPARE(saved.value(QStringLiteral("ZorvaniRoot/Frequency")).toDouble(), 0.25);

        // The folder is remembered; a cancelled dialog changes nothing.
        m_rig->click("pbLoadAdmin");
        QCOMPARE(m_rig->boxes.files().last().directory, m_home.path());
        QCOMPARE(values(), (Values{0.5, 1.0, 2.0, 0.25}));
    }

    void saveWithoutReceiver()
    {
        m_rig.reset();
        m_rig = std::make_unique<PanelRig>();
        Config c;
        c.port = kSilentPort;
        QVERIFY(m_rig->start(c, false));
        m_rig->click("pbSaveAdmin");
        QCOMPARE(m_rig->boxes.files().size(), 1);
        QCOMPARE(m_rig->boxes.files()[0].directory,
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QStringLiteral("/Zorvani_.cff"));
        QVERIFY(m_rig->boxes.texts().isEmpty());
    }

    void load_data()
    {
        QTest::addColumn<QByteArray>("text"); // "-": no such file
        QTest::addColumn<Values>("shown");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("all three") << QByteArray("[ZorvaniRoot]\nHfPreampM20=27.6\nHfPreampM0=9.9\nFrequency=-0.5\n")
                                   << Values{0.5, 27.6, 9.9, -0.5} << QStringList();
        QTest::newRow("no Frequency") << QByteArray("[ZorvaniRoot]\nHfPreampM20=27.6\nHfPreampM0=9.9\n")
                                      << Values{0.5, 27.6, 9.9, 0.0} << QStringList();
        QTest::newRow("Frequency=1.5") << QByteArray("[ZorvaniRoot]\nHfPreampM20=27.6\nHfPreampM0=9.9\nFrequency=1.5\n")
                                       << Values{0.5, 27.6, 9.9, 0.0} << QStringList();
        QTest::newRow("HfPreampM20=70, HfPreampM0 not a number")
            << QByteArray("[ZorvaniRoot]\nHfPreampM20=70\nHfPreampM0=abc\nFrequency=0.125\n")
            << Values{0.5, 20.0, 0.0, 0.125} << QStringList();
        QTest::newRow("another group only") << QByteArray("[Other]\nHfPreampM20=5\n") << Values{0.5, 20.0, 0.0, 0.0}
                                            << QStringList();
        QTest::newRow("no such file") << QByteArray("-") << Values{0.5, 1.0, 2.0, 0.25}
                                      << QStringList{QStringLiteral("Failed to read the calibration file %1!")};
    }
    void load()
    {
        QFETCH(QByteArray, text);
        QFETCH(Values, shown);
        QFETCH(QStringList, texts);
        const QString path = text == "-" ? m_home.filePath(QStringLiteral("missing.cff"))
                                         : cffFile(QStringLiteral("load.cff"), text);
        QVERIFY(!path.isEmpty());
        m_rig->boxes.chooseFile(path);
        m_rig->click("pbLoadAdmin");
        const auto asked = m_rig->boxes.files();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, ox::ui::FileRequest::OpenFile);
        QCOMPARE(asked[0].title, QStringLiteral("Open File"));
        QCOMPARE(asked[0].filter, QStringLiteral("Calibrations (*.cff)"));
        QCOMPARE(values(), shown);
        QStringList expected;
        for (const QString& t : texts)
            expected << t.arg(path);
        QCOMPARE(m_rig->boxes.texts(), expected);
        // Loading only shows the values: nothing reaches the receiver.
        QVERIFY(sim().commands(kWriteRoot).isEmpty());
    }
};

QTEST_MAIN(TestCalibrationActions)
#include "tst_calibrationactions.moc"
