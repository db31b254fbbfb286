#include "EmulatorFaults.h"

#include "Simulator.h"

#include <QStringList>

#include <cmath>

bool EmulatorFaults::parse(const QString& text, EmulatorFaults* faults, QString* error)
{
    EmulatorFaults f;
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = item.section(QLatin1Char('='), 0, 0).trimmed();
        bool ok = false;
        const double value = item.section(QLatin1Char('='), 1).trimmed().toDouble(&ok);
        const bool probability = ok && value >= 0.0 && value <= 1.0;
        if (name == QLatin1String("loss") && probability)
            f.loss = value;
        else if (name == QLatin1String("reorder") && probability)
            f.reorder = value;
        else if (name == QLatin1String("duplicate") && probability)
            f.duplicate = value;
        else if (name == QLatin1String("stall") && ok && std::isfinite(value) && value >= 0.0)
            f.stallAfterS = value;
        else {
            *error = QStringLiteral("--faults: \"%1\" is none of loss=P, reorder=P, duplicate=P (0..1), stall=S (>= 0)")
                         .arg(item.trimmed());
            return false;
        }
    }
    *faults = f;
    return true;
}

QString EmulatorFaults::text() const
{
    QStringList items;
    if (loss > 0.0)
        items << QStringLiteral("loss=%1").arg(loss);
    if (reorder > 0.0)
        items << QStringLiteral("reorder=%1").arg(reorder);
    if (duplicate > 0.0)
        items << QStringLiteral("duplicate=%1").arg(duplicate);
    if (stallAfterS >= 0.0)
        items << QStringLiteral("stall=%1").arg(stallAfterS);
    return items.isEmpty() ? QStringLiteral("none") : items.join(QLatin1Char(','));
}

void EmulatorFaults::start(zorvani::sim::Simulator& sim) const
{
    zorvani::sim::Faults f = sim.faults();
    f.iqLoss = loss;
    f.iqReorder = reorder;
    f.iqDuplicate = duplicate;
    sim.setFaults(f);
}

void EmulatorFaults::tick(zorvani::sim::Simulator& sim, double elapsedS) const
{
    if (stallAfterS >= 0.0 && elapsedS >= stallAfterS && !sim.faults().iqStall)
        sim.setIqStall(true);
}
