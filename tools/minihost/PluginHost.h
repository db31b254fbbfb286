#pragma once

#include "DeviceAbstract.h"

#include <QPluginLoader>
#include <QString>
#include <QStringList>

#include <vector>

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
    // Qt's application object takes "-plugin NAME" (also spelled with two
    // dashes) as a platform plug-in to load: a host's own --plugin must not
    // reach it. `arguments` gets the whole command line, `qtArgv` what Qt may
    // see (ending with a null pointer).
    static void separateArguments(int argc, char** argv, QStringList* arguments, std::vector<char*>* qtArgv);

private:
    QPluginLoader m_loader;
    DeviceAbstract* m_device = nullptr;
    QString m_error;
    QString m_name;
    QString m_version;
};
