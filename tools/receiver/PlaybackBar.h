#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QSlider;

namespace zorvani::sim {
class IqPlayback;
}

// The transport of a recording that the emulator plays: pause, loop, a
// position slider that seeks, the time and the file. "Back to live" asks the
// window to return to the emulator's scene.
class PlaybackBar : public QWidget {
    Q_OBJECT
public:
    explicit PlaybackBar(QWidget* parent = nullptr);

    void attach(std::shared_ptr<zorvani::sim::IqPlayback> playback);
    void detach();
    // "0:02.5 / 0:05.0"
    QString timeText() const;

signals:
    void liveRequested();

private:
    void showPosition();

    std::shared_ptr<zorvani::sim::IqPlayback> m_playback;
    QPushButton* m_pause;
    QPushButton* m_loop;
    QSlider* m_position;
    QLabel* m_time;
    QLabel* m_file;
    QTimer m_tick;
};
