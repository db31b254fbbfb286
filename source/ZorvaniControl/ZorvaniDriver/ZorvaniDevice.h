#pragma once

#include "ZorvaniControl/ZorvaniDriver/IqStream.h"
#include "ZorvaniControl/ZorvaniDriver/PacketFifo.h"
#include "recording/IQFile.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class zorvaniDsp;

// The socket thread: owns the UDP socket bound to the receiver's port, sends
// the driver's requests, hands replies and band-scope fragments to the driver
// and answers every IQ packet in place.
class ZorvaniDevice : public QThread {
    Q_OBJECT
public:
    // Time without IQ packets after which a running stream is declared lost, ms.
    static constexpr int kWatchdogMs = 2000;
    // Longest wait for socket data in one pass of the loop, ms.
    static constexpr int kPollMs = 20;

    ZorvaniDevice(std::shared_ptr<zorvaniDsp> dsp, const IqFileSlots* iqFiles, QObject* parent = nullptr);
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

    PacketFifo& outgoing() { return m_outgoing; }
    PacketFifo& replies() { return m_replies; }
    IqStream& stream() { return m_stream; }

signals:
    // The IQ flow stopped for longer than the watchdog allows.
    void forceStop();

protected:
    void run() override;

private:
    qint64 msSinceStart() const { return m_clock.elapsed(); }

    std::shared_ptr<zorvaniDsp> m_dsp;
    IqStream m_stream;
    PacketFifo m_outgoing;
    PacketFifo m_replies;
    std::atomic<quint32> m_address{0};
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_watchdog{false};
    std::atomic<bool> m_handshake{false};
    std::atomic<qint64> m_lastIqMs{0};
    QElapsedTimer m_clock;
    // Room for the largest datagram, so nothing is ever truncated or reallocated.
    std::vector<char> m_buffer;
};
