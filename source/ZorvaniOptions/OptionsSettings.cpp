#include "ZorvaniOptions/OptionsSettings.h"

#include "common/FormControl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSettings>
#include <QSpinBox>

#include <optional>

namespace {

using Text = QString OptionsSettings::ReceiverText::*;

// The full set in the order save writes it, before the external-output matrix.
struct Row {
    const char* name;
    const char* control; // null for the receiver texts
    double fallback;
    bool reduced;
    Text text = nullptr;
};

const Row kRows[] = {
    {"SdrSerial", nullptr, 0, false, &OptionsSettings::ReceiverText::serial},
    {"SdrAddress", nullptr, 0, false, &OptionsSettings::ReceiverText::address},
    {"SdrPort", "sbPort", 50001, false},
    {"SampleRate", "cbSampleRate", 0, false},
    {"IP_Mode", "cbModeIP", 0, false},
    {"Lpf", "chbLpf", 1, true},
    {"Mute", "chbDisableAudio", 0, true},
    {"PLL", "chbPll", 0, false},
    {"Bpf", "chbBpf", 1, true},
    {"FeAtt", "chbFeAtt", 0, true},
    {"FePream", "chbFePreamp", 0, true},
    {"agc_long_Attack", "sbDspRxAgcAttackLong", 2.5, true},
    {"agc_long_Decay", "sbDspRxAgcDecayLong", 800, true},
    {"agc_long_hangTime", "sbDspRxAgcHangTimeLong", 800, true},
    {"agc_slow_Attack", "sbDspRxAgcAttackSlow", 2.0, true},
    {"agc_slow_Decay", "sbDspRxAgcDecaySlow", 500, true},
    {"agc_slow_hangTime", "sbDspRxAgcHangTimeSlow", 500, true},
    {"agc_med_Attack", "sbDspRxAgcAttackMed", 1.7, true},
    {"agc_med_Decay", "sbDspRxAgcDecayMed", 250, true},
    {"agc_med_hangTime", "sbDspRxAgcHangTimeMed", 250, true},
    {"agc_fast_Attack", "sbDspRxAgcAttackFast", 1.2, true},
    {"agc_fast_Decay", "sbDspRxAgcDecayFast", 100, true},
    {"agc_fast_hangTime", "sbDspRxAgcHangTimeFast", 100, true},
    {"agc_user_Attack", "sbDspRxAgcAttack_User", 2.5, true},
    {"agc_user_Decay", "sbDspRxAgcDecay_User", 1000, true},
    {"agc_user_hangTime", "sbDspRxAgcHangTime_User", 1000, true},
    {"dsp_nr_taps", "sbDspRxNrTaps", 98, true},
    {"dsp_nr_delay", "sbDspRxNrDelay", 20, true},
    {"dsp_nr_rate", "sbDspRxNrGain", 0.0001, true},
    {"dsp_nr_leak", "sbDspRxNrLeak", 0.00002, true},
    {"dsp_anf_taps", "sbDspRxAnfTaps", 65, true},
    {"dsp_anf_delay", "sbDspRxAnfDelay", 64, true},
    {"dsp_anf_rate", "sbDspRxAnfGain", 0.0007, true},
    {"dsp_anf_leak", "sbDspRxAnfLeak", 0.00001, true},
    {"dsp_nb1_thr", "sbDspRxNb1Threshold", 2.65, true},
    {"dsp_nb2_thr", "sbDspRxNb2Threshold", 2.48, true},
    {"dsp_apf_gain", "sbDspApfSupression", 30, false},
    {"dsp_apf_quolity", "sbDspApfQuality", 5, false},
    {"dsp_ssb_apf_gain", "sbDspSsbApfSupression", 12, false},
    // A double like its control: the "Default" button's 0.8 must survive.
    {"dsp_ssb_apf_quolity", "sbDspSsbApfQuality", 1, false},
    {"dsp_ssb_apf_freq", "sbDspSsbApfFreq", 500, false},
    {"dsp_dse_taps", "sbDspDseQuality", 140, false},
    {"dsp_dse_swap", "chbDspDseSwap", 0, false},
    {"dsp_wfm_usa", "chbDspWfmUsa", 0, false},
    {"fir_taps_ssb", "sbDsp39kHzFilterTapsSSB", 1537, true},
    {"fir_taps_am", "sbDsp39kHzFilterTapsAM", 1537, true},
    {"fir_taps_dig", "sbDsp39kHzFilterTapsDIG", 1537, true},
    {"fir_taps_cw", "sbDsp39kHzFilterTapsCW", 1537, true},
    {"digl_offset", "sbDspDiglOffset", 1500, true},
    {"digu_offset", "sbDspDiguOffset", 2200, true},
    {"cw_pitch", "sbCwPitch", 700, false},
    {"ExtCtrlEnable", "chbExtCtrlEnable", 0, true},
};

// The rows of the external-output matrix (the 11M row has no boxes).
const char* const kExtCtrlBands[] = {"160", "80", "60", "40", "30", "20", "17", "15", "12", "10", "6", "2", "Gen"};
constexpr int kExtCtrlBits = 7;

QVariant stateOf(const QWidget* control)
{
    if (auto* box = qobject_cast<const QCheckBox*>(control))
        return box->isChecked();
    if (auto* combo = qobject_cast<const QComboBox*>(control))
        return combo->currentIndex();
    if (auto* spin = qobject_cast<const QSpinBox*>(control))
        return spin->value();
    return static_cast<const QDoubleSpinBox*>(control)->value();
}

std::optional<bool> storedBool(const QString& text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("0"))
        return false;
    return std::nullopt;
}

// The stored value as `control` takes it; nothing when it is missing, of
// another type or outside the control's range.
std::optional<double> storedState(const QVariant& stored, const QWidget* control)
{
    if (!stored.isValid())
        return std::nullopt;
    const QString text = stored.toString().trimmed();
    if (qobject_cast<const QCheckBox*>(control)) {
        const std::optional<bool> on = storedBool(text);
        return on ? std::optional<double>(*on ? 1.0 : 0.0) : std::nullopt;
    }
    bool ok = false;
    if (qobject_cast<const QDoubleSpinBox*>(control) == nullptr) {
        const int value = text.toInt(&ok, 10);
        int low = 0;
        int high = 0;
        if (auto* combo = qobject_cast<const QComboBox*>(control)) {
            high = combo->count() - 1;
        } else {
            auto* spin = static_cast<const QSpinBox*>(control);
            low = spin->minimum();
            high = spin->maximum();
        }
        if (!ok || value < low || value > high)
            return std::nullopt;
        return value;
    }
    auto* spin = static_cast<const QDoubleSpinBox*>(control);
    const double value = text.toDouble(&ok);
    // Written so that NaN fails too.
    if (!ok || !(value >= spin->minimum() && value <= spin->maximum()))
        return std::nullopt;
    return value;
}

void setState(QWidget* control, double value)
{
    if (auto* box = qobject_cast<QCheckBox*>(control))
        box->setChecked(value != 0.0);
    else if (auto* combo = qobject_cast<QComboBox*>(control))
        combo->setCurrentIndex(int(value));
    else if (auto* spin = qobject_cast<QSpinBox*>(control))
        spin->setValue(int(value));
    else
        static_cast<QDoubleSpinBox*>(control)->setValue(value);
}

QString storedText(const QVariant& stored)
{
    if (stored.userType() == QMetaType::QByteArray)
        return QString::fromLatin1(stored.toByteArray());
    return stored.toString();
}

// Every control the table names is a check box, a combo box or a spin box.
QWidget* requireControl(QWidget* form, const QString& name)
{
    const QByteArray n = name.toLatin1();
    auto* control = ox::ui::requireChild<QWidget>(form, n.constData());
    if (!qobject_cast<QCheckBox*>(control) && !qobject_cast<QComboBox*>(control) &&
        !qobject_cast<QSpinBox*>(control) && !qobject_cast<QDoubleSpinBox*>(control))
        qFatal("%s: \"%s\" is no check box, combo box or spin box", Q_FUNC_INFO, n.constData());
    return control;
}

} // namespace

OptionsSettings::OptionsSettings(QWidget* form)
{
    for (const Row& row : kRows)
        m_entries.push_back({QLatin1String(row.name), row.control ? requireControl(form, row.control) : nullptr,
                             row.text, row.fallback, row.reduced});
    // Key n of a band is output bit n - 1.
    for (const char* band : kExtCtrlBands) {
        const QLatin1String b(band);
        for (int n = 1; n <= kExtCtrlBits; ++n) {
            QWidget* box = requireControl(form, QStringLiteral("chbExtCtrlRx%1_%2").arg(b).arg(n - 1));
            m_entries.push_back({QStringLiteral("ExtCtrlRxEnable%1_%2").arg(b).arg(n), box, nullptr, 0, true});
        }
    }
}

void OptionsSettings::save(QSettings& store, Set set, const ReceiverText& receiver) const
{
    store.beginGroup(QLatin1String(kGroup));
    for (const Entry& e : m_entries) {
        if (set == Set::Reduced && !e.reduced)
            continue;
        store.setValue(e.name, e.control ? stateOf(e.control) : QVariant((receiver.*e.text).toLatin1()));
    }
    store.endGroup();
}

OptionsSettings::ReceiverText OptionsSettings::load(QSettings& store, Set set) const
{
    ReceiverText receiver;
    store.beginGroup(QLatin1String(kGroup));
    for (const Entry& e : m_entries) {
        if (set == Set::Reduced && !e.reduced)
            continue;
        const QVariant stored = store.value(e.name);
        if (!e.control)
            receiver.*e.text = storedText(stored);
        else if (const std::optional<double> state = storedState(stored, e.control))
            setState(e.control, *state);
        else if (set == Set::Full)
            setState(e.control, e.fallback);
    }
    store.endGroup();
    return receiver;
}
