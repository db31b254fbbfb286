#include "ControlPanel.h"

#include "DeviceFunctionsAbstract.h"
#include "RadioController.h"
#include "zorvaniDsp/Demodulators/CtcssTones.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <vector>

namespace {

QSlider* slider(int low, int high, const char* name)
{
    auto* s = new QSlider(Qt::Horizontal);
    s->setRange(low, high);
    s->setObjectName(QLatin1String(name));
    return s;
}

} // namespace

QPushButton* ControlPanel::toggle(const QString& text, const char* name, const QString& tip)
{
    auto* button = new QPushButton(text);
    button->setCheckable(true);
    button->setObjectName(QLatin1String(name));
    button->setToolTip(tip);
    return button;
}

ControlPanel::ControlPanel(RadioController& radio, const DeviceFunctionsAbstract& catalogue, QWidget* parent)
    : QWidget(parent), m_radio(radio), m_catalogue(catalogue)
{
    auto* layout = new QVBoxLayout(this);

    auto* demod = new QGroupBox(tr("Demodulation"));
    auto* form = new QFormLayout(demod);
    m_mode = new QComboBox;
    m_mode->setObjectName(QStringLiteral("cbMode"));
    for (const auto& mode : catalogue.modes())
        m_mode->addItem(mode.second, mode.first);
    m_filter = new QComboBox;
    m_filter->setObjectName(QStringLiteral("cbFilter"));
    m_filter->setToolTip(tr("Filter presets; drag the passband's edges in the spectrum for others"));
    m_agc = new QComboBox;
    m_agc->setObjectName(QStringLiteral("cbAgc"));
    m_agc->addItems(catalogue.agcSettings());
    form->addRow(tr("Mode"), m_mode);
    form->addRow(tr("Filter"), m_filter);
    form->addRow(tr("AGC"), m_agc);
    layout->addWidget(demod);

    auto* noise = new QGroupBox(tr("Noise"));
    auto* noiseRow = new QHBoxLayout(noise);
    m_nr = toggle(tr("NR"), "pbNr", tr("Noise reduction"));
    m_anf = toggle(tr("ANF"), "pbAnf", tr("Automatic notch filter"));
    m_nb1 = toggle(tr("NB1"), "pbNb1", tr("Noise blanker 1"));
    m_nb2 = toggle(tr("NB2"), "pbNb2", tr("Noise blanker 2"));
    for (QPushButton* b : {m_nr, m_anf, m_nb1, m_nb2})
        noiseRow->addWidget(b);
    layout->addWidget(noise);

    auto* squelch = new QGroupBox(tr("Squelch"));
    auto* sq = new QFormLayout(squelch);
    m_squelch = new QCheckBox(tr("On"));
    m_squelch->setObjectName(QStringLiteral("chbSquelch"));
    m_squelchLevel = slider(RadioController::kSquelchLowestDb, 0, "slSquelch");
    m_squelchText = new QLabel;
    auto* sqRow = new QHBoxLayout;
    sqRow->addWidget(m_squelch);
    sqRow->addWidget(m_squelchLevel, 1);
    sqRow->addWidget(m_squelchText);
    sq->addRow(tr("Level"), sqRow);
    m_ctcss = new QCheckBox(tr("CTCSS"));
    m_ctcss->setObjectName(QStringLiteral("chbCtcss"));
    m_ctcssTone = new QComboBox;
    m_ctcssTone->setObjectName(QStringLiteral("cbCtcss"));
    for (int i = 0; i < kCtcssToneCount; ++i)
        m_ctcssTone->addItem(QStringLiteral("%1 Hz").arg(double(kCtcssTones[i]), 0, 'f', 1));
    auto* ctRow = new QHBoxLayout;
    ctRow->addWidget(m_ctcss);
    ctRow->addWidget(m_ctcssTone, 1);
    sq->addRow(tr("Tone"), ctRow);
    layout->addWidget(squelch);

    auto* channels = new QGroupBox(tr("Channels"));
    auto* ch = new QFormLayout(channels);
    m_sub = new QCheckBox(tr("Sub-channel"));
    m_sub->setObjectName(QStringLiteral("chbSub"));
    m_subOffset = new QSpinBox;
    m_subOffset->setObjectName(QStringLiteral("sbSubOffset"));
    m_subOffset->setRange(-int(RadioController::kSubReachHz), int(RadioController::kSubReachHz));
    m_subOffset->setSingleStep(500);
    m_subOffset->setSuffix(tr(" Hz"));
    m_subOffset->setToolTip(tr("The sub-channel's distance from the main channel"));
    auto* subRow = new QHBoxLayout;
    subRow->addWidget(m_sub);
    subRow->addWidget(m_subOffset, 1);
    ch->addRow(subRow);
    m_second = new QCheckBox(tr("Second receiver (RX2)"));
    m_second->setObjectName(QStringLiteral("chbSecondRx"));
    ch->addRow(m_second);
    layout->addWidget(channels);

    auto* audio = new QGroupBox(tr("Audio"));
    auto* au = new QHBoxLayout(audio);
    m_volume = slider(-60, 0, "slVolume");
    m_volumeText = new QLabel;
    au->addWidget(new QLabel(tr("Volume")));
    au->addWidget(m_volume, 1);
    au->addWidget(m_volumeText);
    layout->addWidget(audio);
    layout->addStretch(1);

    connect(m_mode, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { m_radio.setMode(m_mode->itemData(index).toInt()); });
    connect(m_filter, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        const int choice = m_filter->itemData(index).toInt();
        if (choice >= 0)
            m_radio.setFilterPreset(choice);
    });
    connect(m_agc, qOverload<int>(&QComboBox::activated), &m_radio, &RadioController::setAgc);
    connect(m_nr, &QPushButton::toggled, &m_radio, &RadioController::setNr);
    connect(m_anf, &QPushButton::toggled, &m_radio, &RadioController::setAnf);
    connect(m_nb1, &QPushButton::toggled, &m_radio, &RadioController::setNb1);
    connect(m_nb2, &QPushButton::toggled, &m_radio, &RadioController::setNb2);
    auto squelchChanged = [this] { m_radio.setSquelch(m_squelch->isChecked(), m_squelchLevel->value()); };
    connect(m_squelch, &QCheckBox::toggled, this, squelchChanged);
    connect(m_squelchLevel, &QSlider::valueChanged, this, squelchChanged);
    auto ctcssChanged = [this] { m_radio.setCtcss(m_ctcss->isChecked(), m_ctcssTone->currentIndex()); };
    connect(m_ctcss, &QCheckBox::toggled, this, ctcssChanged);
    connect(m_ctcssTone, qOverload<int>(&QComboBox::activated), this, ctcssChanged);
    auto subChanged = [this] { m_radio.setSub(m_sub->isChecked(), m_subOffset->value()); };
    connect(m_sub, &QCheckBox::toggled, this, subChanged);
    connect(m_subOffset, qOverload<int>(&QSpinBox::valueChanged), this, subChanged);
    connect(m_second, &QCheckBox::toggled, &m_radio, &RadioController::setSecondReceiver);
    connect(m_volume, &QSlider::valueChanged, &m_radio, &RadioController::setVolume);

    connect(&m_radio, &RadioController::changed, this, [this](int) { refresh(); });
    connect(&m_radio, &RadioController::selected, this, [this](int) { refresh(); });
    refresh();
}

void ControlPanel::fillFilters(int mode)
{
    if (mode == m_filtersOfMode)
        return;
    m_filtersOfMode = mode;
    const QSignalBlocker block(m_filter);
    m_filter->clear();
    for (int i = 0; i < m_catalogue.filterCountForMode(mode); ++i)
        m_filter->addItem(m_catalogue.filterLabel(uint(mode), uint(i)), i);
    m_filter->addItem(tr("Custom"), -1);
}

void ControlPanel::refresh()
{
    const RadioState& s = m_radio.state();
    const QList<QWidget*> all = {m_mode, m_filter, m_agc, m_nr, m_anf, m_nb1, m_nb2, m_squelch, m_squelchLevel,
                                 m_ctcss, m_ctcssTone, m_sub, m_subOffset, m_second, m_volume};
    std::vector<QSignalBlocker> blockers;
    for (QWidget* w : all)
        blockers.emplace_back(w);
    m_mode->setCurrentIndex(m_mode->findData(s.mode));
    fillFilters(s.mode);
    m_filter->setCurrentIndex(m_filter->findData(s.filter));
    m_filter->setEnabled(m_catalogue.filterAdjustable(s.mode));
    m_agc->setCurrentIndex(s.agc);
    m_nr->setChecked(s.nr);
    m_anf->setChecked(s.anf);
    m_nb1->setChecked(s.nb1);
    m_nb2->setChecked(s.nb2);
    m_squelch->setChecked(s.squelch);
    m_squelchLevel->setValue(s.squelchDb);
    m_squelchText->setText(tr("%1 dB").arg(s.squelchDb));
    m_ctcss->setChecked(s.ctcss);
    m_ctcssTone->setCurrentIndex(s.ctcssTone);
    m_sub->setChecked(s.sub);
    m_subOffset->setValue(int(s.subOffset));
    m_second->setChecked(m_radio.secondReceiver());
    m_volume->setValue(m_radio.volumeDb());
    m_volumeText->setText(tr("%1 dB").arg(m_radio.volumeDb()));
}
