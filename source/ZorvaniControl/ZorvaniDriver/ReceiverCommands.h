#pragma once

#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"

#include <QHostAddress>

#include <optional>

class CommandQueue;

// How the receiver obtains its IPv4 address.
enum NetworkMode : quint32 { DhcpAuto = 0, StaticIp = 1, DhcpServer = 2, DhcpClient = 3 };

// The receiver's operating commands: each builds its request, issues it on
// the queue and reads the reply. Runs on the caller's thread; waited commands
// block it (see CommandQueue). Frequencies in Hz, timeouts in ms.
class ReceiverCommands {
public:
    explicit ReceiverCommands(CommandQueue& queue) : m_queue(queue) {}

    // The start request for sample-rate index 0..3 and 1 or 2 receivers; the
    // reply's status (1 accepted, 2 firmware update wanted), nothing unanswered.
    std::optional<quint32> start(int rateId, quint32 receivers);
    // The stop request, waited for; `retries` 4 sends it once, waiting 4 timeouts.
    bool stop(quint32 retries = 0);

    void setPreamp(int on);
    void setLpf(bool state);
    void setPll(bool state);
    void setExtCtrl(int value);
    void setFrontEnd(quint16 frontEnd);
    quint16 frontEnd(bool& ok);
    // Channel 0 or 1; negative and NaN frequencies become 0, above 800 MHz is capped.
    void setFreq(int channel, double freq);
    // Centre in the receiver's 0.1 Hz units.
    void setBandScope(quint8 enable, quint8 decimation, quint64 centre);

    bool information(pSDR2_HDR info);
    bool setStaticAddress(const QHostAddress& addr, quint16 port);
    bool setNetworkMode(NetworkMode mode);
    void reset();

private:
    CommandQueue& m_queue;
};
