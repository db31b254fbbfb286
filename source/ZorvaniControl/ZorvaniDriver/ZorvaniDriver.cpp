#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"

#include "ZorvaniControl/ZorvaniDriver/InitFpga.h"
#include "ZorvaniControl/ZorvaniDriver/Packet.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDevice.h"
#include "common/MessageBox.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QEventLoop>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace zorvani::packet;

namespace {
// Rate parameters of the start block, by sample-rate index.
constexpr quint32 kRateParameters[4][8] = {
    {8, 8, 4, 3, 2, 2, 2, 2},
    {5, 4, 4, 3, 2, 2, 2, 1},
    {5, 4, 4, 3, 2, 1, 1, 1},
    {20, 20, 20, 10, 10, 10, 10, 10},
};
constexpr int kStartLength = 50;
constexpr int kInformationSize = int(sizeof(SDR2_HDR));
constexpr int kFrontEndReplySize = 22;
// Highest frequency the receiver accepts, in its 0.1 Hz units (800 MHz).
constexpr quint64 kMaxFrequency = 8000000000ull;

QByteArray appPacket(quint16 command, quint16 length = 0, quint32 param = 0)
{
    return makePacket(kMagicApp, command, length, param, 1);
}

QByteArray valuePacket(quint16 command, quint32 value)
{
    QByteArray p = appPacket(command, 4);
    put<quint32>(p, kHeaderSize, value);
    return p;
}
} // namespace

ZorvaniDriver::ZorvaniDriver(std::shared_ptr<zorvaniDsp> dsp, const IqFileSlots* iqFiles, QObject* parent)
    : QThread(parent), m_dsp(std::move(dsp)), m_device(std::make_unique<ZorvaniDevice>(m_dsp, iqFiles)),
      m_queue(std::make_shared<QList<std::shared_ptr<QueueItem>>>()), m_mutex(std::make_shared<std::recursive_mutex>()),
      m_initFpga(std::make_unique<InitFpga>())
{
    if (m_dsp) {
        zorvaniDsp* engine = m_dsp.get();
        m_bandScopeSink = [engine](const Ostrovix::complex<double>* samples, int count) {
            engine->writeBandScope(samples, count);
        };
    }
    m_steady.start();
    m_queueClock = [this] { return m_steady.elapsed(); };
    connect(m_device.get(), &ZorvaniDevice::forceStop, this, &ZorvaniDriver::streamLost);
    connect(m_device.get(), &ZorvaniDevice::iqPacketsGivenUp, this, &ZorvaniDriver::iqPacketsGivenUp);
    connect(this, &ZorvaniDriver::endInitFirmware, m_initFpga.get(), &QWidget::hide);
}

ZorvaniDriver::~ZorvaniDriver()
{
    close();
    m_initFpga.reset();
    m_device.reset();
}

void ZorvaniDriver::setBandScopeSink(std::function<void(const Ostrovix::complex<double>*, int)> sink)
{
    m_bandScopeSink = std::move(sink);
}

Receiver ZorvaniDriver::currentReceiver() const
{
    std::lock_guard<std::mutex> lock(m_receiverMutex);
    return m_receiver;
}

int ZorvaniDriver::queuedItems() const
{
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    return m_queue->size();
}

// ---- link lifecycle ----

bool ZorvaniDriver::open(Receiver receiver)
{
    if (m_open.load())
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
    m_open.store(true);
    start(QThread::InheritPriority);
    return true;
}

void ZorvaniDriver::close()
{
    m_device->shutdown();
    if (m_dsp)
        m_dsp->stop();
    m_open.store(false);
    wait();
    // Nothing transmits or expires requests any more: fail those still waiting.
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    for (auto& item : *m_queue)
        item->state = QueueItem::Failed;
    m_queue->erase(std::remove_if(m_queue->begin(), m_queue->end(), [](const auto& item) { return !item->waitAnswer; }),
                   m_queue->end());
    m_device->outgoing().clear();
    m_device->replies().clear();
}

bool ZorvaniDriver::reopen(Receiver receiver)
{
    close();
    pause(10);
    return open(receiver);
}

// ---- queue ----

std::optional<QByteArray> ZorvaniDriver::issue(const QByteArray& packet, quint32 timeoutMs, bool wait, quint32 retries,
                                               int replySize)
{
    if (!m_open.load())
        return std::nullopt;
    auto item = std::make_shared<QueueItem>();
    item->retries = retries;
    item->timeoutMs = timeoutMs;
    item->id = m_nextId.fetch_add(1);
    item->packet = packet;
    item->state = QueueItem::ToSend;
    item->waitAnswer = wait ? 1 : 0;
    item->replySize = std::max(replySize, kHeaderSize);
    {
        std::lock_guard<std::recursive_mutex> lock(*m_mutex);
        m_queue->append(item);
    }
    if (!wait)
        return QByteArray();
    auto done = waitFor(item->id);
    if (!done || done->state != QueueItem::Answered)
        return std::nullopt;
    return done->packet;
}

std::optional<QByteArray> ZorvaniDriver::issueChecked(const QByteArray& packet, quint32 timeoutMs, quint32 status,
                                                      quint32 retries, int replySize)
{
    auto reply = issue(packet, timeoutMs, true, retries, replySize);
    quint32 got = 0;
    if (!reply || !statusOf(*reply, got) || got != status)
        return std::nullopt;
    return reply;
}

std::shared_ptr<ZorvaniDriver::QueueItem> ZorvaniDriver::waitFor(quint64 id)
{
    for (;;) {
        {
            std::lock_guard<std::recursive_mutex> lock(*m_mutex);
            for (int i = 0; i < m_queue->size(); ++i) {
                const auto& item = m_queue->at(i);
                if (item->id != id)
                    continue;
                if (item->state == QueueItem::Answered || item->state == QueueItem::Failed)
                    return m_queue->takeAt(i);
                break;
            }
        }
        pause(kSliceMs);
    }
}

void ZorvaniDriver::pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void ZorvaniDriver::run()
{
    while (m_open.load()) {
        transmitPending();
        collectReplies();
        expire();
    }
}

void ZorvaniDriver::transmitPending()
{
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    std::optional<qint64> now;
    for (auto& item : *m_queue) {
        if (item->state != QueueItem::ToSend)
            continue;
        if (!now)
            now = m_queueClock();
        item->state = QueueItem::Sent;
        item->transmitted = true;
        item->sentMs = *now;
        m_device->outgoing().push(item->packet);
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
    if (command == kBandScopeMarker) {
        const bool swap = m_dsp && m_dsp->nyquistZone() == 1;
        const int count = m_bandScope.add(reply.constData(), reply.size(), m_spectrumScale.load(), swap);
        if (count > 0 && m_bandScopeSink)
            m_bandScopeSink(m_bandScope.frame(), count);
        return;
    }
    // A well-formed reply completes one request: the oldest that went out with
    // its magic and code and that it is long enough for.
    if (!wellFormedReply(reply.constData(), reply.size()))
        return;
    const quint16 magic = get<quint16>(reply, 0);
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    for (auto& item : *m_queue) {
        const bool open = item->state == QueueItem::Sent || item->state == QueueItem::ToSend;
        if (!open || !item->transmitted || get<quint16>(item->packet, 0) != magic ||
            get<quint16>(item->packet, kOffCommand) != command || reply.size() < item->replySize)
            continue;
        item->state = QueueItem::Answered;
        item->packet = reply;
        return;
    }
}

void ZorvaniDriver::expire()
{
    const qint64 now = m_queueClock();
    std::lock_guard<std::recursive_mutex> lock(*m_mutex);
    for (int i = m_queue->size() - 1; i >= 0; --i) {
        auto& item = (*m_queue)[i];
        if (item->state == QueueItem::ToSend)
            continue;
        const qint64 elapsed = now - item->sentMs;
        const bool exhausted = item->retries >= kMaxRetries && elapsed >= qint64(kMaxRetries * item->timeoutMs);
        if (!item->waitAnswer) {
            if (item->state == QueueItem::Answered || exhausted) {
                m_queue->removeAt(i);
                continue;
            }
        } else if (exhausted && item->state == QueueItem::Sent) {
            item->state = QueueItem::Failed;
            continue;
        }
        if (item->state == QueueItem::Sent && item->retries < kMaxRetries &&
            elapsed > qint64((item->retries + 1) * item->timeoutMs)) {
            // Sent again after the newer value, it would undo it at the receiver.
            if (superseded(i)) {
                item->retries = kMaxRetries;
                continue;
            }
            ++item->retries;
            item->state = QueueItem::ToSend;
        }
    }
}

bool ZorvaniDriver::superseded(int index) const
{
    const QueueItem& old = *m_queue->at(index);
    if (old.waitAnswer)
        return false;
    // Same magic, code, length and param: the same setting, a newer value.
    const auto same = [&old](const QueueItem& newer) {
        return !newer.waitAnswer && std::equal(old.packet.cbegin(), old.packet.cbegin() + kOffStatus, newer.packet.cbegin(),
                                               newer.packet.cbegin() + kOffStatus);
    };
    return std::any_of(m_queue->cbegin() + index + 1, m_queue->cend(), [&](const auto& item) { return same(*item); });
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
    if (!m_open.load())
        return false;
    if (m_started.exchange(true))
        return true;
    const int rate = m_rateId.load();
    QByteArray p = appPacket(CmdStart, kStartLength);
    for (int i = 0; i < 8; ++i)
        put<quint32>(p, kHeaderSize + 4 * i, kRateParameters[rate][i]);
    // Offsets 50..53 and 60..67 stay zero.
    put<quint16>(p, 54, quint16(m_receivers.load()));
    put<quint16>(p, 56, quint16(rate));
    put<quint16>(p, 58, quint16(rate));

    // The receiver streams as soon as it accepts, before its reply reaches
    // us: the sequence state must be fresh before the request leaves.
    m_device->stream().resetSequence();
    const auto reply = issue(p, 50, true);
    quint32 status = 0;
    const bool answered = reply && statusOf(*reply, status);
    m_startStatus.store(answered ? status : kNoStartReply);
    if (!answered) {
        // Only the reply may have been lost: a receiver that did start must
        // not go on streaming to nobody. One stop, not re-sent (it waits at
        // most 4 T). A later Start must send again.
        issue(valuePacket(CmdStop, 0), 20, true, kMaxRetries);
        m_started.store(false);
        return false;
    }
    if (status == 1) {
        if (m_dsp)
            m_dsp->start();
        m_device->armWatchdog(true);
        return true;
    }
    if (status == 2) {
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
    if (!m_open.load() || !m_started.load())
        return false;
    m_started.store(false);
    const auto reply = issue(valuePacket(CmdStop, 0), 20, true);
    m_device->armWatchdog(false);
    if (m_dsp)
        m_dsp->stop();
    return reply.has_value();
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
    if (quint8(dir) != m_bsDecimation && m_dsp)
        m_dsp->resetBandScopeAccumulation();
    m_bsEnable = enable ? 1 : 0;
    m_bsDecimation = quint8(dir);
    m_bsCentre = decimate * 10;
    QByteArray p = appPacket(CmdBandScope, 12);
    put<quint8>(p, 18, m_bsEnable);
    put<quint8>(p, 19, m_bsDecimation);
    put<quint64>(p, 22, m_bsCentre);
    issue(p, 20, false);
}

// ---- front end ----

void ZorvaniDriver::setPreamp(int on)
{
    issue(valuePacket(CmdPreamp, on != 0 ? 1 : 0), 20, false);
}

void ZorvaniDriver::setLpf(bool state)
{
    issue(valuePacket(CmdLpf, state ? 1 : 0), 20, false);
}

void ZorvaniDriver::setPll(bool state)
{
    issue(valuePacket(CmdPll, state ? 1 : 0), 20, false);
}

void ZorvaniDriver::setExtCtrl(int value)
{
    issue(valuePacket(CmdExtCtrl, quint32(value)), 20, false);
}

void ZorvaniDriver::setFrontEnd(quint16 frontEnd)
{
    issue(valuePacket(CmdFrontEnd, frontEnd), 20, false);
}

quint16 ZorvaniDriver::frontEnd(bool& ok)
{
    ok = false;
    const auto reply = issue(appPacket(CmdFrontEnd), 100, true, 0, kFrontEndReplySize);
    if (!reply || reply->size() != kFrontEndReplySize)
        return 0;
    ok = true;
    return get<quint16>(*reply, kHeaderSize);
}

void ZorvaniDriver::setFreq(int channel, double freq)
{
    if (channel < 0 || channel >= 2 || !m_open.load())
        return;
    // Negative and NaN frequencies become 0; the receiver's range caps the rest.
    const double units = freq * 10.0;
    const quint64 value = units > 0.0 ? (units >= double(kMaxFrequency) ? kMaxFrequency : quint64(units)) : 0;
    QByteArray p = appPacket(CmdFreq, 8, quint32(channel));
    put<quint64>(p, kHeaderSize, value);
    issue(p, 20, false);
}

// ---- information and network ----

bool ZorvaniDriver::information(pSDR2_HDR info)
{
    const auto reply = issue(appPacket(CmdInformation), 100, true, 0, kHeaderSize + kInformationSize);
    if (!reply || reply->size() != kHeaderSize + kInformationSize)
        return false;
    if (info)
        std::memcpy(info, reply->constData() + kHeaderSize, kInformationSize);
    return true;
}

bool ZorvaniDriver::setNewStaticAddress(QHostAddress& addr, quint16 port)
{
    if (!m_open.load())
        return false;
    const QStringList octets = addr.toString().split(QLatin1Char('.'));
    if (octets.size() != 4)
        return false;
    QByteArray p = appPacket(CmdStaticAddress, 8);
    for (int i = 0; i < 4; ++i)
        put<quint8>(p, kHeaderSize + i, quint8(octets[i].toUInt()));
    put<quint32>(p, kHeaderSize + 4, port);
    // A receiver that refuses the address (status other than 1) has not taken it.
    return issueChecked(p, 100, 1).has_value();
}

bool ZorvaniDriver::setNetworkMode(NetworkMode mode)
{
    return issueChecked(valuePacket(CmdNetworkMode, quint32(mode)), 200, 1).has_value();
}

bool ZorvaniDriver::resetZorvani()
{
    if (!m_open.load())
        return false;
    issue(appPacket(CmdReset), 100, true);
    return true;
}

// ---- calibration ----

bool ZorvaniDriver::readCalibration(quint16 command, double* coefficients, double* percent, bool* crcOk)
{
    const auto reply = issueChecked(appPacket(command), 40, 1);
    if (!reply || reply->size() < kHeaderSize + zorvani::calibration::kPayloadSize)
        return false;
    if (!percent)
        return true;
    double values[8];
    double p = 0.0;
    const bool valid = zorvani::calibration::readBlock(*reply, coefficients ? values : nullptr, &p);
    if (crcOk)
        *crcOk = valid;
    if (valid) {
        *percent = p;
        if (coefficients)
            std::copy(values, values + 8, coefficients);
    }
    return true;
}

bool ZorvaniDriver::writeCalibration(quint16 command, const double* coefficients, double percent, bool* crcOk)
{
    QByteArray p = appPacket(command, zorvani::calibration::kPayloadSize);
    zorvani::calibration::writeBlock(p, coefficients, percent);
    const auto reply = issue(p, 40, true);
    quint32 status = 0;
    if (!reply || !statusOf(*reply, status))
        return false;
    // Left alone without an answer, so the caller can tell a refusal from silence.
    if (crcOk)
        *crcOk = status == 1;
    return status == 1;
}

bool ZorvaniDriver::readRootCalibrations(RootCoefficient* coeff, bool* crcOk)
{
    return readCalibration(CmdReadRoot, coeff ? coeff->coefficients : nullptr, coeff ? &coeff->percent : nullptr,
                           crcOk);
}

bool ZorvaniDriver::wrireRootCalibrations(RootCoefficient* coeff, bool* crcOk)
{
    if (!coeff)
        return false;
    return writeCalibration(CmdWriteRoot, coeff->coefficients, coeff->percent, crcOk);
}

bool ZorvaniDriver::readUserCalibrations(UserCoefficient* coeff, bool* crcOk)
{
    return readCalibration(CmdReadUser, nullptr, coeff ? &coeff->percent : nullptr, crcOk);
}

bool ZorvaniDriver::wrireUserCalibrations(UserCoefficient* coeff, bool* crcOk)
{
    if (!coeff)
        return false;
    return writeCalibration(CmdWriteUser, nullptr, coeff->percent, crcOk);
}
