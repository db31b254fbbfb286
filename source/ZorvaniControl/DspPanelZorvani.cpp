#include "ZorvaniControl/DspPanelZorvani.h"

#include "common/FormControl.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>

#include <cmath>
#include <functional>

namespace {

using ox::ui::requireChild;

int whole(double v)
{
    return int(std::lround(v));
}

// Which control feeds which engine parameter.
struct ValueBinding {
    const char* control;
    void (*apply)(zorvaniDsp&, double);
};
const ValueBinding kValues[] = {
    {"sbDspRxNrTaps", [](zorvaniDsp& d, double v) { d.setNrTaps(whole(v)); }},
    {"sbDspRxNrDelay", [](zorvaniDsp& d, double v) { d.setNrDelay(whole(v)); }},
    {"sbDspRxNrGain", [](zorvaniDsp& d, double v) { d.setNrRate(v); }},
    {"sbDspRxNrLeak", [](zorvaniDsp& d, double v) { d.setNrLeak(v); }},
    {"sbDspRxAnfTaps", [](zorvaniDsp& d, double v) { d.setAnfTaps(whole(v)); }},
    {"sbDspRxAnfDelay", [](zorvaniDsp& d, double v) { d.setAnfDelay(whole(v)); }},
    {"sbDspRxAnfGain", [](zorvaniDsp& d, double v) { d.setAnfRate(v); }},
    {"sbDspRxAnfLeak", [](zorvaniDsp& d, double v) { d.setAnfLeak(v); }},
    {"sbDspRxNb1Threshold", [](zorvaniDsp& d, double v) { d.setNb1Threshold(v); }},
    {"sbDspRxNb2Threshold", [](zorvaniDsp& d, double v) { d.setNb2Threshold(v); }},
    {"sbDspApfSupression", [](zorvaniDsp& d, double v) { d.setApfGain(v); }},
    {"sbDspApfQuality", [](zorvaniDsp& d, double v) { d.setApfQuality(v); }},
    {"sbDspSsbApfSupression", [](zorvaniDsp& d, double v) { d.setSsbApfGain(v); }},
    {"sbDspSsbApfQuality", [](zorvaniDsp& d, double v) { d.setSsbApfQuality(v); }},
    {"sbDspSsbApfFreq", [](zorvaniDsp& d, double v) { d.setSsbApfFreq(v); }},
    {"sbDspDseQuality", [](zorvaniDsp& d, double v) { d.setDseTaps(whole(v)); }},
    {"sbDsp39kHzFilterTapsSSB", [](zorvaniDsp& d, double v) { d.setFirTaps(zorvaniDsp::FirSsb, uint32_t(whole(v))); }},
    {"sbDsp39kHzFilterTapsAM", [](zorvaniDsp& d, double v) { d.setFirTaps(zorvaniDsp::FirAm, uint32_t(whole(v))); }},
    {"sbDsp39kHzFilterTapsDIG", [](zorvaniDsp& d, double v) { d.setFirTaps(zorvaniDsp::FirDig, uint32_t(whole(v))); }},
    {"sbDsp39kHzFilterTapsCW", [](zorvaniDsp& d, double v) { d.setFirTaps(zorvaniDsp::FirCw, uint32_t(whole(v))); }},
};

struct SwitchBinding {
    const char* control;
    void (*apply)(zorvaniDsp&, bool);
};
const SwitchBinding kSwitches[] = {
    {"chbDspDseSwap", [](zorvaniDsp& d, bool on) { d.setDseSwap(on); }},
    {"chbDspWfmUsa", [](zorvaniDsp& d, bool on) { d.setWfmUsa(on); }},
};

// The AGC group boxes in the engine's preset order (Long, Slow, Med, Fast, User).
const char* const kAgcPresets[zorvaniDsp::kAgcPresets] = {"Long", "Slow", "Med", "Fast", "_User"};

// What each "Default" button writes into which control.
struct DefaultValue {
    const char* button;
    const char* control;
    double value;
};
const DefaultValue kDefaults[] = {
    {"pbDspRxAgcDefaultLong", "sbDspRxAgcAttackLong", 1.0},
    {"pbDspRxAgcDefaultLong", "sbDspRxAgcDecayLong", 800},
    {"pbDspRxAgcDefaultLong", "sbDspRxAgcHangTimeLong", 800},
    {"pbDspRxAgcDefaultSlow", "sbDspRxAgcAttackSlow", 1.0},
    {"pbDspRxAgcDefaultSlow", "sbDspRxAgcDecaySlow", 500},
    {"pbDspRxAgcDefaultSlow", "sbDspRxAgcHangTimeSlow", 500},
    {"pbDspRxAgcDefaultMed", "sbDspRxAgcAttackMed", 1.0},
    {"pbDspRxAgcDefaultMed", "sbDspRxAgcDecayMed", 250},
    {"pbDspRxAgcDefaultMed", "sbDspRxAgcHangTimeMed", 250},
    {"pbDspRxAgcDefaultFast", "sbDspRxAgcAttackFast", 0.7},
    {"pbDspRxAgcDefaultFast", "sbDspRxAgcDecayFast", 100},
    {"pbDspRxAgcDefaultFast", "sbDspRxAgcHangTimeFast", 100},
    {"pbDefaultNR", "sbDspRxNrTaps", 98},
    {"pbDefaultNR", "sbDspRxNrDelay", 20},
    {"pbDefaultNR", "sbDspRxNrGain", 0.001},
    {"pbDefaultNR", "sbDspRxNrLeak", 0.00002},
    {"pbDefaultANF", "sbDspRxAnfTaps", 65},
    {"pbDefaultANF", "sbDspRxAnfDelay", 64},
    {"pbDefaultANF", "sbDspRxAnfGain", 0.0007},
    {"pbDefaultANF", "sbDspRxAnfLeak", 0.00001},
    {"pbDefaultNB1", "sbDspRxNb1Threshold", 2.65},
    {"pbDefaultNB2", "sbDspRxNb2Threshold", 2.48},
    {"pbDspRxFilterTapsDefault", "sbDsp39kHzFilterTapsSSB", 1537},
    {"pbDspRxFilterTapsDefault", "sbDsp39kHzFilterTapsAM", 1537},
    {"pbDspRxFilterTapsDefault", "sbDsp39kHzFilterTapsDIG", 1537},
    {"pbDspRxFilterTapsDefault", "sbDsp39kHzFilterTapsCW", 1537},
};

double spinValue(const QAbstractSpinBox* box)
{
    if (auto* d = qobject_cast<const QDoubleSpinBox*>(box))
        return d->value();
    return static_cast<const QSpinBox*>(box)->value();
}

void setSpinValue(QAbstractSpinBox* box, double v)
{
    if (auto* d = qobject_cast<QDoubleSpinBox*>(box))
        d->setValue(v);
    else
        static_cast<QSpinBox*>(box)->setValue(whole(v));
}

// The spin box's value to `apply` now and on every change; the connection
// lives as long as `context`.
void follow(QAbstractSpinBox* box, QObject* context, const std::function<void(double)>& apply)
{
    apply(spinValue(box));
    if (auto* d = qobject_cast<QDoubleSpinBox*>(box))
        QObject::connect(d, qOverload<double>(&QDoubleSpinBox::valueChanged), context, apply);
    else
        QObject::connect(static_cast<QSpinBox*>(box), qOverload<int>(&QSpinBox::valueChanged), context,
                         [apply](int v) { apply(v); });
}

// Every spin box of the page is a QSpinBox or a QDoubleSpinBox.
QAbstractSpinBox* requireSpinBox(const QObject* form, const char* name)
{
    auto* box = requireChild<QAbstractSpinBox>(form, name);
    if (!qobject_cast<QSpinBox*>(box) && !qobject_cast<QDoubleSpinBox*>(box))
        qFatal("%s: \"%s\" is neither a QSpinBox nor a QDoubleSpinBox", Q_FUNC_INFO, name);
    return box;
}

} // namespace

DspPanelZorvani::DspPanelZorvani(QWidget* form, zorvaniDsp* dsp, QObject* parent)
    : QObject(parent), m_form(form), m_dsp(dsp)
{
    bindValues();
    bindAgcPresets();
    bindDigOffsets();
    bindDefaults();
}

void DspPanelZorvani::bindValues()
{
    zorvaniDsp* dsp = m_dsp;
    for (const ValueBinding& b : kValues) {
        auto apply = b.apply;
        follow(requireSpinBox(m_form, b.control), this, [dsp, apply](double v) { apply(*dsp, v); });
    }
    for (const SwitchBinding& b : kSwitches) {
        auto* box = requireChild<QCheckBox>(m_form, b.control);
        auto apply = b.apply;
        apply(*dsp, box->isChecked());
        connect(box, &QCheckBox::toggled, this, [dsp, apply](bool on) { apply(*dsp, on); });
    }
}

void DspPanelZorvani::bindAgcPresets()
{
    zorvaniDsp* dsp = m_dsp;
    for (int preset = 0; preset < zorvaniDsp::kAgcPresets; ++preset) {
        const auto box = [this, preset](const char* kind) {
            return requireSpinBox(m_form, (QByteArray("sbDspRxAgc") + kind + kAgcPresets[preset]).constData());
        };
        follow(box("Attack"), this, [dsp, preset](double ms) { dsp->setAgcAttack(preset, ms); });
        follow(box("Decay"), this, [dsp, preset](double ms) { dsp->setAgcDecay(preset, ms); });
        follow(box("HangTime"), this, [dsp, preset](double ms) { dsp->setAgcHang(preset, uint32_t(whole(ms))); });
    }
}

void DspPanelZorvani::bindDigOffsets()
{
    auto* digl = requireChild<QSpinBox>(m_form, "sbDspDiglOffset");
    auto* digu = requireChild<QSpinBox>(m_form, "sbDspDiguOffset");
    zorvaniDsp* dsp = m_dsp;
    // The panel counts both offsets upward from the carrier; the engine
    // shifts by the negated values (DIGU up, DIGL heard mirrored).
    const auto apply = [this, dsp, digl, digu] {
        dsp->setDigOffsets(-double(digl->value()), -double(digu->value()));
        announceDigOffsets();
    };
    dsp->setDigOffsets(-double(digl->value()), -double(digu->value()));
    connect(digl, qOverload<int>(&QSpinBox::valueChanged), this, apply);
    connect(digu, qOverload<int>(&QSpinBox::valueChanged), this, apply);
}

void DspPanelZorvani::announceDigOffsets()
{
    emit digOffsetsChanged(requireChild<QSpinBox>(m_form, "sbDspDiglOffset")->value(),
                           -requireChild<QSpinBox>(m_form, "sbDspDiguOffset")->value());
}

void DspPanelZorvani::bindDefaults()
{
    QWidget* form = m_form;
    const char* previous = nullptr;
    for (const DefaultValue& d : kDefaults) {
        if (previous && qstrcmp(previous, d.button) == 0)
            continue;
        previous = d.button;
        const QByteArray button(d.button);
        // Rows of one button are adjacent in the table.
        connect(requireChild<QPushButton>(form, d.button), &QPushButton::clicked, this, [form, button] {
            for (const DefaultValue& row : kDefaults)
                if (button == row.button)
                    setSpinValue(requireSpinBox(form, row.control), row.value);
        });
    }
}
