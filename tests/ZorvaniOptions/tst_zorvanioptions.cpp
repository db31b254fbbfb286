// The options page's settings: one table of keys, written here from the
// documented key list, drives the round trips, the defaults and the checks of
// stored values.
#include "ReceiverRecord.h"
#include "ZorvaniForms.h"
#include "ZorvaniOptions/ZorvaniOptions.h"

#include <QLineEdit>
#include <QtTest>

#include <cmath>
#include <memory>

using Set = OptionsSettings::Set;
using testsupport::receiver;
using testsupport::show;
using testsupport::shown;
Q_DECLARE_METATYPE(Set)

namespace {

// A key, its control, the default a full load applies, a value a user may
// choose instead, and one outside the control's range (none for check boxes).
struct Key { QString name; QString control; QVariant fallback, chosen, outside; bool reduced; };

const char* const kBands[] = {"160", "80", "60", "40", "30", "20", "17", "15", "12", "10", "6", "2", "Gen"};

// Pattern 0 or 1: the check boxes of the external-output matrix take
// alternating values, so that a key read into the wrong box shows.
QVector<Key> keyTable(int pattern)
{
    QVector<Key> t = {
        {"SdrPort", "sbPort", 50001, 50010, 70000, false}, {"SampleRate", "cbSampleRate", 0, 2, 9, false},
        {"IP_Mode", "cbModeIP", 0, 1, 2, false}, {"Lpf", "chbLpf", true, false, {}, true},
        {"Mute", "chbDisableAudio", false, true, {}, true}, {"PLL", "chbPll", false, true, {}, false},
        {"Bpf", "chbBpf", true, false, {}, true}, {"FeAtt", "chbFeAtt", false, true, {}, true},
        {"FePream", "chbFePreamp", false, true, {}, true}, {"dsp_nr_taps", "sbDspRxNrTaps", 98, 40, 300, true},
        {"dsp_nr_delay", "sbDspRxNrDelay", 20, 33, 0, true}, {"dsp_nr_rate", "sbDspRxNrGain", 0.0001, 0.0005, 2.0, true},
        {"dsp_nr_leak", "sbDspRxNrLeak", 0.00002, 0.00005, -0.1, true}, {"dsp_anf_taps", "sbDspRxAnfTaps", 65, 100, 258, true},
        {"dsp_anf_delay", "sbDspRxAnfDelay", 64, 10, 0, true}, {"dsp_anf_rate", "sbDspRxAnfGain", 0.0007, 0.0003, 0.0, true},
        {"dsp_anf_leak", "sbDspRxAnfLeak", 0.00001, 0.00004, 1.5, true}, {"dsp_nb1_thr", "sbDspRxNb1Threshold", 2.65, 3.5, 25.0, true},
        {"dsp_nb2_thr", "sbDspRxNb2Threshold", 2.48, 1.25, 0.0, true}, {"dsp_apf_gain", "sbDspApfSupression", 30, 40, 5, false},
        {"dsp_apf_quolity", "sbDspApfQuality", 5, 9, 21, false}, {"dsp_ssb_apf_gain", "sbDspSsbApfSupression", 12, 20, 2, false},
        {"dsp_ssb_apf_quolity", "sbDspSsbApfQuality", 1.0, 0.8, 11.0, false}, {"dsp_ssb_apf_freq", "sbDspSsbApfFreq", 500, 550, 2100, false},
        {"dsp_dse_taps", "sbDspDseQuality", 140, 60, 10, false}, {"dsp_dse_swap", "chbDspDseSwap", false, true, {}, false},
        {"dsp_wfm_usa", "chbDspWfmUsa", false, true, {}, false}, {"fir_taps_ssb", "sbDsp39kHzFilterTapsSSB", 1537, 2049, 499, true},
        {"fir_taps_am", "sbDsp39kHzFilterTapsAM", 1537, 1025, 8000, true}, {"fir_taps_dig", "sbDsp39kHzFilterTapsDIG", 1537, 3073, 100, true},
        {"fir_taps_cw", "sbDsp39kHzFilterTapsCW", 1537, 769, 7682, true}, {"digl_offset", "sbDspDiglOffset", 1500, 1000, -1, true},
        {"digu_offset", "sbDspDiguOffset", 2200, 1800, 10001, true}, {"cw_pitch", "sbCwPitch", 700, 600, 200, false},
        {"ExtCtrlEnable", "chbExtCtrlEnable", false, true, {}, true},
    };
    // AGC presets: default, chosen, outside for attack, decay and hang time.
    const struct { const char *key, *control; double attack[3], decay[3]; int hang[3]; } agc[] = {
        {"long", "Long", {2.5, 0.5, 3.0}, {800, 1200, 6000}, {800, 1500, 5}},
        {"slow", "Slow", {2.0, 0.6, 0.05}, {500, 700, 5001}, {500, 300, 9}},
        {"med", "Med", {1.7, 0.7, 2.6}, {250, 350, 0}, {250, 450, 6000}},
        {"fast", "Fast", {1.2, 0.8, 3.0}, {100, 150, -10}, {100, 120, 5010}},
        {"user", "_User", {2.5, 1.1, 0.0}, {1000, 2000, 9000}, {1000, 3000, 1}}};
    for (const auto& p : agc) {
        const QString key = QStringLiteral("agc_%1_").arg(QLatin1String(p.key));
        t.push_back({key + "Attack", QStringLiteral("sbDspRxAgcAttack") + p.control, p.attack[0], p.attack[1], p.attack[2], true});
        t.push_back({key + "Decay", QStringLiteral("sbDspRxAgcDecay") + p.control, p.decay[0], p.decay[1], p.decay[2], true});
        t.push_back({key + "hangTime", QStringLiteral("sbDspRxAgcHangTime") + p.control, p.hang[0], p.hang[1], p.hang[2], true});
    }
    int i = 0;
    for (const char* band : kBands)
        for (int n = 1; n <= 7; ++n, ++i)
            t.push_back({QStringLiteral("ExtCtrlRxEnable%1_%2").arg(band).arg(n),
                         QStringLiteral("chbExtCtrlRx%1_%2").arg(band).arg(n - 1), false, (i + pattern) % 2 == 0, {}, true});
    return t;
}

const QString kSerial = QStringLiteral("OXD01000100001");
const QString kAddress = QStringLiteral("127.0.0.7");

// Doubles to a millionth of the value: the controls keep their decimals only.
bool same(const QVariant& a, const QVariant& b)
{
    if (a.userType() == QMetaType::Double || b.userType() == QMetaType::Double)
        return std::abs(a.toDouble() - b.toDouble()) <= 1e-6 * std::max(1.0, std::abs(b.toDouble()));
    return a == b;
}

#define COMPARE_SHOWN(key, got, want)                                                                              \
    QVERIFY2(same(got, want), qPrintable(QStringLiteral("%1: %2, expected %3").arg(key, got.toString(), want.toString())))

// A stored address mode, serial and address; whether address and port are then read-only; what the page shows.
struct Stored { QString mode, serial, address; bool readOnly; QString shownSerial, shownAddress; };
} // namespace
Q_DECLARE_METATYPE(Stored)

class TestZorvaniOptions : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<ZorvaniOptions> m_options;
    int m_files = 0;

    template <typename T = QWidget> T* child(const QString& name) const { return m_options->findChild<T*>(name); }
    QLineEdit* field(const char* name) const { return child<QLineEdit>(QLatin1String(name)); }
    QString newPath() { return m_dir.filePath(QStringLiteral("s%1.ini").arg(++m_files)); }

    // Loads an INI file written by hand: the group and one line per key.
    void loadLines(const QList<QPair<QString, QString>>& lines, Set set)
    {
        QFile file(newPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
        file.write("[ZorvaniOptions]\n");
        for (const auto& line : lines)
            file.write((line.first + QLatin1Char('=') + line.second + QLatin1Char('\n')).toUtf8());
        file.close();
        QSettings store(file.fileName(), QSettings::IniFormat);
        m_options->loadSettings(store, set);
    }
    void showChosen(int pattern)
    {
        for (const Key& k : keyTable(pattern))
            show(child(k.control), k.chosen);
    }

private slots:
    void init()
    {
        m_options = std::make_unique<ZorvaniOptions>();
        for (const Key& k : keyTable(0))
            QVERIFY2(m_dir.isValid() && child(k.control), qPrintable(k.control));
    }
    void cleanup() { m_options.reset(); }

    // Every control away from its default, saved, a fresh page, loaded: the
    // same page again. The store holds exactly the set's keys, each with the
    // type of its control; the reduced set neither writes nor reads the others.
    void roundTrip_data()
    {
        QTest::addColumn<Set>("set");
        QTest::addColumn<int>("pattern");
        for (int pattern : {0, 1}) {
            QTest::addRow("full, pattern %d", pattern) << Set::Full << pattern;
            QTest::addRow("reduced, pattern %d", pattern) << Set::Reduced << pattern;
        }
    }
    void roundTrip()
    {
        QFETCH(Set, set);
        QFETCH(int, pattern);
        const QVector<Key> keys = keyTable(pattern);
        const bool full = set == Set::Full;
        showChosen(pattern);
        m_options->setReceiver(receiver(kSerial, kAddress, 50010));
        const QString path = newPath();
        {
            QSettings store(path, QSettings::IniFormat);
            m_options->saveSettings(store, set);
            store.beginGroup(QStringLiteral("ZorvaniOptions"));
            QStringList expected = full ? QStringList{"SdrSerial", "SdrAddress"} : QStringList();
            for (const Key& k : keys) {
                if (!full && !k.reduced)
                    continue;
                expected << k.name;
                const QVariant stored = store.value(k.name);
                QVERIFY2(stored.userType() == k.chosen.userType(), qPrintable(k.name + " stored as " + stored.typeName()));
                COMPARE_SHOWN(k.name, stored, k.chosen);
            }
            QStringList written = store.allKeys();
            written.sort(), expected.sort();
            QCOMPARE(written, expected);
            if (full) {
                QCOMPARE(store.value(QStringLiteral("SdrSerial")), QVariant(kSerial.toLatin1()));
                QCOMPARE(store.value(QStringLiteral("SdrAddress")), QVariant(kAddress.toLatin1()));
            }
            for (const Key& k : keys) // what only the full set holds, there for the reduced load to ignore
                if (!full && !k.reduced)
                    store.setValue(k.name, k.chosen);
        }
        m_options = std::make_unique<ZorvaniOptions>();
        const QString serialBefore = field("leSerial")->text();
        QSettings store(path, QSettings::IniFormat);
        m_options->loadSettings(store, set);
        for (const Key& k : keys)
            COMPARE_SHOWN(k.name, shown(child(k.control)), (full || k.reduced ? k.chosen : k.fallback));
        const Receiver r = m_options->receiverRecord();
        QCOMPARE(field("leSerial")->text(), full ? QStringLiteral("SN: ") + kSerial : serialBefore);
        if (full)
            QVERIFY(field("leIP")->text() == kAddress && r.serial == kSerial && r.address == QHostAddress(kAddress) && r.port == 50010);
        else
            QCOMPARE(r, Receiver());
    }

    // A full load replaces what it cannot use by the documented default; a
    // reduced load keeps the control's value. The page starts away from the
    // defaults, so a value left alone would show.
    void unusableValues_data()
    {
        QTest::addColumn<Set>("set");
        QTest::addColumn<QString>("kind");
        for (const Set set : {Set::Full, Set::Reduced})
            for (const char* kind : {"missing", "outside the range", "another type", "not a number"})
                QTest::addRow("%s, %s", set == Set::Full ? "full" : "reduced", kind) << set << QString::fromLatin1(kind);
    }
    void unusableValues()
    {
        QFETCH(Set, set);
        QFETCH(QString, kind);
        const QVector<Key> keys = keyTable(0);
        showChosen(0);
        QList<QPair<QString, QString>> lines;
        for (const Key& k : keys) {
            if (kind == QLatin1String("outside the range") && k.outside.isValid())
                lines << qMakePair(k.name, k.outside.toString());
            else if (kind == QLatin1String("another type")) // a fraction where a whole number belongs, a word elsewhere
                lines << qMakePair(k.name, QString(k.chosen.userType() == QMetaType::Int ? "12.5" : "maybe"));
            else if (kind == QLatin1String("not a number"))
                lines << qMakePair(k.name, QStringLiteral("nan"));
        }
        loadLines(lines, set);
        for (const Key& k : keys)
            COMPARE_SHOWN(k.name, shown(child(k.control)), (set == Set::Full ? k.fallback : k.chosen));
    }

    // The stored address mode decides whether address and port are editable
    // ("Auto" keeps them as discovery found them); the serial and the address
    // change only for text worth showing.
    void storedReceiver_data()
    {
        QTest::addColumn<Stored>("s");
        const QString before = QStringLiteral("10.1.2.3");
        QTest::newRow("Auto, plain text") << Stored{"0", kSerial, kAddress, true, kSerial, kAddress};
        QTest::newRow("Static IP, bytes") << Stored{"1", "@ByteArray(" + kSerial + ")", "@ByteArray(" + kAddress + ")", false, kSerial, kAddress};
        QTest::newRow("no such mode: Auto; leading zeros are decimal") << Stored{"2", kSerial, "192.168.001.010", true, kSerial, "192.168.1.10"};
        QTest::newRow("empty keeps the receiver") << Stored{"1", "", "", false, "OXD0100ff00009", before};
        QTest::newRow("no address keeps the receiver") << Stored{"0", kSerial, "12.34", true, kSerial, before};
    }
    void storedReceiver()
    {
        QFETCH(Stored, s);
        m_options->setReceiver(receiver(QStringLiteral("OXD0100ff00009"), QStringLiteral("10.1.2.3"), 50001));
        // The opposite state first, chosen as a user would ("Auto" is the start).
        child<QComboBox>(QStringLiteral("cbModeIP"))->setCurrentIndex(s.readOnly ? 1 : 0);
        QCOMPARE(field("leIP")->isReadOnly(), !s.readOnly);
        loadLines({{"IP_Mode", s.mode}, {"SdrSerial", s.serial}, {"SdrAddress", s.address}}, Set::Full);
        QVERIFY(field("leIP")->isReadOnly() == s.readOnly && child<QSpinBox>(QStringLiteral("sbPort"))->isReadOnly() == s.readOnly);
        QCOMPARE(field("leSerial")->text() + field("leIP")->text(), QStringLiteral("SN: ") + s.shownSerial + s.shownAddress);
        QVERIFY(m_options->receiverRecord().serial == s.shownSerial && m_options->receiverRecord().address == QHostAddress(s.shownAddress));
    }
};

QTEST_MAIN(TestZorvaniOptions)
#include "tst_zorvanioptions.moc"
