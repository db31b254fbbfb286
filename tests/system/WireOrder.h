#pragma once

#include "Simulator.h"

#include <QList>
#include <QStringList>

// The application commands an emulated receiver got, against the order a test
// expects. A request whose reply came late is sent again unchanged; such a
// re-send (byte for byte an earlier datagram) is not an extra command.
namespace systest {

// Empty when `log` holds exactly `expected`, in order, besides re-sends;
// otherwise the codes received, for the failure message.
inline QString wireMismatch(const QVector<zorvani::sim::LoggedCommand>& log, const QList<int>& expected)
{
    QList<QByteArray> seen;
    QStringList codes;
    int next = 0;
    bool ok = true;
    for (const zorvani::sim::LoggedCommand& c : log) {
        if (c.magic != 0xFF12)
            continue;
        codes << QString::number(c.command);
        if (next < expected.size() && c.command == expected[next])
            ++next;
        else if (!seen.contains(c.bytes))
            ok = false;
        seen << c.bytes;
    }
    if (ok && next == expected.size())
        return {};
    QStringList want;
    for (int code : expected)
        want << QString::number(code);
    return QStringLiteral("received %1; expected %2").arg(codes.join(QLatin1Char(' ')), want.join(QLatin1Char(' ')));
}

} // namespace systest
