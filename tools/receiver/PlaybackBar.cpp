#include "PlaybackBar.h"

#include "IqPlayback.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

namespace {

constexpr int kSliderSteps = 1000;

QString clock(double seconds)
{
    const int tenths = int(std::lround(std::max(0.0, seconds) * 10.0));
    return QStringLiteral("%1:%2.%3")
        .arg(tenths / 600)
        .arg((tenths / 10) % 60, 2, 10, QLatin1Char('0'))
        .arg(tenths % 10);
}

} // namespace

PlaybackBar::PlaybackBar(QWidget* parent) : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 2, 6, 2);
    m_pause = new QPushButton(tr("Pause"));
    m_pause->setObjectName(QStringLiteral("pbPause"));
    m_pause->setCheckable(true);
    m_loop = new QPushButton(tr("Loop"));
    m_loop->setObjectName(QStringLiteral("pbLoop"));
    m_loop->setCheckable(true);
    m_position = new QSlider(Qt::Horizontal);
    m_position->setObjectName(QStringLiteral("slPosition"));
    m_position->setRange(0, kSliderSteps);
    m_time = new QLabel;
    m_file = new QLabel;
    m_file->setMaximumWidth(260);
    auto* live = new QPushButton(tr("Back to live"));
    live->setObjectName(QStringLiteral("pbLive"));
    row->addWidget(new QLabel(tr("Playing")));
    row->addWidget(m_file);
    row->addWidget(m_pause);
    row->addWidget(m_loop);
    row->addWidget(m_position, 1);
    row->addWidget(m_time);
    row->addWidget(live);

    connect(m_pause, &QPushButton::toggled, this, [this](bool on) {
        if (m_playback)
            m_playback->setPaused(on);
    });
    connect(m_loop, &QPushButton::toggled, this, [this](bool on) {
        if (m_playback)
            m_playback->setLoop(on);
    });
    // A click on the groove jumps there; dragging seeks where the handle is let go.
    auto seek = [this] {
        if (m_playback)
            m_playback->seek(double(m_position->value()) / kSliderSteps * m_playback->info().seconds());
    };
    connect(m_position, &QSlider::sliderReleased, this, seek);
    connect(m_position, &QSlider::actionTriggered, this, [this, seek](int action) {
        if (action != QAbstractSlider::SliderMove)
            QMetaObject::invokeMethod(this, seek, Qt::QueuedConnection);
    });
    connect(live, &QPushButton::clicked, this, &PlaybackBar::liveRequested);
    connect(&m_tick, &QTimer::timeout, this, &PlaybackBar::showPosition);
    m_tick.setInterval(200);
}

void PlaybackBar::attach(std::shared_ptr<zorvani::sim::IqPlayback> playback)
{
    m_playback = std::move(playback);
    const QSignalBlocker pause(m_pause);
    const QSignalBlocker loop(m_loop);
    m_pause->setChecked(m_playback->isPaused());
    m_loop->setChecked(m_playback->loops());
    m_file->setText(m_file->fontMetrics().elidedText(QFileInfo(m_playback->path()).fileName(), Qt::ElideMiddle,
                                                     m_file->maximumWidth()));
    m_file->setToolTip(m_playback->path());
    m_tick.start();
    showPosition();
}

void PlaybackBar::detach()
{
    m_tick.stop();
    m_playback.reset();
}

QString PlaybackBar::timeText() const
{
    if (!m_playback)
        return {};
    return QStringLiteral("%1 / %2").arg(clock(m_playback->positionSeconds()), clock(m_playback->info().seconds()));
}

void PlaybackBar::showPosition()
{
    if (!m_playback)
        return;
    m_time->setText(m_playback->atEnd() ? tr("%1 (end)").arg(timeText()) : timeText());
    const double length = m_playback->info().seconds();
    if (!m_position->isSliderDown() && length > 0.0)
        m_position->setValue(int(std::lround(m_playback->positionSeconds() / length * kSliderSteps)));
}
