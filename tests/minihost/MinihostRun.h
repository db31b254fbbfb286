#pragma once

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <vector>

// The built minimal host run as a user runs it, and an independent reader of
// the WAV files it and the plug-in write.
namespace hosttest {

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
            values.push_back(double(qint32(quint32(p[at]) << 8 | quint32(p[at + 1]) << 16 | quint32(p[at + 2]) << 24) >> 8) / 8388608.0);
        return values;
    }
};

inline Wav readWav(const QString& path)
{
    Wav wav;
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(bytes.constData() + at); };
    const auto fail = [&](const QString& why) { wav.error = why; return wav; };
    if (bytes.size() < 44 || bytes.left(4) != "RIFF" || bytes.mid(8, 4) != "WAVE")
        return fail(QStringLiteral("%1: no RIFF/WAVE header").arg(path));
    wav.riffSize = u32(4);
    wav.fileSize = bytes.size();
    for (int at = 12; at + 8 <= bytes.size(); at += 8 + int(u32(at + 4)) + int(u32(at + 4) & 1)) {
        wav.chunks << QString::fromLatin1(bytes.mid(at, 4));
        if (at + 8 + qint64(u32(at + 4)) > bytes.size())
            return fail(QStringLiteral("chunk %1 runs past the end").arg(wav.chunks.last()));
        if (wav.chunks.last() == QLatin1String("fmt ")) {
            wav.format = u16(at + 8);
            wav.channels = u16(at + 10);
            wav.rate = u32(at + 12);
            wav.byteRate = u32(at + 16);
            wav.blockAlign = u16(at + 20);
            wav.bits = u16(at + 22);
        } else if (wav.chunks.last() == QLatin1String("data")) {
            wav.data = bytes.mid(at + 8, int(u32(at + 4)));
        }
    }
    if (!wav.chunks.contains(QStringLiteral("fmt ")) || !wav.chunks.contains(QStringLiteral("data")))
        wav.error = QStringLiteral("fmt or data chunk missing: %1").arg(wav.chunks.join(QLatin1Char(',')));
    return wav;
}

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
