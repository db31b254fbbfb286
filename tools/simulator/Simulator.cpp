#include "Simulator.h"

#include "IqPlayback.h"
#include "Protocol.h"
#include "ReceiverNamespace.h"
#include "SimulatorData.h"
#include "SimulatorEngine.h"

#include "discovery/Receiver.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QThread>

#include <chrono>
#include <cstring>

namespace zorvani::sim {

class Simulator::Thread {
public:
    QThread thread;
    SimulatorEngine* engine = nullptr;
};

Simulator::Simulator(const Config& config) : m_config(config), m_data(std::make_shared<Data>())
{
    m_data->faults = Faults();
    m_data->state.versionMajor = config.versionMajor;
    m_data->state.versionMinor = config.versionMinor;
    m_data->state.bootloader = config.startInBootloader;
    m_data->flash = QByteArray(proto::kFlashBytes, char(0xFF));
    m_data->state.rootCalibration = QByteArray(proto::kCalibrationBytes, char(0xFF));
    m_data->state.userCalibration = QByteArray(proto::kCalibrationBytes, char(0xFF));
}

Simulator::~Simulator()
{
    stop();
}

bool Simulator::start()
{
    if (m_thread)
        return true;
    m_data->clock.start();
    m_thread = std::make_unique<Thread>();
    m_thread->thread.setObjectName(QStringLiteral("ZorvaniSimulator"));
    m_thread->engine = new SimulatorEngine(m_config, m_data.get());
    m_thread->engine->moveToThread(&m_thread->thread);
    m_thread->thread.start();
    bool ok = false;
    QMetaObject::invokeMethod(m_thread->engine, "open", Qt::BlockingQueuedConnection, Q_RETURN_ARG(bool, ok));
    if (!ok)
        stop();
    return ok;
}

void Simulator::stop()
{
    if (!m_thread)
        return;
    SimulatorEngine* engine = m_thread->engine;
    QMetaObject::invokeMethod(
        engine,
        [engine] {
            engine->close();
            delete engine;
        },
        Qt::BlockingQueuedConnection);
    m_thread->thread.quit();
    m_thread->thread.wait();
    m_thread.reset();
}

bool Simulator::isRunning() const
{
    return bool(m_thread);
}

bool Simulator::prepareNamespace(const QList<QHostAddress>& addresses, const QString& device)
{
    if (qEnvironmentVariable("ZORVANI_NETNS") != QLatin1String("1")) {
        qWarning() << Q_FUNC_INFO << "refused outside a private network namespace (ZORVANI_NETNS is not 1)";
        return false;
    }
    return receiverNamespace::create(addresses, 24, device);
}

QString Simulator::serialText() const
{
    return receiverSerialText(m_config.serialDecimal, m_config.serialHi, m_config.serialLo);
}

State Simulator::state() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->state;
}

Counters Simulator::counters() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->counters;
}

QVector<LoggedCommand> Simulator::commandLog() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->log;
}

QVector<LoggedCommand> Simulator::commands(quint16 code, quint16 magic) const
{
    QVector<LoggedCommand> out;
    std::lock_guard<std::mutex> lock(m_data->mutex);
    for (const LoggedCommand& c : m_data->log) {
        if (c.command == code && c.magic == magic)
            out.append(c);
    }
    return out;
}

void Simulator::clearCommandLog()
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->log.clear();
}

bool Simulator::waitForCommand(quint16 code, int timeoutMs, int count, quint16 magic)
{
    return waitUntil([&] { return commands(code, magic).size() >= count; }, timeoutMs);
}

bool Simulator::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        quint64 seen;
        {
            std::lock_guard<std::mutex> lock(m_data->waitMutex);
            seen = m_data->generation;
        }
        if (condition())
            return true;
        std::unique_lock<std::mutex> lock(m_data->waitMutex);
        if (!m_data->changed.wait_until(lock, deadline, [&] { return m_data->generation != seen; })) {
            lock.unlock();
            return condition();
        }
    }
}

QVector<qint32> Simulator::capture() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->capture;
}

qint64 Simulator::captureFrames() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->capture.size() / 2;
}

void Simulator::clearCapture()
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->capture.clear();
}

bool Simulator::writeCaptureWav(const QString& path, quint32 sampleRate) const
{
    const QVector<qint32> values = capture();
    const quint32 dataBytes = quint32(values.size()) * 3u;
    QByteArray h(44, '\0');
    std::memcpy(h.data(), "RIFF", 4);
    proto::wr32(h, 4, 36 + dataBytes);
    std::memcpy(h.data() + 8, "WAVEfmt ", 8);
    proto::wr32(h, 16, 16);
    proto::wr16(h, 20, 1); // PCM
    proto::wr16(h, 22, 2);
    proto::wr32(h, 24, sampleRate);
    proto::wr32(h, 28, sampleRate * 6);
    proto::wr16(h, 32, 6);
    proto::wr16(h, 34, 24);
    std::memcpy(h.data() + 36, "data", 4);
    proto::wr32(h, 40, dataBytes);
    QByteArray body(int(dataBytes), '\0');
    for (int i = 0; i < values.size(); ++i)
        proto::wr24(body.data() + 3 * i, values[i]);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(h) != h.size() || f.write(body) != body.size()) {
        qWarning() << Q_FUNC_INFO << "cannot write" << path << f.errorString();
        return false;
    }
    return true;
}

QByteArray Simulator::fpgaImage() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->fpga;
}

QByteArray Simulator::fpgaDigest() const
{
    return QCryptographicHash::hash(fpgaImage(), QCryptographicHash::Sha256);
}

QByteArray Simulator::flashImage() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->flash;
}

QByteArray Simulator::dataFlashPage(int page) const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->dataFlash.value(page, QByteArray(proto::kDataFlashPageBytes, char(0xFF)));
}

Faults Simulator::faults() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->faults;
}

void Simulator::setFaults(const Faults& faults)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->faults = faults;
}

void Simulator::setIqStall(bool stall)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->faults.iqStall = stall;
}

void Simulator::setPacketLimit(quint64 packets)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->packetLimit = packets;
}

void Simulator::setEmitterLevel(int index, double levelDbfs)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->levelChanges.append(qMakePair(index, levelDbfs));
}

std::shared_ptr<IqPlayback> Simulator::play(const QString& path, QString* error, double fallbackCentreHz)
{
    std::shared_ptr<IqPlayback> playback = IqPlayback::open(path, fallbackCentreHz, error);
    if (playback) {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        m_data->playback = playback;
    }
    return playback;
}

void Simulator::stopPlayback()
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->playback.reset();
}

std::shared_ptr<IqPlayback> Simulator::playback() const
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    return m_data->playback;
}

void Simulator::setStartStatus(quint32 status)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->faults.startStatus = status;
}

void Simulator::dropReplies(quint16 code, int count, quint16 magic)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->faults.dropReplies[commandKey(code, magic)] = count;
}

void Simulator::delayReplies(quint16 code, int delayMs, quint16 magic)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->faults.replyDelayMs[commandKey(code, magic)] = delayMs;
}

void Simulator::failCommands(quint16 code, int count, quint16 magic)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->faults.failCommands[commandKey(code, magic)] = count;
}

void Simulator::setFirmwareVersion(quint16 major, quint16 minor)
{
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->state.versionMajor = major;
    m_data->state.versionMinor = minor;
}

bool Simulator::sendJunk(Junk kind)
{
    if (!m_thread)
        return false;
    bool ok = false;
    QMetaObject::invokeMethod(m_thread->engine, "sendJunk", Qt::BlockingQueuedConnection, Q_RETURN_ARG(bool, ok),
                              Q_ARG(int, int(kind)));
    return ok;
}

int Simulator::forge(int count)
{
    if (!m_thread)
        return 0;
    int sent = 0;
    QMetaObject::invokeMethod(m_thread->engine, "sendForgeries", Qt::BlockingQueuedConnection, Q_RETURN_ARG(int, sent),
                              Q_ARG(int, count));
    return sent;
}

} // namespace zorvani::sim
