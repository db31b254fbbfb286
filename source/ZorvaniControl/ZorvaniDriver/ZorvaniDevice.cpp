#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"

#include "ZorvaniControl/ZorvaniDriver/BandScopeAssembler.h"
#include "ZorvaniControl/ZorvaniDriver/Packet.h"

#include <QUdpSocket>

#include <algorithm>

namespace packet = zorvani::packet;

namespace {
// While packets wait behind a gap, how often its timeout is checked, ms.
constexpr int kGapCheckMs = 20;
constexpr int kMaxDatagram = 65536;
constexpr int kSocketReadBuffer = 38400;
constexpr int kConnectMs = 1000;
constexpr int kKernelReceiveBuffer = 1 << 20;
} // namespace

ZorvaniDevice::ZorvaniDevice(IqStream::BlockEntry blockEntry, const IqFileSlots* iqFiles, QObject* parent)
    : QThread(parent), m_stream(std::move(blockEntry), iqFiles), m_buffer(kMaxDatagram)
{
    setObjectName(QStringLiteral("ZorvaniEthernet"));
    m_clock.start();
}

ZorvaniDevice::~ZorvaniDevice()
{
    shutdown();
}

void ZorvaniDevice::setTarget(const QHostAddress& address, quint16 port)
{
    m_address.store(address.toIPv4Address());
    m_port.store(port);
}

QHostAddress ZorvaniDevice::address() const
{
    return QHostAddress(m_address.load());
}

bool ZorvaniDevice::startAndBind()
{
    if (isRunning())
        return false;
    m_handshake.store(true);
    start(QThread::InheritPriority);
    while (m_handshake.load())
        QThread::yieldCurrentThread();
    return m_running.load();
}

void ZorvaniDevice::shutdown()
{
    m_watchdog.store(false);
    m_running.store(false);
    m_sleep.wake();
    wait();
    // The thread's last work happens before what the caller does next (say,
    // close the wake-up descriptor). wait() ensures it, but when the thread
    // has already finished it checks that under a lock the thread sanitizer
    // cannot see; this pairs with the store at the end of run().
    m_exited.load(std::memory_order_acquire);
}

void ZorvaniDevice::armWatchdog(bool armed)
{
    m_lastIqMs.store(msSinceStart());
    m_watchdog.store(armed);
    m_sleep.wake();
}

void ZorvaniDevice::send(const QByteArray& datagram)
{
    m_outgoing.push(datagram);
    m_sleep.wake();
}

int ZorvaniDevice::sleepLimitMs() const
{
    int limit = -1;
    const auto until = [&limit](qint64 ms) {
        const int wait = int(std::max<qint64>(0, ms));
        if (limit < 0 || wait < limit)
            limit = wait;
    };
    const qint64 now = msSinceStart();
    if (m_watchdog.load())
        until(m_lastIqMs.load() + kWatchdogMs + 1 - now);
    if (m_stream.holding())
        until(kGapCheckMs);
    if (m_stream.counters().givenUp != m_reportedGivenUp)
        until(m_reportedMs + kReportMs - now);
    return limit;
}

void ZorvaniDevice::run()
{
    QUdpSocket socket;
    const QHostAddress target(m_address.load());
    const quint16 port = m_port.load();
    bool bound = socket.bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    // Connected to the receiver, the socket only gets its datagrams, and reads
    // and writes need no per-datagram address (which Qt would allocate).
    if (bound) {
        socket.connectToHost(target, port);
        bound = socket.waitForConnected(kConnectMs);
    }
    m_running.store(bound);
    m_handshake.store(false);
    if (!bound) {
        qWarning() << Q_FUNC_INFO << "cannot bind port" << m_port.load() << socket.errorString();
        m_exited.store(true, std::memory_order_release);
        return;
    }
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket.setReadBufferSize(kSocketReadBuffer);
    // Room in the kernel for a few hundred milliseconds of the fastest stream,
    // so a briefly descheduled thread does not lose packets (and 33 more to
    // the resynchronisation that follows a gap).
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kKernelReceiveBuffer);
    m_lastIqMs.store(msSinceStart());

    char* buffer = m_buffer.data();
    QByteArray request;
    const auto sendRequests = [&] {
        while (m_outgoing.count() > 0 && m_outgoing.pop(request))
            socket.write(request);
    };
    m_stream.setAnswerSink([&socket](const char* answer, qint64 size) { socket.write(answer, size); });
    bool lost = false;
    while (m_running.load()) {
        m_sleep.sleep(socket.socketDescriptor(), sleepLimitMs());
        sendRequests();
        reportGivenUp(false);

        // Every datagram waiting, before sleeping again. Asked first: a read
        // that finds none builds an error string.
        while (m_running.load() && socket.hasPendingDatagrams()) {
            const qint64 size = socket.readDatagram(buffer, kMaxDatagram);
            if (size < 0)
                break;
            const quint16 marker = size >= 4 ? packet::get<quint16>(buffer, packet::kOffCommand) : 0;
            if (marker == packet::kIqMarker) {
                m_lastIqMs.store(msSinceStart());
                m_stream.handle(buffer, size);
                // A steady stream keeps this loop busy: requests go out between packets.
                sendRequests();
                continue;
            }
            const bool fragment = marker == packet::kBandScopeMarker && size == BandScopeAssembler::kFragmentSize;
            if (!fragment && !packet::wellFormedReply(buffer, size)) {
                m_malformed.store(m_malformed.load() + 1);
                continue;
            }
            m_replies.push(QByteArray(buffer, int(size)));
        }
        m_stream.expireGaps();
        // Checked once what waited is read: a thread that was kept busy has
        // packets waiting, a receiver that went silent has none.
        if (m_watchdog.load() && msSinceStart() - m_lastIqMs.load() > kWatchdogMs) {
            qWarning() << Q_FUNC_INFO << "no IQ packets for" << kWatchdogMs << "ms, stream lost";
            m_watchdog.store(false);
            m_running.store(false);
            lost = true;
        }
    }
    m_stream.setAnswerSink(nullptr);
    reportGivenUp(true);
    socket.close();
    m_exited.store(true, std::memory_order_release);
    if (lost)
        emit forceStop();
}

void ZorvaniDevice::reportGivenUp(bool now)
{
    const quint64 givenUp = m_stream.counters().givenUp;
    if (givenUp == m_reportedGivenUp || (!now && msSinceStart() - m_reportedMs < kReportMs))
        return;
    m_reportedGivenUp = givenUp;
    m_reportedMs = msSinceStart();
    qWarning() << Q_FUNC_INFO << givenUp << "IQ packets given up: the receiver did not re-send them in time";
    emit iqPacketsGivenUp(givenUp);
}
