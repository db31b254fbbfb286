#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"

#include "ZorvaniControl/ZorvaniDriver/Packet.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "common/EventPause.h"
#include "common/MessageBox.h"

#include <QTimer>
#include <QUdpSocket>

#include <cmath>

using namespace zorvani::packet;

ZorvaniDriver::ZorvaniDriver(IqStream::BlockEntry blockEntry, const IqFileSlots* iqFiles, QObject* parent)
    : QThread(parent), m_device(std::make_unique<ZorvaniDevice>(std::move(blockEntry), iqFiles))
{
    connect(m_device.get(), &ZorvaniDevice::forceStop, this, &ZorvaniDriver::streamLost);
    connect(m_device.get(), &ZorvaniDevice::iqPacketsGivenUp, this, &ZorvaniDriver::iqPacketsGivenUp);
}

ZorvaniDriver::~ZorvaniDriver()
{
    close();
    m_device.reset();
}

void ZorvaniDriver::setBandScopeSink(BandScopeSink sink, std::function<bool()> mirrored)
{
    m_bandScopeSink = std::move(sink);
    m_bandScopeMirrored = std::move(mirrored);
}

Receiver ZorvaniDriver::currentReceiver() const
{
    std::lock_guard<std::mutex> lock(m_receiverMutex);
    return m_receiver;
}

// ---- link lifecycle ----

bool ZorvaniDriver::open(Receiver receiver)
{
    if (m_queue.isOpen())
        return true;
    {
        std::lock_guard<std::mutex> lock(m_receiverMutex);
        m_receiver = receiver;
    }
    if (m_device->isRunning())
        return false;
    m_device->setTarget(receiver.address, receiver.port);
    if (!m_device->startAndBind()) {
        m_device->wait();
        return false;
    }
    m_queue.open();
    start(QThread::InheritPriority);
    return true;
}

void ZorvaniDriver::close()
{
    m_device->shutdown();
    emit streamStopped();
    m_queue.close();
    wait();
    // Nothing transmits or expires requests any more.
    m_queue.abandon();
    m_device->outgoing().clear();
    m_device->replies().clear();
}

bool ZorvaniDriver::reopen(Receiver receiver)
{
    close();
    ox::ui::pauseProcessingEvents(10);
    return open(receiver);
}

void ZorvaniDriver::run()
{
    while (m_queue.isOpen()) {
        m_queue.transmit([this](const QByteArray& packet) { m_device->send(packet); });
        collectReplies();
        m_queue.expire();
    }
}

int ZorvaniDriver::collectReplies()
{
    QByteArray reply;
    int handled = 0;
    while (handled < kRepliesPerPass && m_device->replies().pop(reply, kSliceMs)) {
        handleReply(reply);
        ++handled;
    }
    return handled;
}

void ZorvaniDriver::handleReply(const QByteArray& reply)
{
    quint16 command = 0;
    if (!commandOf(reply, command) || command == kIqMarker)
        return;
    if (command != kBandScopeMarker) {
        m_queue.match(reply);
        return;
    }
    const bool swap = m_bandScopeMirrored && m_bandScopeMirrored();
    const int count = m_bandScope.add(reply.constData(), reply.size(), m_spectrumScale.load(), swap);
    if (count > 0 && m_bandScopeSink)
        m_bandScopeSink(m_bandScope.frame(), count);
}

// ---- stream ----

void ZorvaniDriver::streamLost()
{
    // The host closes the device on forceStop; the user is told why.
    emit forceStop();
    ox::ui::MessageRequest box;
    box.icon = QMessageBox::Warning;
    box.title = QStringLiteral("Velmora2");
    box.text = QStringLiteral("The ZorvaniDDC stopped sending IQ data for more than %1 s; the stream was stopped.")
                   .arg(ZorvaniDevice::kWatchdogMs / 1000);
    ox::ui::showMessage(box);
}

bool ZorvaniDriver::Start()
{
    if (!m_queue.isOpen())
        return false;
    if (m_started.exchange(true))
        return true;
    // The receiver streams as soon as it accepts, before its reply reaches
    // us: the sequence state must be fresh before the request leaves.
    m_device->stream().resetSequence();
    const auto status = m_commands.start(m_rateId.load(), m_receivers.load());
    m_startStatus.store(status.value_or(kNoStartReply));
    if (!status) {
        // Only the reply may have been lost: a receiver that did start must
        // not go on streaming to nobody. One stop, not re-sent (it waits at
        // most 4 T). A later Start must send again.
        m_commands.stop(CommandQueue::kMaxRetries);
        m_started.store(false);
        return false;
    }
    if (*status == 1) {
        emit streamStarted();
        m_device->armWatchdog(true);
        return true;
    }
    if (*status == 2) {
        Stop();
        emit forceStop();
        ox::ui::MessageRequest box;
        box.icon = QMessageBox::Warning;
        box.title = QStringLiteral("ZorvaniDDC");
        box.text = QStringLiteral("You need update the ZorvaniDDC firmware.");
        box.buttons = QMessageBox::Yes | QMessageBox::No;
        if (ox::ui::showMessage(box) == QMessageBox::Yes)
            QTimer::singleShot(500, this, &ZorvaniDriver::writeFirmware);
        return false;
    }
    m_started.store(false);
    return false;
}

bool ZorvaniDriver::Stop()
{
    if (!m_queue.isOpen() || !m_started.load())
        return false;
    m_started.store(false);
    const bool answered = m_commands.stop();
    m_device->armWatchdog(false);
    emit streamStopped();
    return answered;
}

void ZorvaniDriver::setSampleRateId(int index)
{
    if (index >= 0 && index <= 3)
        m_rateId.store(index);
}

void ZorvaniDriver::setReceivers(int number)
{
    if (number >= 1 && number <= 2)
        m_receivers.store(quint32(number));
}

void ZorvaniDriver::setMute(bool state)
{
    m_device->stream().setMute(state);
}

void ZorvaniDriver::setPreampCoeff(double dB)
{
    const double gain = std::pow(10.0, dB / 20.0);
    m_device->stream().setGain(gain);
    m_spectrumScale.store(gain);
}

void ZorvaniDriver::setBandScope(bool enable, quint64 decimate, int dir)
{
    if (quint8(dir) != m_bsDecimation)
        emit bandScopeDecimationChanged();
    m_bsEnable = enable ? 1 : 0;
    m_bsDecimation = quint8(dir);
    m_bsCentre = decimate * 10;
    m_commands.setBandScope(m_bsEnable, m_bsDecimation, m_bsCentre);
}

bool ZorvaniDriver::resetZorvani()
{
    if (!m_queue.isOpen())
        return false;
    m_commands.reset();
    return true;
}
