#pragma once

#include <QEventLoop>
#include <QTimer>

namespace ox::ui {

// Waits `ms` milliseconds while the calling thread keeps processing its events.
inline void pauseProcessingEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace ox::ui
