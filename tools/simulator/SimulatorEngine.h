#pragma once

#include "Forgery.h"
#include "SceneGenerator.h"
#include "Simulator.h"

#include <QHostAddress>
#include <QObject>

#include <array>
#include <memory>

class QUdpSocket;
class QTimer;

namespace zorvani::sim {

// The receiver itself: lives on the emulator's thread and owns its sockets.
class SimulatorEngine : public QObject {
    Q_OBJECT
public:
    SimulatorEngine(const Config& config, Simulator::Data* data);
    ~SimulatorEngine() override;

public slots:
    bool open();
    void close();
    bool sendJunk(int kind);
    int sendForgeries(int count);

private:
    struct SentPacket {
        bool used = false;
        bool answered = false;
        bool abandoned = false;
        quint16 seq = 0;
        int resends = 0;
        qint64 sentMs = 0;
    };
    enum class Pending { None, Reset, EnterBoot, LeaveBoot };

    bool bindControl(const QHostAddress& address, quint16 port);
    bool bindDiscovery(quint16 port);
    void readSocket(QUdpSocket* socket, bool discoveryOnly);
    void handleDatagram(const QByteArray& d, const QHostAddress& from, quint16 fromPort, QUdpSocket* socket,
                        bool discoveryOnly);
    void handleDiscovery(const QByteArray& d, const QHostAddress& from, quint16 fromPort, QUdpSocket* socket);
    bool handleApp(const QByteArray& d);
    bool handleBoot(const QByteArray& d);
    // Answers a command the faults say to refuse, with the failure status; true when it did.
    bool refuseOnRequest(const QByteArray& d);
    void handleIqAnswer(const QByteArray& d);
    void reply(const QByteArray& request, quint32 status, const QByteArray& payload = QByteArray());
    void sendTo(const QByteArray& d, const QHostAddress& to, quint16 port);

    bool startStream(const QByteArray& d);
    void stopStream();
    void onTick();
    void pace(qint64 nowMs);
    void sendBlock(qint64 nowMs);
    void transmitIq(const QByteArray& d);
    void resendOverdue(qint64 nowMs);
    void fill(qint64 nowMs); // not paced: keep the window of unanswered packets full
    void sendBandScope(qint64 nowMs);
    void beginSilence(Pending what, int ms);
    void endSilence();

    QByteArray informationRecord() const;
    // What the receiver answers to `request`, without acting on it.
    QByteArray genuineReply(const QByteArray& request) const;
    void loadCalibration();
    void saveCalibration() const;
    int logDatagram(const QByteArray& d, bool malformed); // index of the entry, -1 when not kept
    void countMalformed();
    qint64 nowMs() const;

    Config m_config;
    Simulator::Data* m_data;
    QUdpSocket* m_control = nullptr;
    QUdpSocket* m_discovery = nullptr;
    QTimer* m_tick = nullptr;
    QHostAddress m_address;
    quint16 m_port = 0;
    QHostAddress m_peer;       // source of the last command
    quint16 m_peerPort = 0;
    QByteArray m_lastRequest;  // the last command, for forged replies
    Forger m_forger;
    QHostAddress m_iqPeer;     // source of the start command
    quint16 m_iqPeerPort = 0;

    // Stream.
    bool m_streaming = false;
    int m_rateIndex = 0;
    int m_receivers = 1;
    quint16 m_seq = 0;
    quint16 m_lastAnswered = 0; // latest sequence number answered for the first time
    bool m_answeredAny = false;
    qint64 m_streamStartNs = 0;
    qint64 m_blocksSent = 0;
    int m_inFlight = 0;
    std::array<std::unique_ptr<SceneGenerator>, 2> m_generators;
    std::array<Ostrovix::complex<double>, 200> m_block{};
    // Answers are matched over this many sequence numbers: as late as a host
    // under load may answer. A paced stream that fell behind sends up to half
    // a second at once, and the host's socket may hold as many again before
    // its thread runs (about 1600 packets at the widest rate); this is 5 s
    // there. Only the newest kResendMask + 1 keep their bytes for re-sending.
    static constexpr int kSentMask = 8191;
    static constexpr int kResendMask = 511;
    std::array<SentPacket, kSentMask + 1> m_sent;
    std::array<QByteArray, kResendMask + 1> m_sentBytes;
    QByteArray m_held;         // packet kept back by the reorder fault
    Random m_faultRandom;

    // Band scope: the scene around its centre at this rate / (decimation + 1).
    static constexpr double kBandScopeRateHz = 4000000.0;
    std::unique_ptr<SceneGenerator> m_bandScope;
    qint64 m_nextBandScopeMs = 0;

    // Silence (reset, bootloader switch) and delayed replies.
    Pending m_pending = Pending::None;
    qint64 m_silentUntilMs = 0;
    struct Delayed {
        qint64 dueMs;
        QByteArray bytes;
        QHostAddress to;
        quint16 port;
    };
    QVector<Delayed> m_delayed;
};

} // namespace zorvani::sim
