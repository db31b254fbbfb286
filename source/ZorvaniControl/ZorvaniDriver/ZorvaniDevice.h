#pragma once

#include "ZorvaniControl/ZorvaniDriver/IqStream.h"
#include "ZorvaniControl/ZorvaniDriver/PacketFifo.h"
#include "ZorvaniControl/ZorvaniDriver/SocketSleep.h"
#include "recording/IQFile.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

// The socket thread: owns the UDP socket bound to the receiver's port, sends
// the driver's requests, hands well-formed replies and band-scope fragments to
// the driver (through a bounded queue) and answers the IQ packets. Datagrams
// outside the format are counted and dropped. It sleeps until a datagram
// arrives, a request is queued, a deadline is due or shutdown is asked for,
// and then reads every datagram waiting. Each IQ block goes to the block entry
// given at construction, on this thread.
class ZorvaniDevice : public QThread {
    Q_OBJECT
public:
    // Time without IQ packets after which a running stream is declared lost, ms.
    static constexpr int kWatchdogMs = 2000;
    // Replies and band-scope fragments waiting for the driver; more are dropped.
    static constexpr int kReplyQueue = 256;
    // Shortest time between two reports of given-up IQ packets, ms.
    static constexpr int kReportMs = 500;

    ZorvaniDevice(IqStream::BlockEntry blockEntry, const IqFileSlots* iqFiles, QObject* parent = nullptr);
    ~ZorvaniDevice() override;

    // Receiver address (IPv4) and port; set before the thread starts.
    void setTarget(const QHostAddress& address, quint16 port);
    QHostAddress address() const;
    quint16 port() const { return m_port.load(); }

    // Starts the thread and returns once it tried to bind: true when bound.
    bool startAndBind();
    // Ends the loop and waits for the thread.
    void shutdown();
    bool isBound() const { return m_running.load(); }

    // Watchdog on the IQ flow; arming restarts its clock.
    void armWatchdog(bool armed);
    bool watchdogArmed() const { return m_watchdog.load(); }

    // Queues a datagram for the receiver and wakes the thread to send it.
    void send(const QByteArray& datagram);
    PacketFifo& outgoing() { return m_outgoing; }
    PacketFifo& replies() { return m_replies; }
    IqStream& stream() { return m_stream; }
    // Non-IQ datagrams from the receiver's address that were no reply or fragment.
    quint64 malformedDatagrams() const { return m_malformed.load(); }

signals:
    // The IQ flow stopped for longer than the watchdog allows.
    void forceStop();
    // IQ packets given up since the device was made (their gaps never closed).
    void iqPacketsGivenUp(quint64 total);

protected:
    void run() override;

private:
    qint64 msSinceStart() const { return m_clock.elapsed(); }
    void reportGivenUp(bool now);
    // How long the thread may sleep, ms: until the watchdog's time is up, a
    // held gap may be due or a deferred report of given-up packets is; -1
    // when nothing is pending.
    int sleepLimitMs() const;

    IqStream m_stream;
    PacketFifo m_outgoing;
    PacketFifo m_replies{kReplyQueue};
    SocketSleep m_sleep;
    std::atomic<quint32> m_address{0};
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_watchdog{false};
    std::atomic<bool> m_handshake{false};
    std::atomic<bool> m_exited{false};
    std::atomic<qint64> m_lastIqMs{0};
    std::atomic<quint64> m_malformed{0};
    quint64 m_reportedGivenUp = 0;
    qint64 m_reportedMs = 0;
    QElapsedTimer m_clock;
    // Room for the largest datagram, so nothing is ever truncated or reallocated.
    std::vector<char> m_buffer;
};
