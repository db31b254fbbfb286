#include "PluginHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

PluginHost::~PluginHost()
{
    unload();
}

QString PluginHost::defaultPluginPath()
{
    const QByteArray env = qgetenv("ZORVANI_PLUGIN");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {QStringLiteral("../../plugins/libZorvaniDDC.so"), QStringLiteral("plugins/libZorvaniDDC.so"),
                                     QStringLiteral("../plugins/libZorvaniDDC.so")}) {
        const QString path = dir.absoluteFilePath(candidate);
        if (QFileInfo::exists(path))
            return QDir::cleanPath(path);
    }
    return QStringLiteral("libZorvaniDDC.so");
}

void PluginHost::separateArguments(int argc, char** argv, QStringList* arguments, std::vector<char*>* qtArgv)
{
    for (int i = 0; i < argc; ++i) {
        *arguments << QString::fromLocal8Bit(argv[i]);
        const QByteArray a(argv[i]);
        if (i > 0 && (a == "--plugin" || a == "-plugin")) {
            if (i + 1 < argc)
                *arguments << QString::fromLocal8Bit(argv[++i]);
            continue;
        }
        if (i == 0 || !(a.startsWith("--plugin=") || a.startsWith("-plugin=")))
            qtArgv->push_back(argv[i]);
    }
    qtArgv->push_back(nullptr);
}

bool PluginHost::load(const QString& path)
{
    unload();
    m_loader.setFileName(path);
    const QJsonObject meta = m_loader.metaData();
    if (meta.isEmpty()) {
        m_error = QStringLiteral("%1 is not a Qt plug-in: %2").arg(path, m_loader.errorString());
        return false;
    }
    if (meta.value(QStringLiteral("IID")).toString() != QLatin1String(DeviceAbstract_iid)) {
        m_error = QStringLiteral("%1 does not implement %2").arg(path, QLatin1String(DeviceAbstract_iid));
        return false;
    }
    const QJsonObject data = meta.value(QStringLiteral("MetaData")).toObject();
    m_name = data.value(QStringLiteral("name")).toString();
    m_version = data.value(QStringLiteral("version")).toString();
    if (m_name.isEmpty() || m_version.isEmpty() || !data.value(QStringLiteral("dependencies")).isArray()) {
        m_error = QStringLiteral("%1 carries no name, version and dependencies").arg(path);
        return false;
    }
    QObject* instance = m_loader.instance();
    if (!instance) {
        m_error = QStringLiteral("cannot load %1: %2").arg(path, m_loader.errorString());
        return false;
    }
    m_device = qobject_cast<DeviceAbstract*>(instance);
    if (!m_device) {
        m_error = QStringLiteral("%1 gives no device object").arg(path);
        return false;
    }
    return true;
}

void PluginHost::unload()
{
    if (m_device) {
        delete m_device;
        m_device = nullptr;
    }
    if (m_loader.isLoaded())
        m_loader.unload();
}
