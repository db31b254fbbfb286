#pragma once

#include "SpectrumPictures.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <vector>

// The built minimal host run as a user runs it, and independent readers of
// what it writes.
namespace hosttest {

struct Run {
    int exitCode = -1; // -2: crashed
    QString out;
    QString err;
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
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        run.err = QStringLiteral("timed out");
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
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

// A RIFF/WAVE file as its chunks say.
struct Wav {
    QString error;
    quint16 format = 0, channels = 0, blockAlign = 0, bits = 0;
    quint32 rate = 0, byteRate = 0, riffSize = 0;
    qint64 fileSize = 0;
    QByteArray data;
    QStringList chunks;

    // One channel of 24-bit interleaved samples, full scale 1.0.
    std::vector<double> channel(int c) const
    {
        std::vector<double> values;
        const auto* p = reinterpret_cast<const uchar*>(data.constData());
        for (int at = 3 * c; at + 3 <= data.size(); at += 3 * channels)
            values.push_back(double(qint32(quint32(p[at]) << 8 | quint32(p[at + 1]) << 16 | quint32(p[at + 2]) << 24) >> 8) /
                             8388608.0);
        return values;
    }
};

inline Wav readWav(const QString& path)
{
    Wav wav;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        wav.error = file.errorString();
        return wav;
    }
    const QByteArray bytes = file.readAll();
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    if (bytes.size() < 44 || bytes.left(4) != "RIFF" || bytes.mid(8, 4) != "WAVE") {
        wav.error = QStringLiteral("no RIFF/WAVE header");
        return wav;
    }
    wav.riffSize = u32(4);
    wav.fileSize = bytes.size();
    for (int at = 12; at + 8 <= bytes.size(); at += 8 + int(u32(at + 4)) + int(u32(at + 4) & 1)) {
        const QByteArray id = bytes.mid(at, 4);
        if (at + 8 + qint64(u32(at + 4)) > bytes.size()) {
            wav.error = QStringLiteral("chunk %1 runs past the end").arg(QString::fromLatin1(id));
            return wav;
        }
        wav.chunks << QString::fromLatin1(id);
        if (id == "fmt ") {
            wav.format = u16(at + 8);
            wav.channels = u16(at + 10);
            wav.rate = u32(at + 12);
            wav.byteRate = u32(at + 16);
            wav.blockAlign = u16(at + 20);
            wav.bits = u16(at + 22);
        } else if (id == "data") {
            wav.data = bytes.mid(at + 8, int(u32(at + 4)));
        }
    }
    if (!wav.chunks.contains(QStringLiteral("fmt ")) || !wav.chunks.contains(QStringLiteral("data")))
        wav.error = QStringLiteral("fmt or data chunk missing: %1").arg(wav.chunks.join(QLatin1Char(',')));
    return wav;
}

// Channels, sample width, rate, frames in the header and frames read, as
// Python's wave module sees them; empty without python3.
inline QStringList pythonWave(const QString& path)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        return {};
    const Run run = runProgram(python, {QStringLiteral("-c"),
                                        QStringLiteral("import sys, wave\n"
                                                       "w = wave.open(sys.argv[1])\n"
                                                       "n = len(w.readframes(w.getnframes())) // (w.getnchannels() * w.getsampwidth())\n"
                                                       "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes(), n)\n"),
                                        path});
    return (run.out + run.err).trimmed().split(QLatin1Char(' '));
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
