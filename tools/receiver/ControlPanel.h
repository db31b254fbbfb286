#pragma once

#include <QWidget>

class DeviceFunctionsAbstract;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;
class RadioController;

// The controls of the current receiver: mode, filter presets, AGC, NR, ANF,
// the blankers, squelch and CTCSS, the sub-channel, plus the main volume and
// the second receiver. Built from the plug-in's catalogue; every change goes
// through the controller, and the controls follow its state.
class ControlPanel : public QWidget {
    Q_OBJECT
public:
    ControlPanel(RadioController& radio, const DeviceFunctionsAbstract& catalogue, QWidget* parent = nullptr);

    // Shows the current receiver's state.
    void refresh();

private:
    void fillFilters(int mode);
    QPushButton* toggle(const QString& text, const char* name, const QString& tip);

    RadioController& m_radio;
    const DeviceFunctionsAbstract& m_catalogue;
    QComboBox* m_mode;
    QComboBox* m_filter;
    QComboBox* m_agc;
    QPushButton* m_nr;
    QPushButton* m_anf;
    QPushButton* m_nb1;
    QPushButton* m_nb2;
    QCheckBox* m_squelch;
    QSlider* m_squelchLevel;
    QLabel* m_squelchText;
    QCheckBox* m_ctcss;
    QComboBox* m_ctcssTone;
    QCheckBox* m_sub;
    QSpinBox* m_subOffset;
    QCheckBox* m_second;
    QSlider* m_volume;
    QLabel* m_volumeText;
    int m_filtersOfMode = -1;
};
