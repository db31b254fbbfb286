#include "ZorvaniControl/CalibrationFile.h"

#include <QFileInfo>
#include <QSettings>

#include <cmath>

namespace zorvani::cff {

namespace {
const QString kGroup = QStringLiteral("ZorvaniRoot");

double valueWithin(const QSettings& file, const QString& key, Range range, double fallback)
{
    bool ok = false;
    const double v = file.value(key).toDouble(&ok);
    return ok && std::isfinite(v) && v >= range.min && v <= range.max ? v : fallback;
}
} // namespace

std::optional<RootValues> readRoot(const QString& path, const Limits& limits)
{
    if (!QFileInfo(path).isReadable())
        return std::nullopt;
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return std::nullopt;
    file.beginGroup(kGroup);
    RootValues v;
    v.preampM20 = valueWithin(file, QStringLiteral("HfPreampM20"), limits.preampM20, kFileDefaults.preampM20);
    v.preampM0 = valueWithin(file, QStringLiteral("HfPreampM0"), limits.preampM0, kFileDefaults.preampM0);
    v.frequency = valueWithin(file, QStringLiteral("Frequency"), limits.frequency, kFileDefaults.frequency);
    return v;
}

bool writeRoot(const QString& path, const RootValues& values)
{
    QSettings file(path, QSettings::IniFormat);
    file.beginGroup(kGroup);
    file.setValue(QStringLiteral("HfPreampM20"), values.preampM20);
    file.setValue(QStringLiteral("HfPreampM0"), values.preampM0);
    file.setValue(QStringLiteral("Frequency"), values.frequency);
    file.endGroup();
    file.sync();
    return file.status() == QSettings::NoError;
}

} // namespace zorvani::cff
