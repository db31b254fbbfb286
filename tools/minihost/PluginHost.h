#pragma once

#include "DeviceAbstract.h"

#include <QPluginLoader>
#include <QString>

// Loads the device plug-in the way the host does: through QPluginLoader, with
// its interface identifier and metadata checked.
class PluginHost {
public:
    PluginHost() = default;
    ~PluginHost();

    // False with errorString() set when the file is no device plug-in.
    bool load(const QString& path);
    void unload();

    DeviceAbstract* device() const { return m_device; }
    QString errorString() const { return m_error; }
    QString pluginName() const { return m_name; }
    QString pluginVersion() const { return m_version; }

    static QString defaultPluginPath();

private:
    QPluginLoader m_loader;
    DeviceAbstract* m_device = nullptr;
    QString m_error;
    QString m_name;
    QString m_version;
};
