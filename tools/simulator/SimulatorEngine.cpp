#include "SimulatorEngine.h"

#include "Protocol.h"
#include "ReceiverNamespace.h"
#include "SimulatorData.h"

#include <QDebug>
#include <QFile>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace zorvani::sim {

using namespace proto;

namespace {

constexpr int kTickMs = 1;
constexpr qint64 kHeldPacketFlushMs = 5;

const QHostAddress kForeignAddress(QStringLiteral("127.0.0.3"));

} // namespace

SimulatorEngine::SimulatorEngine(const Config& config, Simulator::Data* data)
    : m_config(config), m_data(data), m_forger(config.scene.seed ^ 0xF026u), m_faultRandom(config.scene.seed ^ 0xFA17u)
{
    for (int rx = 0; rx < 2; ++rx)
        m_generators[size_t(rx)] = std::make_unique<SceneGenerator>(config.scene, std::uint64_t(rx + 1));
    m_bandScope = std::make_unique<SceneGenerator>(config.scene, 3);
    for (QByteArray& bytes : m_sentBytes)
        bytes = QByteArray(kIqPacketBytes, '\0');
}

SimulatorEngine::~SimulatorEngine() = default;

qint64 SimulatorEngine::nowMs() const
{
    return m_data->clock.elapsed();
}

bool SimulatorEngine::open()
{
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        State& s = m_data->state;
        s.bootloader = m_config.startInBootloader;
        s.versionMajor = m_config.versionMajor;
        s.versionMinor = m_config.versionMinor;
        s.freq[0] = s.freq[1] = m_config.initialFreq;
        s.rootCalibration = QByteArray(kCalibrationBytes, char(0xFF));
        s.userCalibration = QByteArray(kCalibrationBytes, char(0xFF));
        m_data->flash = QByteArray(kFlashBytes, char(0xFF));
    }
    loadCalibration();
    // Never on a real network: loopback, or addresses of a private namespace.
    const bool privateNetwork =
        m_config.receiverNamespace || qEnvironmentVariable("ZORVANI_NETNS") == QLatin1String("1");
    if (!m_config.address.isLoopback() && !privateNetwork) {
        qWarning() << Q_FUNC_INFO << "refusing" << m_config.address.toString() << "outside 127.0.0.0/8";
        return false;
    }
    if (m_config.receiverNamespace && !receiverNamespace::enter()) {
        qWarning() << Q_FUNC_INFO << "no receiver namespace: call Simulator::prepareNamespace() first";
        return false;
    }
    if (!bindControl(m_config.address, m_config.port))
        return false;
    if (m_config.receiverNamespace && !bindDiscovery(m_config.port))
        return false;
    m_tick = new QTimer(this);
    m_tick->setTimerType(Qt::PreciseTimer);
    m_tick->setInterval(kTickMs);
    connect(m_tick, &QTimer::timeout, this, &SimulatorEngine::onTick);
    m_tick->start();
    return true;
}

void SimulatorEngine::close()
{
    if (m_tick)
        m_tick->stop();
    stopStream();
    delete m_control;
    m_control = nullptr;
    delete m_discovery;
    m_discovery = nullptr;
}

bool SimulatorEngine::bindControl(const QHostAddress& address, quint16 port)
{
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        qWarning() << Q_FUNC_INFO << "cannot bind" << address.toString() << port << socket->errorString();
        delete socket;
        return false;
    }
    // Room for a few seconds of answers, so that a briefly descheduled emulator
    // does not lose what the host sent (the kernel may cap it).
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 << 20);
    delete m_control;
    m_control = socket;
    m_address = address;
    m_port = port;
    connect(m_control, &QUdpSocket::readyRead, this, [this] { readSocket(m_control, false); });
    return true;
}

bool SimulatorEngine::bindDiscovery(quint16 port)
{
    // Only inside the receiver namespace: there 0.0.0.0 is the private wire.
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        qWarning() << Q_FUNC_INFO << "cannot bind broadcasts on port" << port << socket->errorString();
        delete socket;
        return false;
    }
    delete m_discovery;
    m_discovery = socket;
    connect(m_discovery, &QUdpSocket::readyRead, this, [this] { readSocket(m_discovery, true); });
    return true;
}

void SimulatorEngine::readSocket(QUdpSocket* socket, bool discoveryOnly)
{
    while (socket->hasPendingDatagrams()) {
        QByteArray d(int(std::max<qint64>(socket->pendingDatagramSize(), 0)), '\0');
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 n = socket->readDatagram(d.data(), d.size(), &from, &fromPort);
        if (n < 0)
            continue;
        d.resize(int(n));
        if (m_pending != Pending::None)
            continue; // resetting: nobody listens
        handleDatagram(d, from, fromPort, socket, discoveryOnly);
    }
}

void SimulatorEngine::handleDatagram(const QByteArray& d, const QHostAddress& from, quint16 fromPort,
                                     QUdpSocket* socket, bool discoveryOnly)
{
    if (d.size() >= 4 && rd16(d, kOffCommand) == kIqMark) {
        if (!discoveryOnly)
            handleIqAnswer(d);
        return;
    }
    if (d.size() >= 4 && rd16(d, kOffMagic) == kMagicApp && rd16(d, kOffCommand) == kDiscoveryRequest) {
        handleDiscovery(d, from, fromPort, socket);
        return;
    }
    if (discoveryOnly) {
        countMalformed();
        return;
    }
    m_peer = from;
    m_peerPort = fromPort;
    m_lastRequest = d;
    // Logged before it is handled, so the entry exists when the reply arrives.
    const int entry = logDatagram(d, false);
    bool ok = false;
    bool bootloader = false;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bootloader = m_data->state.bootloader;
    }
    if (d.size() >= kHeaderBytes && d.size() >= kHeaderBytes + rd16(d, kOffLength)) {
        const quint16 magic = rd16(d, kOffMagic);
        if (magic == kMagicApp && bootloader)
            ok = true; // the bootloader ignores application commands
        else if (refuseOnRequest(d))
            ok = true;
        else if (magic == kMagicApp)
            ok = handleApp(d);
        else if (magic == kMagicBoot)
            ok = handleBoot(d);
    }
    if (!ok) {
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            if (entry >= 0 && entry < m_data->log.size())
                m_data->log[entry].malformed = true;
        }
        countMalformed();
    }
}

void SimulatorEngine::handleDiscovery(const QByteArray& d, const QHostAddress& from, quint16 fromPort,
                                      QUdpSocket* socket)
{
    const bool valid = d.size() == kDiscoveryRequestBytes && discoveryChecksum(d, 12) == 0;
    logDatagram(d, !valid);
    if (!valid) {
        countMalformed();
        return;
    }
    QByteArray r(kDiscoveryReplyBytes, '\0');
    wr16(r, kOffMagic, kMagicApp);
    wr16(r, kOffCommand, kDiscoveryReply);
    wr32(r, kOffDiscoverySerial, m_config.serialDecimal);
    r[kOffDiscoverySerialHex] = char(m_config.serialHi);
    r[kOffDiscoverySerialHex + 1] = char(m_config.serialLo);
    const quint32 ip = m_address.toIPv4Address();
    r[kOffDiscoveryAddress] = char(ip >> 24);
    r[kOffDiscoveryAddress + 1] = char(ip >> 16);
    r[kOffDiscoveryAddress + 2] = char(ip >> 8);
    r[kOffDiscoveryAddress + 3] = char(ip);
    wr16(r, kOffDiscoveryPort, m_port);
    bool bootloader;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bootloader = m_data->state.bootloader;
        ++m_data->counters.discoveryReplies;
    }
    wr16(r, kOffDiscoveryMode, bootloader ? 0 : 1);
    socket->writeDatagram(r, from, fromPort);
    m_data->notify();
}

void SimulatorEngine::reply(const QByteArray& request, quint32 status, const QByteArray& payload)
{
    const quint16 magic = rd16(request, kOffMagic);
    const quint16 code = rd16(request, kOffCommand);
    const QByteArray r = packet(magic, code, rd32(request, kOffParam), status, payload);
    const quint32 key = commandKey(code, magic);
    int delayMs = 0;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        auto drop = m_data->faults.dropReplies.find(key);
        if (drop != m_data->faults.dropReplies.end() && drop.value() != 0) {
            if (drop.value() > 0)
                --drop.value();
            ++m_data->counters.repliesDropped;
            return;
        }
        delayMs = m_data->faults.replyDelayMs.value(key, 0);
    }
    if (delayMs > 0)
        m_delayed.append({nowMs() + delayMs, r, m_peer, m_peerPort});
    else
        sendTo(r, m_peer, m_peerPort);
}

void SimulatorEngine::sendTo(const QByteArray& d, const QHostAddress& to, quint16 port)
{
    if (m_control && !to.isNull())
        m_control->writeDatagram(d, to, port);
}

void SimulatorEngine::onTick()
{
    const qint64 now = nowMs();
    if (m_pending != Pending::None) {
        if (now >= m_silentUntilMs)
            endSilence();
        return;
    }
    for (int i = 0; i < m_delayed.size();) {
        if (m_delayed[i].dueMs <= now) {
            sendTo(m_delayed[i].bytes, m_delayed[i].to, m_delayed[i].port);
            m_delayed.remove(i);
        } else {
            ++i;
        }
    }
    if (m_streaming) {
        resendOverdue(now);
        if (m_config.paced)
            pace(now);
        if (!m_held.isEmpty() && now - m_sent[rd16(m_held, kOffSequence) & kSentMask].sentMs >= kHeldPacketFlushMs) {
            sendTo(m_held, m_iqPeer, m_iqPeerPort);
            m_held.clear();
        }
    }
    sendBandScope(now);
}

void SimulatorEngine::beginSilence(Pending what, int ms)
{
    stopStream();
    m_pending = what;
    m_silentUntilMs = nowMs() + std::max(ms, 0);
    m_delayed.clear();
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        m_data->state.silent = true;
        m_data->state.bandScope.enable = false;
        if (what == Pending::Reset)
            ++m_data->state.resets;
    }
    m_data->notify();
}

void SimulatorEngine::endSilence()
{
    const Pending what = m_pending;
    m_pending = Pending::None;
    QHostAddress address = m_address;
    quint16 port = m_port;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        State& s = m_data->state;
        s.silent = false;
        if (what == Pending::EnterBoot)
            s.bootloader = true;
        else if (what == Pending::LeaveBoot)
            s.bootloader = false;
        else if (s.networkMode == 1 && !s.staticAddress.isNull() && s.staticPort != 0) {
            address = s.staticAddress;
            port = s.staticPort;
        }
    }
    if (address != m_address || port != m_port) {
        // Stay off real networks: a new address is taken only on loopback or
        // inside the receiver namespace.
        const bool allowed = address.isLoopback() || m_config.receiverNamespace;
        if (!allowed || !bindControl(address, port)) {
            qWarning() << Q_FUNC_INFO << "keeping" << m_address.toString() << m_port << "instead of"
                       << address.toString() << port;
        } else if (m_discovery) {
            bindDiscovery(port);
        }
    }
    m_data->notify();
}

int SimulatorEngine::logDatagram(const QByteArray& d, bool malformed)
{
    if (!m_config.logCommands)
        return -1;
    LoggedCommand c;
    c.timeUs = m_data->clock.nsecsElapsed() / 1000;
    c.magic = d.size() >= 4 ? rd16(d, kOffMagic) : 0;
    c.command = d.size() >= 4 ? rd16(d, kOffCommand) : 0;
    c.malformed = malformed;
    c.bytes = d;
    int index = -1;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        if (m_data->log.size() < kMaxLoggedCommands) {
            index = m_data->log.size();
            m_data->log.append(c);
        }
    }
    m_data->notify();
    return index;
}

void SimulatorEngine::countMalformed()
{
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        ++m_data->counters.malformed;
    }
    m_data->notify();
}

bool SimulatorEngine::sendJunk(int kind)
{
    if (m_peer.isNull() || !m_control)
        return false;
    QByteArray d;
    switch (Simulator::Junk(kind)) {
    case Simulator::Junk::ShortIq:
        d = QByteArray(100, '\0');
        wr16(d, kOffMagic, kMagicApp);
        wr16(d, kOffCommand, kIqMark);
        wr16(d, kOffSequence, m_seq);
        break;
    case Simulator::Junk::ShortReply:
        d = QByteArray(6, '\0');
        wr16(d, kOffMagic, kMagicApp);
        wr16(d, kOffCommand, CmdInformation);
        break;
    case Simulator::Junk::ShortFragment:
        d = QByteArray(40, '\0');
        wr16(d, kOffMagic, kMagicApp);
        wr16(d, kOffCommand, kBandScopeMark);
        break;
    case Simulator::Junk::Foreign: {
        QUdpSocket foreign;
        if (!foreign.bind(kForeignAddress, 0))
            return false;
        QByteArray info = packet(kMagicApp, CmdInformation, 0, 1, informationRecord());
        return foreign.writeDatagram(info, m_peer, m_peerPort) == info.size();
    }
    case Simulator::Junk::Random: {
        d = QByteArray(int(1 + m_faultRandom.next() % 1500), '\0');
        for (char& c : d)
            c = char(m_faultRandom.next());
        break;
    }
    }
    return m_control->writeDatagram(d, m_peer, m_peerPort) == d.size();
}

} // namespace zorvani::sim
