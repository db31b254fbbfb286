#pragma once

#include "SpectrumPictures.h"
#include "WavReaders.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

// The built minimal host run as a user runs it, and independent readers of
// what it writes.
namespace hosttest {

struct Run {
    int exitCode = -1; // -2: crashed
    QString out, err;
    QString said() const { return err + out; }
};

// Runs offscreen with a configuration folder of its own: no run takes
// another's remembered choices.
inline Run runProgram(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QTemporaryDir config;
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return Run{-1, {}, QStringLiteral("timed out")};
    }
    return Run{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
               QString::fromLocal8Bit(process.readAllStandardOutput()), QString::fromLocal8Bit(process.readAllStandardError())};
}

inline QStringList withPlugin(const QStringList& arguments)
{
    return QStringList{QStringLiteral("--plugin"), qEnvironmentVariable("ZORVANI_PLUGIN")} + arguments;
}

inline Run runMinihost(const QStringList& arguments, int timeoutMs = 60000)
{
    return runProgram(QStringLiteral(MINIHOST_PATH), arguments, timeoutMs);
}

inline QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

// The highest point of the trace in a panorama picture; x is -1 without a trace.
inline QPoint traceTop(const QImage& image)
{
    const QRect plot = plotArea(image.size());
    for (int y = plot.top() + 1; y < plot.bottom(); ++y)
        for (int x = plot.left() + 1; x < plot.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 200 && c.green() > 150 && c.blue() < 120)
                return {x, y};
        }
    return {-1, plot.bottom()};
}

} // namespace hosttest
