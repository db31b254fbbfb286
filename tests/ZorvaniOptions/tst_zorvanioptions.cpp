#include "ZorvaniOptions/DeviceMenuZorvaniDDC.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "discovery/DiscoverLockMediator.h"
#include "discovery/ZorvaniSearcher.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextBrowser>
#include <QWheelEvent>
#include <QWidgetAction>
#include <QtTest>

#include <memory>

namespace {
const char* const kBandRows[] = {"160", "80", "60", "40", "30", "20", "17", "15", "12", "10", "6", "2", "Gen"};
}

class TestZorvaniOptions : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<ZorvaniOptions> m_options;

    template <typename T> T* child(const QString& name) const
    {
        const QList<T*> found = m_options->findChildren<T*>(name);
        if (found.size() != 1)
            return nullptr;
        return found.first();
    }
    template <typename T> T* menuChild(const QString& name) const
    {
        return m_options->deviceMenuWidget()->findChild<T*>(name);
    }

private slots:
    void init() { m_options = std::make_unique<ZorvaniOptions>(); }
    void cleanup() { m_options.reset(); }

    void form()
    {
        QCOMPARE(m_options->objectName(), QString("ZorvaniOptions"));
        QCOMPARE(m_options->size(), QSize(1732, 1026));
        auto* tabs = child<QTabWidget>("tbwOptions");
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 4);
        QCOMPARE(tabs->tabText(0), QString("DSP"));
        QCOMPARE(tabs->tabText(1), QString("Ext Ctrl"));
        QCOMPARE(tabs->tabText(2), QString("Expert"));
        QCOMPARE(tabs->tabText(3), QString("Admin"));
        auto* search = child<QPushButton>("pbSearch");
        QVERIFY(search);
        QCOMPARE(search->text(), QString("Discover"));
        QVERIFY(child<QPushButton>("pbInfo"));
    }

    void intSpinBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("suffix");
        auto row = [](const char* n, int lo, int hi, int v, int step = 1, const char* suffix = "") {
            QTest::newRow(n) << QString(n) << lo << hi << v << step << QString(suffix);
        };
        row("sbPort", 0, 65535, 50001);
        row("sbWrPort", 0, 65535, 50001);
        row("sbDspRxAgcHangTimeLong", 10, 5000, 800, 10, " ms");
        row("sbDspRxAgcHangTimeSlow", 10, 5000, 500, 10, " ms");
        row("sbDspRxAgcHangTimeMed", 10, 5000, 250, 10, " ms");
        row("sbDspRxAgcHangTimeFast", 10, 5000, 100, 10, " ms");
        row("sbDspRxAgcHangTime_User", 10, 5000, 1000, 10, " ms");
        row("sbDspRxNrTaps", 1, 257, 98);
        row("sbDspRxNrDelay", 1, 257, 20);
        row("sbDspRxAnfTaps", 1, 257, 65);
        row("sbDspRxAnfDelay", 1, 257, 64);
        row("sbDspApfSupression", 6, 60, 30, 1, " dB");
        row("sbDspApfQuality", 1, 20, 5);
        row("sbDspSsbApfSupression", 3, 60, 12, 1, " dB");
        row("sbDspSsbApfFreq", 200, 2000, 500, 10, " Hz");
        row("sbDspDseQuality", 20, 200, 140, 10);
        row("sbDsp39kHzFilterTapsSSB", 500, 7681, 1537);
        row("sbDsp39kHzFilterTapsAM", 500, 7681, 1537);
        row("sbDsp39kHzFilterTapsDIG", 500, 7681, 1537);
        row("sbDsp39kHzFilterTapsCW", 500, 7681, 1537);
        row("sbDspDiglOffset", 0, 10000, 1500, 1, " Hz");
        row("sbDspDiguOffset", 0, 10000, 2200, 1, " Hz");
        row("sbCwPitch", 300, 1000, 700, 1, " Hz");
    }
    void intSpinBoxes()
    {
        QFETCH(QString, name);
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(int, step);
        QFETCH(QString, suffix);
        auto* box = child<QSpinBox>(name);
        QVERIFY2(box, qPrintable("no single QSpinBox " + name));
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), value);
        QCOMPARE(box->singleStep(), step);
        QCOMPARE(box->suffix(), suffix);
    }

    void doubleSpinBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        auto row = [](const char* n, double lo, double hi, double v, int decimals) {
            QTest::newRow(n) << QString(n) << lo << hi << v << decimals;
        };
        row("sbDspRxAgcAttackLong", 0.1, 2.5, 2.5, 1);
        row("sbDspRxAgcAttackSlow", 0.1, 2.5, 2.0, 1);
        row("sbDspRxAgcAttackMed", 0.1, 2.5, 1.7, 1);
        row("sbDspRxAgcAttackFast", 0.1, 2.5, 1.2, 1);
        row("sbDspRxAgcAttack_User", 0.1, 2.5, 2.5, 1);
        row("sbDspRxAgcDecayLong", 10, 5000, 800, 0);
        row("sbDspRxAgcDecaySlow", 10, 5000, 500, 0);
        row("sbDspRxAgcDecayMed", 10, 5000, 250, 0);
        row("sbDspRxAgcDecayFast", 10, 5000, 100, 0);
        row("sbDspRxAgcDecay_User", 10, 5000, 1000, 0);
        row("sbDspRxNrGain", 0.000001, 1, 0.0001, 6);
        row("sbDspRxNrLeak", 0, 1, 0.00002, 6);
        row("sbDspRxAnfGain", 0.000001, 1, 0.0007, 6);
        row("sbDspRxAnfLeak", 0.000001, 1, 0.00001, 6);
        row("sbDspRxNb1Threshold", 0.01, 20, 2.65, 2);
        row("sbDspRxNb2Threshold", 0.01, 20, 2.48, 2);
        row("sbDspSsbApfQuality", 0.1, 10, 1.0, 1);
        row("dsbFreqCoeffUser", -1, 1, 0.0, 6);
        row("dsbAdminFreqCorrect", -1, 1, 0.0, 10);
        row("dsbHfPreampM0", -60, 60, 9.9, 1);
        row("dsbHfPreampM20", -60, 60, 27.6, 1);
    }
    void doubleSpinBoxes()
    {
        QFETCH(QString, name);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        QFETCH(double, value);
        QFETCH(int, decimals);
        auto* box = child<QDoubleSpinBox>(name);
        QVERIFY2(box, qPrintable("no single QDoubleSpinBox " + name));
        QCOMPARE(box->minimum(), minimum);
        QCOMPARE(box->maximum(), maximum);
        QCOMPARE(box->value(), value);
        QCOMPARE(box->decimals(), decimals);
    }

    void agcUnitsAndSteps()
    {
        for (const char* preset : {"Long", "Slow", "Med", "Fast", "_User"}) {
            auto* attack = child<QDoubleSpinBox>(QString("sbDspRxAgcAttack") + preset);
            auto* decay = child<QDoubleSpinBox>(QString("sbDspRxAgcDecay") + preset);
            QVERIFY(attack && decay);
            QCOMPARE(attack->suffix(), QString(" ms"));
            QCOMPARE(attack->singleStep(), 0.1);
            QCOMPARE(decay->suffix(), QString(" ms"));
            QCOMPARE(decay->singleStep(), 10.0);
        }
        for (const char* preset : {"Long", "Slow", "Med", "Fast"})
            QVERIFY2(child<QPushButton>(QString("pbDspRxAgcDefault") + preset), preset);
        QVERIFY(!m_options->findChild<QPushButton*>("pbDspRxAgcDefault_User"));
        QVERIFY(!m_options->findChild<QPushButton*>("pbDspRxAgcDefaultUser"));
    }

    void checkBoxes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("checked");
        QTest::newRow("chbLpf") << "chbLpf" << "Use LPF" << true;
        QTest::newRow("chbBpf") << "chbBpf" << "Front end: BPF" << true;
        QTest::newRow("chbFeAtt") << "chbFeAtt" << "Front end: ATT" << false;
        QTest::newRow("chbFePreamp") << "chbFePreamp" << "Front end: Preamp" << false;
        QTest::newRow("chbDisableAudio") << "chbDisableAudio" << "Disable audio output" << false;
        QTest::newRow("chbPll") << "chbPll" << "Use external reference" << false;
        QTest::newRow("chbDspDseSwap") << "chbDspDseSwap" << "Swap channels" << false;
        QTest::newRow("chbDspWfmUsa") << "chbDspWfmUsa" << "USA" << false;
        QTest::newRow("chbExtCtrlEnable") << "chbExtCtrlEnable" << "Enable" << false;
    }
    void checkBoxes()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, checked);
        auto* box = child<QCheckBox>(name);
        QVERIFY2(box, qPrintable("no single QCheckBox " + name));
        QCOMPARE(box->text(), text);
        QCOMPARE(box->isChecked(), checked);
    }

    void extCtrlMatrix()
    {
        for (const char* band : kBandRows)
            for (int bit = 0; bit < 7; ++bit) {
                const QString name = QString("chbExtCtrlRx%1_%2").arg(band).arg(bit);
                auto* box = child<QCheckBox>(name);
                QVERIFY2(box, qPrintable("missing " + name));
                QVERIFY(!box->isChecked());
            }
        QVERIFY(!m_options->findChild<QCheckBox*>("chbExtCtrlRx11_0"));
        QVERIFY(!m_options->findChild<QCheckBox*>("chbExtCtrlRx160_7"));
    }

    void combos_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("cbModeIP") << "cbModeIP" << QStringList{"Auto", "Static IP"};
        QTest::newRow("cbSampleRate") << "cbSampleRate" << QStringList{"39062.5", "78125", "156250", "312500"};
        QTest::newRow("cbDspMode") << "cbDspMode" << QStringList{"AGC", "DSP"};
        QTest::newRow("cbNetworkMode") << "cbNetworkMode"
                                       << QStringList{"DHCP Auto", "Static IP", "DHCP Server", "DHCP Client"};
    }
    void combos()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, items);
        auto* combo = child<QComboBox>(name);
        QVERIFY2(combo, qPrintable("no single QComboBox " + name));
        QStringList texts;
        for (int i = 0; i < combo->count(); ++i)
            texts << combo->itemText(i);
        QCOMPARE(texts, items);
        QCOMPARE(combo->currentIndex(), 0);
    }

    void buttons_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        const char* rows[][2] = {
            {"pbDefaultNR", "Default"},       {"pbDefaultANF", "Default"},      {"pbDefaultNB1", "Default"},
            {"pbDefaultNB2", "Default"},      {"pbDspRxFilterTapsDefault", "Default"},
            {"pbNetworkModeSet", "Set"},      {"pbNetworkReset", "Reset"},      {"pbUserCoeffRead", "Read"},
            {"pbUserCoeffWrite", "Write"},    {"pbUserCoeffDefault", "Default"}, {"pbUpdate", "Firmware update"},
            {"pbUpdateFpga", "Update FPGA"},  {"pbCoeRootRead", "Read"},        {"pbCoeRootWrite", "Write"},
            {"pbCoeRootDefault", "Default"},  {"pbSaveAdmin", "Save"},          {"pbLoadAdmin", "Load"},
            {"pbSetIpAddress", "Set IP Address"},
        };
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString(r[0]) << QString(r[1]);
    }
    void buttons()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        auto* button = child<QPushButton>(name);
        QVERIFY2(button, qPrintable("no single QPushButton " + name));
        QCOMPARE(button->text(), text);
    }

    void addressFields()
    {
        auto* address = child<QLineEdit>("leIP");
        auto* serial = child<QLineEdit>("leSerial");
        auto* staticAddress = child<QLineEdit>("leStaticIP");
        QVERIFY(address && serial && staticAddress);
        QVERIFY2(!QHostAddress(address->text()).isNull(), "the factory address is an IPv4 address");
        QVERIFY(serial->isReadOnly());
        QCOMPARE(staticAddress->placeholderText(), QString("000.000.000.000"));
    }

    void visibleTexts()
    {
        QStringList labels;
        for (const QLabel* l : m_options->findChildren<QLabel*>())
            labels << l->text();
        QStringList titles;
        for (const QGroupBox* g : m_options->findChildren<QGroupBox*>())
            titles << g->title();
        for (const char* text : {"ZorvaniDDC:", "Attack: ", "Decay: ", "Hang time: ", "Taps: ", "Delay:", "Rate:",
                                 "Leak:", "Threshold NB1", "Threshold NB2", "Gain:", "Quality:", "Frequency:",
                                 "SSB:", "AM/NFM:", "DIGL/DIGU:", "CW:", "DIGL:", "DIGU:", "Pitch:",
                                 "Set Static IP Address:", "New Port:", "Network mode:", "Frequency coefficient:",
                                 "Push WRITE button after changing coefficients.", "Frequency corection:",
                                 "Preamp 0dB", "Preamp -20dB", "160M: ", "80M: ", "60M: ", "40M: ", "30M: ",
                                 "20M: ", "17M: ", "15M: ", "12M: ", "10M: ", "6M: ", "2M: ", "GEN:", "1", "7"})
            QVERIFY2(labels.contains(text), text);
        for (const char* title : {"Long", "Slow", "Med", "Fast", "User", "NR", "ANF", "Noise blanker", "CW APF",
                                  "SSB APF", "DSE", "Filter taps", "DIG Offset", "WFM", "CW"})
            QVERIFY2(titles.contains(title), title);
        // Every Ext Ctrl row label sits in the same grid row as its boxes.
        auto* grid = qobject_cast<QGridLayout*>(child<QWidget>("tabExtCtrl")->findChild<QGridLayout*>("glExtCtrl"));
        QVERIFY(grid);
        for (const char* band : kBandRows) {
            int row = -1, column = -1, rs = 0, cs = 0;
            grid->getItemPosition(grid->indexOf(child<QLabel>(QString("lbExtCtrl") + band)), &row, &column, &rs, &cs);
            for (int bit = 0; bit < 7; ++bit) {
                int boxRow = -2, boxColumn = -2;
                grid->getItemPosition(grid->indexOf(child<QCheckBox>(QString("chbExtCtrlRx%1_%2").arg(band).arg(bit))),
                                      &boxRow, &boxColumn, &rs, &cs);
                QCOMPARE(boxRow, row);
                QCOMPARE(boxColumn, column + 1 + bit);
            }
        }
    }

    void pagesSitOnTheirTabs()
    {
        auto* tabs = child<QTabWidget>("tbwOptions");
        auto onPage = [tabs](int page, const char* name) {
            QWidget* w = tabs->widget(page)->findChild<QWidget*>(name);
            return w != nullptr;
        };
        QVERIFY(onPage(0, "cbDspMode"));
        QVERIFY(onPage(0, "sbCwPitch"));
        QVERIFY(onPage(1, "chbExtCtrlEnable"));
        QVERIFY(onPage(1, "chbExtCtrlRxGen_6"));
        QVERIFY(onPage(2, "sbWrPort"));
        QVERIFY(onPage(2, "dsbFreqCoeffUser"));
        QVERIFY(onPage(3, "dsbHfPreampM20"));
        QVERIFY(onPage(3, "pbLoadAdmin"));
        QVERIFY(!onPage(3, "sbPort"));
    }

    void dspModeSwitchesSubPage()
    {
        auto* mode = child<QComboBox>("cbDspMode");
        auto* stack = child<QStackedWidget>("swDsp");
        QVERIFY(mode && stack);
        QVERIFY(stack->currentWidget()->findChild<QWidget*>("sbDspRxAgcAttackLong"));
        mode->setCurrentIndex(1);
        QVERIFY(stack->currentWidget()->findChild<QWidget*>("sbDspRxNrTaps"));
        QVERIFY(!stack->currentWidget()->findChild<QWidget*>("sbDspRxAgcAttackLong"));
        mode->setCurrentIndex(0);
        QVERIFY(stack->currentWidget()->findChild<QWidget*>("sbDspRxAgcAttackLong"));
    }

    void wheelNeverChangesSampleRate()
    {
        auto* rate = child<QComboBox>("cbSampleRate");
        m_options->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_options.get()));
        QSignalSpy changed(rate, qOverload<int>(&QComboBox::currentIndexChanged));
        rate->setCurrentIndex(1);
        QCOMPARE(changed.count(), 1);
        const QPoint centre = rate->rect().center();
        for (int delta : {-120, 120, -120, -120}) {
            QWheelEvent wheel(centre, rate->mapToGlobal(centre), QPoint(), QPoint(0, delta), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(rate, &wheel);
            QVERIFY2(wheel.isAccepted(), "the wheel event is swallowed");
        }
        QCOMPARE(rate->currentIndex(), 1);
        QCOMPARE(changed.count(), 1);
    }

    void wheelStillWorksElsewhere()
    {
        // The filter touches only the sample-rate combo: the check that the
        // wheel does something on an unfiltered combo keeps the test above honest.
        auto* mode = child<QComboBox>("cbModeIP");
        m_options->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_options.get()));
        const QPoint centre = mode->rect().center();
        QWheelEvent wheel(centre, mode->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(mode, &wheel);
        QCOMPARE(mode->currentIndex(), 1);
    }

    void addressModeSwitchesEditability()
    {
        auto* mode = child<QComboBox>("cbModeIP");
        auto* address = child<QLineEdit>("leIP");
        auto* port = child<QSpinBox>("sbPort");
        QVERIFY2(address->isReadOnly() && port->isReadOnly(), "read-only in \"Auto\" from the start");
        mode->setCurrentIndex(1);
        QVERIFY(!address->isReadOnly());
        QVERIFY(!port->isReadOnly());
        mode->setCurrentIndex(0);
        QVERIFY(address->isReadOnly());
        QVERIFY(port->isReadOnly());
        m_options->changedModeIP(5);
        QVERIFY(!address->isReadOnly());
    }

    void sampleRateWarning()
    {
        auto* warning = child<QTextBrowser>("tbWarning");
        auto* mute = child<QCheckBox>("chbDisableAudio");
        QVERIFY(warning && mute);
        QVERIFY(warning->toPlainText().contains("With the set sample rate the audio output to the receiver is disabled!"));
        m_options->show();
        QVERIFY(!warning->isVisible());
        QVERIFY(mute->isEnabled());
        m_options->changedSampleRate(4);
        QVERIFY(warning->isVisible());
        QVERIFY(!mute->isEnabled());
        m_options->changedSampleRate(3);
        QVERIFY(!warning->isVisible());
        QVERIFY(mute->isEnabled());
    }

    void defaultSsbApf()
    {
        auto* gain = child<QSpinBox>("sbDspSsbApfSupression");
        auto* freq = child<QSpinBox>("sbDspSsbApfFreq");
        auto* quality = child<QDoubleSpinBox>("sbDspSsbApfQuality");
        QCOMPARE(gain->value(), 12);
        QCOMPARE(freq->value(), 500);
        QCOMPARE(quality->value(), 1.0);
        m_options->onDefaultSsbApf();
        QCOMPARE(gain->value(), 20);
        QCOMPARE(freq->value(), 550);
        QCOMPARE(quality->value(), 0.8);

        gain->setValue(40);
        freq->setValue(1000);
        quality->setValue(5.0);
        child<QPushButton>("pbDefaultSsbApf")->click();
        QCOMPARE(gain->value(), 20);
        QCOMPARE(freq->value(), 550);
        QCOMPARE(quality->value(), 0.8);
    }

    void defaultDse()
    {
        auto* quality = child<QSpinBox>("sbDspDseQuality");
        auto* swap = child<QCheckBox>("chbDspDseSwap");
        quality->setValue(60);
        swap->setChecked(true);
        child<QPushButton>("pbDefaultDse")->click();
        QCOMPARE(quality->value(), 140);
        QVERIFY(!swap->isChecked());
    }

    void cwPitchSignal()
    {
        QSignalSpy spy(m_options.get(), &ZorvaniOptions::cwPitchChanged);
        child<QSpinBox>("sbCwPitch")->setValue(650);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 650);
    }

    void setReceiverShowsRecord()
    {
        Receiver r;
        r.name = "ZorvaniDDC";
        r.serial = "OXD010a1b00123";
        r.address = QHostAddress("10.1.2.3");
        r.port = 50005;
        m_options->setReceiver(r);
        QCOMPARE(m_options->receiverRecord(), r);
        QCOMPARE(child<QLineEdit>("leIP")->text(), QString("10.1.2.3"));
        QCOMPARE(child<QSpinBox>("sbPort")->value(), 50005);
        QCOMPARE(child<QLineEdit>("leSerial")->text(), QString("SN: OXD010a1b00123"));
        QCOMPARE(m_options->deviceMenuWidget()->serial(), QString("OXD010a1b00123"));
        QCOMPARE(menuChild<QLabel>("lbSerial")->text(), QString("OXD010a1b00123"));
        // The Expert page's new address starts from the receiver's, until the user types one.
        auto* staticAddress = child<QLineEdit>("leStaticIP");
        QCOMPARE(staticAddress->text(), QString("10.1.2.3"));
        QTest::keyClicks(staticAddress, "4");
        r.address = QHostAddress("10.9.9.9");
        m_options->setReceiver(r);
        QCOMPARE(staticAddress->text(), QString("10.1.2.34"));
    }

    // A full serial and a dotted address are shown whole, not cut, even when
    // the host squeezes the page to its smallest size.
    void addressFieldsFitTheirTexts()
    {
        Receiver r;
        r.serial = "OXD01fffe99999";
        r.address = QHostAddress("255.255.255.255");
        m_options->setReceiver(r);
        m_options->setMinimumSize(0, 0);
        m_options->resize(m_options->minimumSizeHint());
        m_options->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_options.get()));
        for (const char* name : {"leSerial", "leIP", "leStaticIP"}) {
            auto* field = child<QLineEdit>(name);
            const int needed = field->fontMetrics().horizontalAdvance(field->text());
            QVERIFY2(field->contentsRect().width() > needed + 4,
                     qPrintable(QStringLiteral("%1: %2 px for \"%3\", %4 px wide")
                                    .arg(name)
                                    .arg(needed)
                                    .arg(field->text())
                                    .arg(field->contentsRect().width())));
        }
    }

    void updateReceiverTakesDiscoveryCurrent()
    {
        const Receiver saved = ZorvaniSearcher::instance().current();
        Receiver r;
        r.serial = "OXD01000100042";
        r.address = QHostAddress("127.0.0.2");
        r.port = 50011;
        ZorvaniSearcher::instance().setCurrent(r);
        m_options->updateReceiver();
        ZorvaniSearcher::instance().setCurrent(saved);
        QCOMPARE(m_options->receiverRecord(), r);
        QCOMPARE(child<QLineEdit>("leIP")->text(), QString("127.0.0.2"));
        QCOMPARE(child<QSpinBox>("sbPort")->value(), 50011);
    }

    void menuSitsInQMenu()
    {
        QMenu* menu = m_options->deviceMenu();
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 1);
        auto* action = qobject_cast<QWidgetAction*>(menu->actions().first());
        QVERIFY2(action, "the menu holds a QWidgetAction");
        QCOMPARE(action->defaultWidget(), static_cast<QWidget*>(m_options->deviceMenuWidget()));
        QVERIFY2(menu->findChild<QComboBox*>("cbSampleRate"), "the panel is inside the menu");
    }

    void menuForm()
    {
        DeviceMenuZorvaniDDC menu;
        auto* rate = menu.findChild<QComboBox*>("cbSampleRate");
        QVERIFY(rate);
        QStringList texts;
        for (int i = 0; i < rate->count(); ++i)
            texts << rate->itemText(i);
        QCOMPARE(texts, QStringList({"39 kHz", "78 kHz", "156 kHz", "312 kHz"}));
        const char* boxes[][2] = {{"chbLpf", "LPF:"},
                                  {"chbPll", "External reference:"},
                                  {"chbPreamp", "Front end Preamp:"},
                                  {"chbBpf", "Front end BPF:"},
                                  {"chbAtt", "Front end ATT:"}};
        for (const auto& b : boxes) {
            auto* box = menu.findChild<QCheckBox*>(b[0]);
            QVERIFY2(box, b[0]);
            QCOMPARE(box->text(), QString(b[1]));
        }
        auto* discover = menu.findChild<QPushButton*>("pbDiscover");
        QVERIFY(discover);
        QCOMPARE(discover->text(), QString("  Discover  "));
        QVERIFY(menu.findChild<QLabel*>("lbSerial"));
    }

    void menuSlotsStoreOnlyChanges()
    {
        DeviceMenuZorvaniDDC menu;
        QSignalSpy att(&menu, &DeviceMenuZorvaniDDC::attChanged);
        menu.setAtt(true);
        menu.setAtt(true);
        QCOMPARE(att.count(), 1);
        QVERIFY(menu.att());
        QVERIFY(menu.findChild<QCheckBox*>("chbAtt")->isChecked());
        menu.setAtt(false);
        QCOMPARE(att.count(), 2);
        QCOMPARE(att.at(1).at(0).toBool(), false);

        QSignalSpy serial(&menu, &DeviceMenuZorvaniDDC::serialChanged);
        menu.setSerial(u"OXD01000000001");
        menu.setSerial(u"OXD01000000001");
        QCOMPARE(serial.count(), 1);
        QCOMPARE(menu.findChild<QLabel*>("lbSerial")->text(), QString("OXD01000000001"));

        // A user click on the menu's own box goes through the same path.
        QSignalSpy lpf(&menu, &DeviceMenuZorvaniDDC::lpfChanged);
        const bool before = menu.lpf();
        menu.findChild<QCheckBox*>("chbLpf")->click();
        QCOMPARE(lpf.count(), 1);
        QCOMPARE(menu.lpf(), !before);
    }

    void menuSampleRateClamps_data()
    {
        QTest::addColumn<int>("requested");
        QTest::addColumn<int>("selected");
        QTest::newRow("7") << 7 << 3;
        QTest::newRow("4") << 4 << 3;
        QTest::newRow("2") << 2 << 2;
        QTest::newRow("-1") << -1 << 0;
    }
    void menuSampleRateClamps()
    {
        QFETCH(int, requested);
        QFETCH(int, selected);
        auto* menu = m_options->deviceMenuWidget();
        if (selected == 0)
            menu->setSampleRate(SR156k);
        menu->setSampleRate(ZorvaniSR(requested));
        QCOMPARE(int(menu->sampleRate()), selected);
        QCOMPARE(menuChild<QComboBox>("cbSampleRate")->currentIndex(), selected);
        QCOMPARE(child<QComboBox>("cbSampleRate")->currentIndex(), selected);
    }

    void menuAndOptionsFollowEachOther_data()
    {
        QTest::addColumn<QString>("optionBox");
        QTest::addColumn<QString>("menuBox");
        QTest::newRow("ATT") << "chbFeAtt" << "chbAtt";
        QTest::newRow("Preamp") << "chbFePreamp" << "chbPreamp";
        QTest::newRow("BPF") << "chbBpf" << "chbBpf";
        QTest::newRow("LPF") << "chbLpf" << "chbLpf";
        QTest::newRow("reference") << "chbPll" << "chbPll";
    }
    void menuAndOptionsFollowEachOther()
    {
        QFETCH(QString, optionBox);
        QFETCH(QString, menuBox);
        auto* option = child<QCheckBox>(optionBox);
        auto* menuCheck = menuChild<QCheckBox>(menuBox);
        QVERIFY(option && menuCheck);
        QCOMPARE(menuCheck->isChecked(), option->isChecked());
        QSignalSpy optionToggled(option, &QCheckBox::toggled);

        option->setChecked(!option->isChecked());
        QCOMPARE(menuCheck->isChecked(), option->isChecked());
        menuCheck->click();
        QCOMPARE(option->isChecked(), menuCheck->isChecked());
        QCOMPARE(optionToggled.count(), 2);
    }

    void menuSetterReachesOptions()
    {
        auto* menu = m_options->deviceMenuWidget();
        menu->setAtt(true);
        QVERIFY(child<QCheckBox>("chbFeAtt")->isChecked());
        menu->setExternalReference(true);
        QVERIFY(child<QCheckBox>("chbPll")->isChecked());
        menu->setLpf(false);
        QVERIFY(!child<QCheckBox>("chbLpf")->isChecked());
    }

    void sampleRateFollowsBothWays()
    {
        auto* options = child<QComboBox>("cbSampleRate");
        auto* menuRate = menuChild<QComboBox>("cbSampleRate");
        QSignalSpy menuSpy(m_options->deviceMenuWidget(), &DeviceMenuZorvaniDDC::sampleRateChanged);
        options->setCurrentIndex(2);
        QCOMPARE(menuRate->currentIndex(), 2);
        QCOMPARE(menuSpy.count(), 1);
        menuRate->setCurrentIndex(1);
        QCOMPARE(options->currentIndex(), 1);
        QCOMPARE(menuSpy.count(), 2);
    }

    void discoverLockDisablesDiscover()
    {
        auto* discover = menuChild<QPushButton>("pbDiscover");
        QVERIFY(discover->isEnabled());
        QSignalSpy spy(m_options->deviceMenuWidget(), &DeviceMenuZorvaniDDC::dicoverLockChanged);
        m_options->discoverLock()->setStart(true);
        QVERIFY(!discover->isEnabled());
        QVERIFY(m_options->deviceMenuWidget()->discoverLock());
        m_options->discoverLock()->setStart(false);
        QVERIFY(discover->isEnabled());
        QCOMPARE(spy.count(), 2);
    }

    void menuDiscoverStartsSearch()
    {
        QSignalSpy clicked(child<QPushButton>("pbSearch"), &QPushButton::clicked);
        menuChild<QPushButton>("pbDiscover")->click();
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(TestZorvaniOptions)
#include "tst_zorvanioptions.moc"
