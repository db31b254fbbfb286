#include "SimulatorEngine.h"

#include "Protocol.h"
#include "ReceiverNamespace.h"
#include "SimulatorData.h"

#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"
#include "common/ZorvaniSR.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zorvani::sim {

using namespace proto;

namespace {

constexpr int kTickMs = 1;
constexpr double kBandScopeRateHz = 4000000.0; // divided by (decimation + 1)
constexpr qint64 kHeldPacketFlushMs = 5;

const QHostAddress kForeignAddress(QStringLiteral("127.0.0.3"));

qint32 toSample24(double v)
{
    const double s = std::round(v * 8388607.0);
    return qint32(std::clamp(s, -8388608.0, 8388607.0));
}

} // namespace

SimulatorEngine::SimulatorEngine(const Config& config, Simulator::Data* data)
    : m_config(config), m_data(data), m_faultRandom(config.scene.seed ^ 0xFA17u)
{
    for (int rx = 0; rx < 2; ++rx)
        m_generators[size_t(rx)] = std::make_unique<SceneGenerator>(config.scene, std::uint64_t(rx + 1));
    m_bandScope = std::make_unique<SceneGenerator>(config.scene, 3);
    for (SentPacket& p : m_sent)
        p.bytes = QByteArray(kIqPacketBytes, '\0');
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
    if (d.size() >= 4 && rd16(d, 2) == kIqMark) {
        if (!discoveryOnly)
            handleIqAnswer(d);
        return;
    }
    if (d.size() >= 4 && rd16(d, 0) == kMagicApp && rd16(d, 2) == kDiscoveryRequest) {
        handleDiscovery(d, from, fromPort, socket);
        return;
    }
    if (discoveryOnly) {
        countMalformed();
        return;
    }
    m_peer = from;
    m_peerPort = fromPort;
    // Logged before it is handled, so the entry exists when the reply arrives.
    const int entry = logDatagram(d, false);
    bool ok = false;
    bool bootloader = false;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bootloader = m_data->state.bootloader;
    }
    if (d.size() >= kHeaderBytes && d.size() >= kHeaderBytes + rd16(d, 4)) {
        const quint16 magic = rd16(d, 0);
        if (magic == kMagicApp)
            ok = bootloader ? true : handleApp(d); // the bootloader ignores application commands
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
    wr16(r, 0, kMagicApp);
    wr16(r, 2, kDiscoveryReply);
    wr32(r, 4, m_config.serialDecimal);
    r[8] = char(m_config.serialHi);
    r[9] = char(m_config.serialLo);
    const quint32 ip = m_address.toIPv4Address();
    r[10] = char(ip >> 24);
    r[11] = char(ip >> 16);
    r[12] = char(ip >> 8);
    r[13] = char(ip);
    wr16(r, 18, m_port);
    bool bootloader;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bootloader = m_data->state.bootloader;
        ++m_data->counters.discoveryReplies;
    }
    wr16(r, 20, bootloader ? 0 : 1);
    socket->writeDatagram(r, from, fromPort);
    m_data->notify();
}

bool SimulatorEngine::handleApp(const QByteArray& d)
{
    const quint16 code = rd16(d, 2);
    const int length = rd16(d, 4);
    const quint32 param = rd32(d, 6);
    // A request is exactly its header and payload.
    if (d.size() != kHeaderBytes + length)
        return false;
    auto u32Arg = [&](quint32* value) {
        if (length != 4)
            return false;
        *value = rd32(d, 18);
        return true;
    };
    quint32 v = 0;
    switch (code) {
    case CmdStart:
        return startStream(d);
    case CmdStop:
        if (length != 4)
            return false;
        stopStream();
        reply(d, 1);
        return true;
    case CmdPreamp:
    case CmdExtCtrl:
    case CmdLpf:
    case CmdPll: {
        if (!u32Arg(&v))
            return false;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            State& s = m_data->state;
            if (code == CmdPreamp)
                s.preamp = v != 0;
            else if (code == CmdExtCtrl)
                s.extCtrl = v;
            else if (code == CmdLpf)
                s.lpf = v != 0;
            else
                s.pll = v != 0;
        }
        reply(d, 1);
        return true;
    }
    case CmdFreq: {
        if (length != 8 || param > 1)
            return false;
        const quint64 f = rd64(d, 18);
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.freq[param] = f;
        }
        m_generators[param]->setTuning(double(f) / 10.0, m_generators[param]->rateHz());
        reply(d, 1);
        return true;
    }
    case CmdFpga: {
        if (length == 0 || length > kFpgaChunkMax)
            return false;
        const QByteArray chunk = d.mid(kHeaderBytes);
        const bool crcOk = crc32(chunk) == rd32(d, 14);
        if (crcOk) {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            QByteArray& img = m_data->fpga;
            if (param == 0)
                img.clear();
            if (img.size() < int(param) + length)
                img.resize(int(param) + length);
            std::memcpy(img.data() + param, chunk.constData(), size_t(length));
        }
        reply(d, crcOk ? 1 : 0, chunk);
        return true;
    }
    case CmdWriteRootCal:
    case CmdWriteUserCal: {
        if (length != kCalibrationBytes)
            return false;
        const QByteArray block = d.mid(kHeaderBytes);
        const bool crcOk = quint32(~crc32(block.constData() + 4, kCalibrationBytes - 4)) == rd32(block, 0);
        if (crcOk) {
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                (code == CmdWriteRootCal ? m_data->state.rootCalibration : m_data->state.userCalibration) = block;
            }
            saveCalibration();
        }
        reply(d, crcOk ? 1 : 0);
        return true;
    }
    case CmdReadRootCal:
    case CmdReadUserCal: {
        if (length != 0)
            return false;
        QByteArray block;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            block = code == CmdReadRootCal ? m_data->state.rootCalibration : m_data->state.userCalibration;
        }
        reply(d, 1, block);
        return true;
    }
    case CmdStaticAddress: {
        if (length != 8)
            return false;
        const quint32 ip = quint32(quint8(d[18])) << 24 | quint32(quint8(d[19])) << 16 |
                           quint32(quint8(d[20])) << 8 | quint32(quint8(d[21]));
        const quint32 port = rd32(d, 22);
        if (port == 0 || port > 0xFFFF) {
            reply(d, 0);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.staticAddress = QHostAddress(ip);
            m_data->state.staticPort = quint16(port);
        }
        reply(d, 1);
        return true;
    }
    case CmdWriteDataFlash: {
        if (length != kDataFlashPageBytes)
            return false;
        const bool inRange = param < quint32(kDataFlashPages);
        if (inRange) {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->dataFlash[int(param)] = d.mid(kHeaderBytes);
        }
        reply(d, inRange ? 1 : 0);
        return true;
    }
    case CmdInformation:
        if (length != 0)
            return false;
        reply(d, 1, informationRecord());
        return true;
    case CmdGoToBoot:
        if (length != 0)
            return false;
        beginSilence(Pending::EnterBoot, m_config.bootSwitchMs);
        reply(d, 1);
        return true;
    case CmdBandScope: {
        if (length != 12)
            return false;
        BandScopeState bs;
        bs.enable = d[18] != 0;
        bs.decimation = quint8(d[19]);
        bs.centre = rd64(d, 22);
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.bandScope = bs;
        }
        m_bandScope->setTuning(double(bs.centre) / 10.0, kBandScopeRateHz / (bs.decimation + 1));
        reply(d, 1);
        return true;
    }
    case CmdNetworkMode: {
        if (!u32Arg(&v))
            return false;
        if (v <= 3) {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.networkMode = v;
        }
        reply(d, v <= 3 ? 1 : 0);
        return true;
    }
    case CmdReset:
        if (length != 0)
            return false;
        beginSilence(Pending::Reset, m_config.resetSilenceMs);
        reply(d, 1);
        return true;
    case CmdFrontEnd: {
        if (length == 0) {
            quint32 fe;
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                fe = m_data->state.frontEnd;
            }
            QByteArray payload(4, '\0');
            wr32(payload, 0, fe);
            reply(d, 1, payload);
            return true;
        }
        if (!u32Arg(&v))
            return false;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.frontEnd = v;
        }
        reply(d, 1);
        return true;
    }
    default:
        return false;
    }
}

bool SimulatorEngine::handleBoot(const QByteArray& d)
{
    const quint16 code = rd16(d, 2);
    const int length = rd16(d, 4);
    const quint32 param = rd32(d, 6);
    bool bootloader;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bootloader = m_data->state.bootloader;
    }
    const bool quit = code == BootQuit && length == 0 && d.size() == kBootQuitBytes;
    if (d.size() != kHeaderBytes + length && !quit)
        return false;
    if (!bootloader) {
        // The application knows no bootloader command: it says so (status 1 is not
        // the bootloader's success) so that a probe fails at once.
        reply(d, 1);
        return true;
    }
    switch (code) {
    case BootReadSerial: {
        QByteArray payload(8, '\0');
        wr32(payload, 0, m_config.serialDecimal);
        payload[4] = char(m_config.serialHi);
        payload[5] = char(m_config.serialLo);
        reply(d, 0, payload);
        return true;
    }
    case BootErase:
        if (length != 0)
            return false;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->flash.fill(char(0xFF));
        }
        reply(d, 0);
        return true;
    case BootWriteFlash: {
        if (length != kFlashChunkBytes)
            return false;
        if (param % kFlashChunkBytes != 0 || param >= quint32(kFlashBytes)) {
            reply(d, 1);
            return true;
        }
        quint8 plain[kFlashChunkBytes];
        rc6DecryptChunk(reinterpret_cast<const quint8*>(d.constData()) + kHeaderBytes, plain);
        {
            // Flash cells only go from 1 to 0: writing over unerased data corrupts it.
            std::lock_guard<std::mutex> lock(m_data->mutex);
            char* dst = m_data->flash.data() + param;
            for (int i = 0; i < kFlashChunkBytes; ++i)
                dst[i] = char(quint8(dst[i]) & plain[i]);
        }
        reply(d, 0);
        return true;
    }
    case BootWriteDataFlash:
        if (length != kDataFlashPageBytes)
            return false;
        if (param >= quint32(kDataFlashPages)) {
            reply(d, 1);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->dataFlash[int(param)] = d.mid(kHeaderBytes);
        }
        reply(d, 0);
        return true;
    case BootReadDataFlash: {
        if (length != 0)
            return false;
        if (param >= quint32(kDataFlashPages)) {
            reply(d, 1);
            return true;
        }
        QByteArray page;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            page = m_data->dataFlash.value(int(param), QByteArray(kDataFlashPageBytes, char(0xFF)));
        }
        reply(d, 0, page);
        return true;
    }
    case BootQuit: {
        if (!quit)
            return false;
        bool valid;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            const QByteArray& f = m_data->flash;
            valid = quint32(~crc32(f.constData(), kFlashBytes - 4)) == rd32(f, kFlashBytes - 4);
            if (valid) {
                m_data->state.versionMajor = m_config.flashedVersionMajor;
                m_data->state.versionMinor = m_config.flashedVersionMinor;
                ++m_data->state.firmwareUpdates;
            }
        }
        if (valid)
            beginSilence(Pending::LeaveBoot, m_config.bootSwitchMs);
        else
            qWarning() << Q_FUNC_INFO << "firmware image CRC mismatch, staying in the bootloader";
        return true;
    }
    default:
        return false;
    }
}

void SimulatorEngine::reply(const QByteArray& request, quint32 status, const QByteArray& payload)
{
    const quint16 magic = rd16(request, 0);
    const quint16 code = rd16(request, 2);
    const QByteArray r = packet(magic, code, rd32(request, 6), status, payload);
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

bool SimulatorEngine::startStream(const QByteArray& d)
{
    if (d.size() != kStartBytes)
        return false;
    const int receivers = rd16(d, 54);
    const int rate = rd16(d, 56);
    bool valid = rate <= 3 && rd16(d, 58) == rate && (receivers == 1 || receivers == 2);
    for (int i = 0; valid && i < 8; ++i)
        valid = rd32(d, 18 + 4 * i) == kRateParams[size_t(rate)][size_t(i)];
    if (!valid) {
        reply(d, 0);
        return true;
    }
    quint32 status;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        status = m_data->faults.startStatus;
    }
    if (status != 1) {
        reply(d, status);
        return true;
    }
    stopStream();
    m_rateIndex = rate;
    m_receivers = receivers;
    m_iqPeer = m_peer;
    m_iqPeerPort = m_peerPort;
    m_seq = 0;
    m_blocksSent = 0;
    m_inFlight = 0;
    m_held.clear();
    for (SentPacket& p : m_sent)
        p.used = false;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        State& s = m_data->state;
        s.rateIndex = rate;
        s.receivers = receivers;
        s.streaming = true;
        for (int rx = 0; rx < 2; ++rx)
            m_generators[size_t(rx)]->setTuning(double(s.freq[rx]) / 10.0, kStreamRates[size_t(rate)]);
    }
    m_streaming = true;
    m_streamStartMs = nowMs();
    m_streamStartNs = m_data->clock.nsecsElapsed();
    // The reply goes out before the first IQ packet.
    reply(d, status);
    fill(m_streamStartMs);
    m_data->notify();
    return true;
}

void SimulatorEngine::stopStream()
{
    m_streaming = false;
    m_held.clear();
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->state.streaming = false;
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
        if (!m_held.isEmpty() && now - m_sent[rd16(m_held, 6) & kSentMask].sentMs >= kHeldPacketFlushMs) {
            sendTo(m_held, m_iqPeer, m_iqPeerPort);
            m_held.clear();
        }
    }
    sendBandScope(now);
}

void SimulatorEngine::pace(qint64 now)
{
    // Blocks due since the start, from the monotonic clock: the long-run rate is exact.
    const double elapsed = double(m_data->clock.nsecsElapsed() - m_streamStartNs) * 1e-9;
    const double blocksPerSecond = kStreamRates[size_t(m_rateIndex)] / kIqSamples;
    const qint64 due = qint64(elapsed * blocksPerSecond) + 1;
    bool stall;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        stall = m_data->faults.iqStall;
    }
    if (stall) {
        m_blocksSent = due; // no burst when the stall ends
        return;
    }
    if (due - m_blocksSent > qint64(blocksPerSecond / 2)) {
        qDebug() << Q_FUNC_INFO << "IQ stream fell behind by" << due - m_blocksSent << "blocks, skipping";
        m_blocksSent = due - 1;
    }
    while (m_blocksSent < due) {
        sendBlock(now);
        ++m_blocksSent;
    }
}

void SimulatorEngine::sendBlock(qint64 now)
{
    for (int rx = 0; rx < m_receivers; ++rx) {
        SentPacket& p = m_sent[m_seq & kSentMask];
        if (p.used && !p.answered && !p.abandoned && m_inFlight > 0)
            --m_inFlight; // overwritten before an answer came
        p.used = true;
        p.answered = false;
        p.abandoned = false;
        p.seq = m_seq;
        p.resends = 0;
        p.sentMs = now;
        char* b = p.bytes.data();
        wr16(p.bytes, 0, kMagicApp);
        wr16(p.bytes, 2, kIqMark);
        wr16(p.bytes, 4, quint16(kIqSamples * 6));
        wr16(p.bytes, 6, m_seq);
        b[8] = 0;
        b[9] = char(rx);
        m_generators[size_t(rx)]->generate(m_block.data(), kIqSamples);
        for (int i = 0; i < kIqSamples; ++i) {
            wr24(b + 10 + 6 * i, toSample24(m_block[size_t(i)].re));
            wr24(b + 13 + 6 * i, toSample24(m_block[size_t(i)].im));
        }
        ++m_seq;
        ++m_inFlight;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            ++m_data->counters.iqSent;
        }
        transmitIq(p.bytes);
    }
    m_data->notify();
}

void SimulatorEngine::transmitIq(const QByteArray& d)
{
    double loss, duplicate, reorder;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        loss = m_data->faults.iqLoss;
        duplicate = m_data->faults.iqDuplicate;
        reorder = m_data->faults.iqReorder;
    }
    auto bump = [this](quint64 Counters::*counter) {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        ++(m_data->counters.*counter);
    };
    if (loss > 0.0 && m_faultRandom.uniform() < loss) {
        bump(&Counters::iqLost);
        return;
    }
    if (!m_held.isEmpty()) {
        sendTo(d, m_iqPeer, m_iqPeerPort);
        sendTo(m_held, m_iqPeer, m_iqPeerPort);
        m_held.clear();
        return;
    }
    if (reorder > 0.0 && m_faultRandom.uniform() < reorder) {
        m_held = d;
        bump(&Counters::iqReordered);
        return;
    }
    sendTo(d, m_iqPeer, m_iqPeerPort);
    if (duplicate > 0.0 && m_faultRandom.uniform() < duplicate) {
        sendTo(d, m_iqPeer, m_iqPeerPort);
        bump(&Counters::iqDuplicated);
    }
}

void SimulatorEngine::resendOverdue(qint64 now)
{
    bool stall;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        stall = m_data->faults.iqStall;
    }
    if (stall)
        return;
    for (SentPacket& p : m_sent) {
        if (!p.used || p.answered || p.abandoned || now - p.sentMs < m_config.resendAfterMs)
            continue;
        if (p.resends >= m_config.maxResends) {
            p.abandoned = true;
            --m_inFlight;
            continue;
        }
        ++p.resends;
        p.sentMs = now;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            ++m_data->counters.iqResent;
        }
        transmitIq(p.bytes);
    }
    fill(now);
}

void SimulatorEngine::fill(qint64 now)
{
    if (m_config.paced || !m_streaming)
        return;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        if (m_data->faults.iqStall)
            return;
    }
    const int window = std::clamp(m_config.fastWindow, 1, 8);
    while (m_inFlight + m_receivers <= std::max(window, m_receivers))
        sendBlock(now);
}

void SimulatorEngine::handleIqAnswer(const QByteArray& d)
{
    if (d.size() < kIqAckBytes) {
        countMalformed();
        return;
    }
    const quint16 seq = rd16(d, 6);
    SentPacket& p = m_sent[seq & kSentMask];
    const bool known = p.used && p.seq == seq;
    const bool full = rd16(d, 4) != 0;
    if (full && d.size() != kIqPacketBytes) {
        countMalformed();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        Counters& c = m_data->counters;
        if (!known) {
            ++c.iqAnswersUnknown;
        } else if (p.answered) {
            ++c.iqAnswersRepeated;
        } else {
            ++c.iqAnswered;
            if (full) {
                ++c.iqAnswersFull;
                QVector<qint32>& cap = m_data->capture;
                if (cap.size() + 2 * kIqSamples <= kMaxCaptureValues) {
                    const char* b = d.constData() + 10;
                    for (int i = 0; i < 2 * kIqSamples; ++i)
                        cap.append(rd24(b + 3 * i));
                }
            } else {
                ++c.iqAnswersShort;
            }
        }
    }
    if (known && !p.answered) {
        p.answered = true;
        if (!p.abandoned)
            --m_inFlight;
        fill(nowMs());
    }
    m_data->notify();
}

void SimulatorEngine::sendBandScope(qint64 now)
{
    BandScopeState bs;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bs = m_data->state.bandScope;
    }
    if (!bs.enable || m_peer.isNull() || now < m_nextBandScopeMs || m_config.bandScopeFps <= 0)
        return;
    m_nextBandScopeMs = now + 1000 / m_config.bandScopeFps;
    QByteArray frag(kBandScopeBytes, '\0');
    wr16(frag, 0, kMagicApp);
    wr16(frag, 2, kBandScopeMark);
    wr16(frag, 4, quint16(kBandScopeSamples * 4));
    for (int k = 0; k < kBandScopeFragments; ++k) {
        wr16(frag, 6, quint16(k));
        for (int i = 0; i < kBandScopeSamples; i += kIqSamples / 8) {
            const int n = std::min(kIqSamples / 8, kBandScopeSamples - i);
            m_bandScope->generate(m_block.data(), n);
            for (int j = 0; j < n; ++j) {
                const auto& s = m_block[size_t(j)];
                wr16(frag, 10 + 4 * (i + j), quint16(qint16(std::clamp(std::round(s.re * 32767.0), -32768.0, 32767.0))));
                wr16(frag, 12 + 4 * (i + j), quint16(qint16(std::clamp(std::round(s.im * 32767.0), -32768.0, 32767.0))));
            }
        }
        sendTo(frag, m_peer, m_peerPort);
    }
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        ++m_data->counters.bandScopeFrames;
    }
    m_data->notify();
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

QByteArray SimulatorEngine::informationRecord() const
{
    QByteArray r(kInformationBytes, '\0');
    std::lock_guard<std::mutex> lock(m_data->mutex);
    wr16(r, 2, 2);
    wr16(r, 4, m_data->state.versionMajor);
    wr16(r, 6, m_data->state.versionMinor);
    wr32(r, 20, m_config.serialDecimal);
    r[24] = char(m_config.serialHi);
    r[25] = char(m_config.serialLo);
    wr32(r, 28, m_config.statusBits);
    wr32(r, 32, m_config.pcbRevision);
    return r;
}

void SimulatorEngine::loadCalibration()
{
    if (m_config.calibrationFile.isEmpty() || !QFile::exists(m_config.calibrationFile))
        return;
    QSettings file(m_config.calibrationFile, QSettings::IniFormat);
    const QByteArray root = QByteArray::fromHex(file.value(QStringLiteral("root")).toByteArray());
    const QByteArray user = QByteArray::fromHex(file.value(QStringLiteral("user")).toByteArray());
    std::lock_guard<std::mutex> lock(m_data->mutex);
    if (root.size() == kCalibrationBytes)
        m_data->state.rootCalibration = root;
    if (user.size() == kCalibrationBytes)
        m_data->state.userCalibration = user;
}

void SimulatorEngine::saveCalibration() const
{
    if (m_config.calibrationFile.isEmpty())
        return;
    QByteArray root, user;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        root = m_data->state.rootCalibration;
        user = m_data->state.userCalibration;
    }
    QSettings file(m_config.calibrationFile, QSettings::IniFormat);
    file.setValue(QStringLiteral("root"), root.toHex());
    file.setValue(QStringLiteral("user"), user.toHex());
    file.sync();
    if (file.status() != QSettings::NoError)
        qWarning() << Q_FUNC_INFO << "cannot write" << m_config.calibrationFile;
}

int SimulatorEngine::logDatagram(const QByteArray& d, bool malformed)
{
    if (!m_config.logCommands)
        return -1;
    LoggedCommand c;
    c.timeUs = m_data->clock.nsecsElapsed() / 1000;
    c.magic = d.size() >= 4 ? rd16(d, 0) : 0;
    c.command = d.size() >= 4 ? rd16(d, 2) : 0;
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
        wr16(d, 0, kMagicApp);
        wr16(d, 2, kIqMark);
        wr16(d, 6, m_seq);
        break;
    case Simulator::Junk::ShortReply:
        d = QByteArray(6, '\0');
        wr16(d, 0, kMagicApp);
        wr16(d, 2, CmdInformation);
        break;
    case Simulator::Junk::ShortFragment:
        d = QByteArray(40, '\0');
        wr16(d, 0, kMagicApp);
        wr16(d, 2, kBandScopeMark);
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
