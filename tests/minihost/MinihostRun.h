#pragma once

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

// The built minimal host run as a user runs it.
namespace hosttest {

struct Run {
    int exitCode = -1; // -2: crashed
    QString out, err;
    QString said() const { return err + out; }
};

inline QStringList withPlugin(const QStringList& arguments)
{
    return QStringList{QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN")} + arguments;
}

// The built minimal host, offscreen, with a configuration folder of its own:
// no run takes another's remembered choices.
inline Run runMinihost(const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QTemporaryDir config;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(MINIHOST_PATH), arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return Run{-1, {}, QStringLiteral("timed out")};
    }
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
               QString::fromLocal8Bit(process.readAllStandardOutput()), QString::fromLocal8Bit(process.readAllStandardError())};
}

inline QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace hosttest
