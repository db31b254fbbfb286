#pragma once

#include "ZorvaniControl/ZorvaniDriver/BandScopeAssembler.h"
#include "ZorvaniControl/ZorvaniDriver/Calibration.h"
#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"
#include "discovery/Receiver.h"
#include "recording/IQFile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class InitFpga;
class QUdpSocket;
class ZorvaniDevice;
class zorvaniDsp;

// How the receiver obtains its IPv4 address.
enum NetworkMode : quint32 { DhcpAuto = 0, StaticIp = 1, DhcpServer = 2, DhcpClient = 3 };

// The receiver's command link. Every device operation is a slot that builds
// one request and queues it; waited commands block (processing events in
// 20 ms slices) until the reply or the expiry. The driver's own thread moves
// queued requests to the socket thread, matches replies to requests (one reply
// completes the oldest transmitted request of its magic and code that it is
// long enough for), re-sends and expires requests (a setting is not re-sent
// once a newer value for it is queued), and assembles band-scope frames.
class ZorvaniDriver : public QThread {
    Q_OBJECT
public:
    struct QueueItem {
        enum : quint32 { ToSend = 0, Sent = 1, Answered = 2, Failed = 0xFFFFFFFFu };
        quint32 retries = 0;
        quint32 timeoutMs = 0;
        quint64 id = 0;
        QByteArray packet;
        qint64 sentMs = 0; // queue clock at the latest transmission
        quint32 state = ToSend;
        quint8 waitAnswer = 0;
        bool transmitted = false; // a reply can only answer what went out
        int replySize = 0;        // shortest reply datagram that answers it
    };
    // Transmissions of one request before it fails: the first and 4 re-sends.
    static constexpr quint32 kMaxRetries = 4;
    // Replies handled per pass of the driver loop.
    static constexpr int kRepliesPerPass = 20;
    static constexpr int kSliceMs = 20;
    static constexpr int kFpgaChunk = 1024;
    static constexpr int kFpgaHeader = 1056;
    static constexpr int kFlashPage = 1056;
    static constexpr int kBootChunk = 1024;

    ZorvaniDriver(std::shared_ptr<zorvaniDsp> dsp, const IqFileSlots* iqFiles, QObject* parent = nullptr);
    ~ZorvaniDriver() override;

    ZorvaniDevice* device() const { return m_device.get(); }
    Receiver currentReceiver() const;
    // Port the driver's own discovery broadcasts to (default 50001).
    void setDiscoveryPort(quint16 port) { m_discoveryPort = port; }
    quint16 discoveryPort() const { return m_discoveryPort; }
    QList<Receiver> foundReceivers() const { return m_found; }
    // Where assembled band-scope frames go; the engine's band-scope worker by
    // default. Set while the link is closed (the driver thread calls it).
    void setBandScopeSink(std::function<void(const Ostrovix::complex<double>*, int)> sink);
    // Resource the FPGA image is read from.
    void setFpgaImagePath(const QString& path) { m_fpgaPath = path; }
    // Time the receiver needs to switch between application and bootloader, ms (default 5000).
    void setBootSettleTime(int ms) { m_bootSettleMs = ms; }
    // Milliseconds for the queue's re-sends and expiries; a steady clock by
    // default. Tests set their own before the link opens.
    using QueueClock = std::function<qint64()>;
    void setQueueClock(QueueClock clock) { m_queueClock = std::move(clock); }
    // Requests currently queued (for diagnostics and tests).
    int queuedItems() const;
    quint32 receiverCount() const { return m_receivers.load(); }
    int sampleRateId() const { return m_rateId.load(); }
    // Status of the last start reply: 1 accepted, 2 firmware update wanted,
    // kNoStartReply when the receiver did not answer.
    static constexpr quint32 kNoStartReply = 0xFFFFFFFFu;
    quint32 lastStartStatus() const { return m_startStatus.load(); }

    // One pass's reply collection: handles up to 20 replies from the socket
    // thread, waiting up to 20 ms when none is there. Returns how many it handled.
    int collectReplies();

    static bool lessThan(Receiver s1, Receiver s2);

public slots:
    bool open(Receiver receiver);
    void close();
    bool reopen(Receiver receiver);
    bool isOpen() const { return m_open.load(); }
    bool isStart() const { return m_started.load(); }

    bool Start();
    bool Stop();
    void setSampleRateId(int index);
    void setReceivers(int number);

    void setPreamp(int on);
    void setLpf(bool state);
    void setPll(bool state);
    void setExtCtrl(int value);
    void setFrontEnd(quint16 frontEnd);
    quint16 frontEnd(bool& ok);
    void setFreq(int channel, double freq);

    void setMute(bool state);
    void setPreampCoeff(double dB);
    void setBandScope(bool enable, quint64 decimate, int dir);

    bool information(pSDR2_HDR info);
    bool setNewStaticAddress(QHostAddress& addr, quint16 port);
    bool setNetworkMode(NetworkMode mode);
    bool resetZorvani();

    // Reads: *crcOk tells whether the block's CRC holds (the record is filled
    // only then). Writes: *crcOk tells whether the receiver accepted the block.
    // Without an answer both return false and leave *crcOk alone.
    bool readRootCalibrations(RootCoefficient* coeff, bool* crcOk);
    bool wrireRootCalibrations(RootCoefficient* coeff, bool* crcOk);
    bool readUserCalibrations(UserCoefficient* coeff, bool* crcOk);
    bool wrireUserCalibrations(UserCoefficient* coeff, bool* crcOk);

    bool writeFPGA(QByteArray& data, int offset);
    bool fastLoadFpga();
    bool writeAT45D(QByteArray& data, int page);

    bool goToBoot();
    bool bootReadSN();
    bool bootErase();
    bool bootWriteFlash(QByteArray& data, int offset);
    bool bootWriteAT45D(QByteArray& data, int page);
    bool bootReadAT45D(QByteArray& data, int page);
    bool quitFromBoot();

    Receiver searchCurrent(QString serial);
    void sendBroadcastPacket();
    void receiveBroadcastPacket();
    void addNewDevice(Receiver& r);
    void sortRxList(QList<Receiver>& list);

signals:
    void forceStop();
    void writeFirmware();
    void endInitFirmware();
    // IQ packets given up since the driver was made (see IqStream).
    void iqPacketsGivenUp(quint64 total);

protected:
    void run() override;

private:
    // The socket thread's watchdog ended the stream; runs on the thread the driver object lives in.
    void streamLost();
    // Queues a request; for waited ones returns the reply datagram, or nothing
    // when it failed. Fire-and-forget requests return an empty array. Only a
    // reply of at least `replySize` bytes answers it (default: the header).
    std::optional<QByteArray> issue(const QByteArray& packet, quint32 timeoutMs, bool wait, quint32 retries = 0,
                                    int replySize = 0);
    // Waited request whose reply must carry `status`; the reply, or nothing.
    std::optional<QByteArray> issueChecked(const QByteArray& packet, quint32 timeoutMs, quint32 status,
                                           quint32 retries = 0, int replySize = 0);
    std::shared_ptr<QueueItem> waitFor(quint64 id);
    bool readCalibration(quint16 command, double* coefficients, double* percent, bool* crcOk);
    bool writeCalibration(quint16 command, const double* coefficients, double percent, bool* crcOk);
    void transmitPending();
    void handleReply(const QByteArray& reply);
    void expire();
    // Whether a newer fire-and-forget request for the same setting follows
    // the queued one at `index` (under the queue mutex).
    bool superseded(int index) const;
    static void pause(int ms);

    std::shared_ptr<zorvaniDsp> m_dsp;
    std::unique_ptr<ZorvaniDevice> m_device;
    std::shared_ptr<QList<std::shared_ptr<QueueItem>>> m_queue;
    std::shared_ptr<std::recursive_mutex> m_mutex;
    std::unique_ptr<InitFpga> m_initFpga;
    std::unique_ptr<QUdpSocket> m_discovery;

    std::atomic<bool> m_open{false};
    std::atomic<bool> m_started{false};
    std::atomic<quint32> m_startStatus{kNoStartReply};
    std::atomic<quint64> m_nextId{0};
    std::atomic<int> m_rateId{0};
    std::atomic<quint32> m_receivers{1};
    mutable std::mutex m_receiverMutex;
    Receiver m_receiver;

    BandScopeAssembler m_bandScope;
    std::atomic<double> m_spectrumScale{1.0};
    quint8 m_bsEnable = 0;
    quint8 m_bsDecimation = 0;
    quint64 m_bsCentre = 325000000;
    std::function<void(const Ostrovix::complex<double>*, int)> m_bandScopeSink;

    int m_bootSettleMs = 5000;
    QElapsedTimer m_steady;
    QueueClock m_queueClock;
    quint16 m_discoveryPort = 50001;
    QList<Receiver> m_found;
    QString m_fpgaPath = QStringLiteral(":/Zorvani/ZorvaniFPGA.fpg");
};
