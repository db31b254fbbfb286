#include "FirmwareWatch.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

namespace {
// The update thread has ended after its error states (6 ... 12), 13 and 14.
bool isEnd(int state)
{
    return state >= 6 && state <= 14;
}
} // namespace

bool FirmwareWatch::attach(QObject* device)
{
    // Beyond the host's interface: connected by name.
    const bool states = connect(device, SIGNAL(firmwareState(int, QString)), this, SLOT(onState(int, QString)));
    const bool progress = connect(device, SIGNAL(firmwareProgress(int)), this, SLOT(onProgress(int)));
    return states && progress;
}

void FirmwareWatch::reset()
{
    m_last = -1;
    m_text.clear();
    m_shownPercent = kNoneShown;
}

bool FirmwareWatch::ended() const
{
    return isEnd(m_last);
}

QString FirmwareWatch::outcome() const
{
    if (!begun())
        return QStringLiteral("none");
    const QString how = !ended() ? QStringLiteral("unfinished") : succeeded() ? QStringLiteral("finished")
                                                                                : QStringLiteral("failed");
    return QStringLiteral("%1: %2 (state %3)").arg(how, m_text).arg(m_last);
}

bool FirmwareWatch::waitForEnd(int beginMs, int endMs, const std::function<bool()>& stop)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    connect(&tick, &QTimer::timeout, &loop, [&] {
        const qint64 elapsed = clock.elapsed();
        if (ended() || stop() || elapsed >= endMs || (!begun() && elapsed >= beginMs))
            loop.quit();
    });
    tick.start(50);
    loop.exec();
    return ended();
}

void FirmwareWatch::onState(int state, const QString& text)
{
    m_last = state;
    m_text = text;
    if (state == 3) // writing starts (again) from 0 %
        m_shownPercent = kNoneShown;
    QTextStream(stdout) << "firmware: " << text << " (state " << state << ")\n";
}

void FirmwareWatch::onProgress(int percent)
{
    // Every ten percent is enough for a console, and the end.
    const bool end = percent == 100 && m_shownPercent != 100;
    if (percent < m_shownPercent + 10 && !end)
        return;
    m_shownPercent = percent;
    QTextStream(stdout) << "firmware: " << percent << " % written\n";
}
