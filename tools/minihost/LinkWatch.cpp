#include "LinkWatch.h"

#include "DeviceAbstract.h"

void LinkWatch::attach(DeviceAbstract* device)
{
    detach();
    m_clock.start();
    m_closed = connect(device, &DeviceAbstract::devClosed, this, [this] {
        if (!lost())
            m_lostAfterMs = m_clock.elapsed();
    });
    m_gaps = connect(device, SIGNAL(iqPacketsGivenUp(quint64)), this, SLOT(onGivenUp(quint64)));
}

void LinkWatch::detach()
{
    disconnect(m_closed);
    disconnect(m_gaps);
}

QString LinkWatch::progressText() const
{
    return m_givenUp ? QStringLiteral(", %1 IQ packets given up").arg(m_givenUp) : QString();
}

QStringList LinkWatch::summaryLines() const
{
    QStringList lines{QStringLiteral("link: IQ packets given up %1").arg(m_givenUp)};
    if (lost())
        lines << QStringLiteral("link: stream lost after %1 s").arg(lostAfterS(), 0, 'f', 1);
    return lines;
}

QString LinkWatch::problem() const
{
    if (!lost())
        return {};
    return QStringLiteral("the receiver's IQ stream was lost after %1 s: the plug-in closed the receiver")
        .arg(lostAfterS(), 0, 'f', 1);
}
