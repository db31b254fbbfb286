#pragma once

#include <QObject>

class QWidget;
class zorvaniDsp;

// The options' "DSP" page and the engine parameters it feeds: AGC presets,
// NR, ANF, noise blankers, CW and SSB peak filters, DSE, WFM de-emphasis,
// filter taps and DIG offsets. Each control is found by name once, hands its
// value to the engine at construction and on every change. A "Default" button
// only writes its values into the controls; their change handlers apply them.
// GUI thread only.
class DspPanelZorvani : public QObject {
    Q_OBJECT
public:
    // `form` holds the controls; `dsp` outlives the panel.
    DspPanelZorvani(QWidget* form, zorvaniDsp* dsp, QObject* parent = nullptr);

    // Emits digOffsetsChanged with the controls' values (settings re-announced).
    void announceDigOffsets();

signals:
    // The DIGL offset and the negated DIGU offset, Hz, as the host shows them.
    void digOffsetsChanged(int digl, int digu);

private:
    void bindValues();
    void bindAgcPresets();
    void bindDefaults();
    void bindDigOffsets();

    QWidget* m_form;
    zorvaniDsp* m_dsp;
};
