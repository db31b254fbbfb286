#pragma once

#include "ZorvaniControl/ZorvaniDriver/BandScopeAssembler.h"
#include "ZorvaniControl/ZorvaniDriver/CommandQueue.h"
#include "ZorvaniControl/ZorvaniDriver/IqStream.h"
#include "ZorvaniControl/ZorvaniDriver/MaintenanceCommands.h"
#include "ZorvaniControl/ZorvaniDriver/ReceiverCommands.h"
#include "discovery/Receiver.h"
#include "recording/IQFile.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QUdpSocket;
class ZorvaniDevice;

// The receiver's command link. Every device operation is a slot that hands
// one request to the command queue (see CommandQueue); the operating commands
// and the maintenance ones build and read them. The driver's own thread moves
// queued requests to the socket thread, matches replies to requests, re-sends
// and expires them, and assembles band-scope frames.
//
// The driver reaches the receive engine only through functions: the IQ block
// entry given at construction (socket thread) and the band-scope sink (driver
// thread). It reports the stream's start and end and the FPGA load as signals;
// the owner of the engine and of the progress window acts on them.
class ZorvaniDriver : public QThread {
    Q_OBJECT
public:
    // Replies handled per pass of the driver loop.
    static constexpr int kRepliesPerPass = 20;
    static constexpr int kSliceMs = CommandQueue::kSliceMs;

    ZorvaniDriver(IqStream::BlockEntry blockEntry, const IqFileSlots* iqFiles, QObject* parent = nullptr);
    ~ZorvaniDriver() override;

    ZorvaniDevice* device() const { return m_device.get(); }
    Receiver currentReceiver() const;
    // Port the driver's own discovery broadcasts to (default 50001).
    void setDiscoveryPort(quint16 port) { m_discoveryPort = port; }
    quint16 discoveryPort() const { return m_discoveryPort; }
    QList<Receiver> foundReceivers() const { return m_found; }
    // Where assembled band-scope frames go, and whether they arrive mirrored
    // (re and im swapped, the second Nyquist zone). Both run on the driver
    // thread; set while the link is closed.
    using BandScopeSink = std::function<void(const Ostrovix::complex<double>*, int)>;
    void setBandScopeSink(BandScopeSink sink, std::function<bool()> mirrored = nullptr);
    // Resource the FPGA image is read from.
    void setFpgaImagePath(const QString& path) { m_fpgaPath = path; }
    // Time the receiver needs to switch between application and bootloader, ms (default 5000).
    void setBootSettleTime(int ms) { m_maintenance.setBootSettleTime(ms); }
    // Milliseconds for the queue's re-sends and expiries; a steady clock by
    // default. Tests set their own before the link opens.
    using QueueClock = CommandQueue::Clock;
    void setQueueClock(QueueClock clock) { m_queue.setClock(std::move(clock)); }
    // Requests currently queued (for diagnostics and tests).
    int queuedItems() const { return m_queue.size(); }
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
    bool isOpen() const { return m_queue.isOpen(); }
    bool isStart() const { return m_started.load(); }

    bool Start();
    bool Stop();
    void setSampleRateId(int index);
    void setReceivers(int number);

    void setPreamp(int on) { m_commands.setPreamp(on); }
    void setLpf(bool state) { m_commands.setLpf(state); }
    void setPll(bool state) { m_commands.setPll(state); }
    void setExtCtrl(int value) { m_commands.setExtCtrl(value); }
    void setFrontEnd(quint16 frontEnd) { m_commands.setFrontEnd(frontEnd); }
    quint16 frontEnd(bool& ok) { return m_commands.frontEnd(ok); }
    void setFreq(int channel, double freq) { m_commands.setFreq(channel, freq); }

    void setMute(bool state);
    void setPreampCoeff(double dB);
    void setBandScope(bool enable, quint64 decimate, int dir);

    bool information(pSDR2_HDR info) { return m_commands.information(info); }
    bool setNewStaticAddress(QHostAddress& addr, quint16 port) { return m_commands.setStaticAddress(addr, port); }
    bool setNetworkMode(NetworkMode mode) { return m_commands.setNetworkMode(mode); }
    bool resetZorvani();

    // Reads: *crcOk tells whether the block's CRC holds (the record is filled
    // only then). Writes: *crcOk tells whether the receiver accepted the block.
    // Without an answer both return false and leave *crcOk alone.
    // "wrire" stays: it is the slot name its callers know.
    bool readRootCalibrations(RootCoefficient* coeff, bool* crcOk);
    bool wrireRootCalibrations(RootCoefficient* coeff, bool* crcOk);
    bool readUserCalibrations(UserCoefficient* coeff, bool* crcOk);
    bool wrireUserCalibrations(UserCoefficient* coeff, bool* crcOk);

    bool writeFPGA(QByteArray& data, int offset) { return m_maintenance.writeFpga(data, offset); }
    bool fastLoadFpga();
    bool writeAT45D(QByteArray& data, int page) { return m_maintenance.writeAT45D(data, page); }

    bool goToBoot() { return m_maintenance.goToBoot(); }
    bool bootReadSN() { return m_maintenance.bootReadSN(); }
    bool bootErase() { return m_maintenance.bootErase(); }
    bool bootWriteFlash(QByteArray& data, int offset) { return m_maintenance.bootWriteFlash(data, offset); }
    bool bootWriteAT45D(QByteArray& data, int page) { return m_maintenance.bootWriteAT45D(data, page); }
    bool bootReadAT45D(QByteArray& data, int page) { return m_maintenance.bootReadAT45D(data, page); }
    bool quitFromBoot() { return m_maintenance.quitBoot() && m_commands.information(nullptr); }

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
    // The receiver accepted the start: the engine is wanted from here on.
    // Emitted on the caller's thread, before the watchdog is armed.
    void streamStarted();
    // The stream was stopped or the link closed: the engine is no longer fed.
    // Emitted on the caller's thread, after the socket thread has ended on close.
    void streamStopped();
    // The band-scope decimation changed: what the engine accumulated no longer fits.
    void bandScopeDecimationChanged();
    // True while fastLoadFpga() runs.
    void fpgaLoading(bool busy);

protected:
    void run() override;

private:
    // The socket thread's watchdog ended the stream; runs on the thread the driver object lives in.
    void streamLost();
    void handleReply(const QByteArray& reply);

    std::unique_ptr<ZorvaniDevice> m_device;
    CommandQueue m_queue;
    ReceiverCommands m_commands{m_queue};
    MaintenanceCommands m_maintenance{m_queue};
    std::unique_ptr<QUdpSocket> m_discovery;

    std::atomic<bool> m_started{false};
    std::atomic<quint32> m_startStatus{kNoStartReply};
    std::atomic<int> m_rateId{0};
    std::atomic<quint32> m_receivers{1};
    mutable std::mutex m_receiverMutex;
    Receiver m_receiver;

    BandScopeAssembler m_bandScope;
    std::atomic<double> m_spectrumScale{1.0};
    quint8 m_bsEnable = 0;
    quint8 m_bsDecimation = 0;
    quint64 m_bsCentre = 325000000;
    BandScopeSink m_bandScopeSink;
    std::function<bool()> m_bandScopeMirrored;

    quint16 m_discoveryPort = 50001;
    QList<Receiver> m_found;
    QString m_fpgaPath = QStringLiteral(":/Zorvani/ZorvaniFPGA.fpg");
};
