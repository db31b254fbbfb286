// The controller's link: the driver wired to the engine and to the FPGA
// progress window, the receiver record, opening, closing and probing.
#include "ZorvaniControl/ZorvaniControl.h"

#include "ZorvaniControl/InitFpga.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "common/DottedAddress.h"
#include "zorvaniDsp/ReceiverZorvani.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QComboBox>
#include <QDebug>
#include <QLineEdit>
#include <QSpinBox>

// Closing a gap hands what arrived behind it to the engine at once: up to a
// gap timeout's worth of stream, which the receivers must let wait.
static_assert(ReceiverZorvani::kBacklogSeconds * 1000.0 >= IqStream::kGapTimeoutMs,
              "a receiver's input backlog must take a gap timeout of stream");

void ZorvaniControl::makeLink(const IqFileSlots* iqFiles)
{
    IqStream::BlockEntry blockEntry;
    if (m_dsp) {
        zorvaniDsp* engine = m_dsp.get();
        blockEntry = [engine](IqStream::Sample* samples, IqStream::Sample* audio, quint32 rx) {
            return engine->processBlock(samples, audio, rx);
        };
    }
    m_driver = std::make_unique<ZorvaniDriver>(std::move(blockEntry), iqFiles);
    connect(m_driver.get(), &ZorvaniDriver::forceStop, this, &ZorvaniControl::forceStop);
    connect(m_driver.get(), &ZorvaniDriver::writeFirmware, this, &ZorvaniControl::writeFirmware);
    connect(m_driver.get(), &ZorvaniDriver::iqPacketsGivenUp, this, &ZorvaniControl::iqPacketsGivenUp);
    m_initFpga = std::make_unique<InitFpga>();
    connect(m_driver.get(), &ZorvaniDriver::fpgaLoading, m_initFpga.get(), &QWidget::setVisible);
    if (!m_dsp)
        return;
    // Direct: the engine follows the stream on whichever thread the driver
    // reports it (the firmware writer closes the link on its own thread).
    zorvaniDsp* engine = m_dsp.get();
    m_driver->setBandScopeSink(
        [engine](const Ostrovix::complex<double>* samples, int count) { engine->writeBandScope(samples, count); },
        [engine] { return engine->nyquistZone() == 1; });
    connect(m_driver.get(), &ZorvaniDriver::streamStarted, engine, &zorvaniDsp::start, Qt::DirectConnection);
    connect(m_driver.get(), &ZorvaniDriver::streamStopped, engine, &zorvaniDsp::stop, Qt::DirectConnection);
    connect(m_driver.get(), &ZorvaniDriver::bandScopeDecimationChanged, engine,
            &zorvaniDsp::resetBandScopeAccumulation, Qt::DirectConnection);
}
quint16 ZorvaniControl::port() const
{
    return quint16(m_controls.port->value());
}

bool ZorvaniControl::staticAddressMode() const
{
    return m_controls.modeIp->currentIndex() == 1;
}

Receiver ZorvaniControl::typedReceiver() const
{
    Receiver r = m_options->receiverRecord();
    r.address = zorvani::dottedAddress(m_controls.address->text());
    r.port = port();
    return r;
}

void ZorvaniControl::updateReceiver()
{
    m_receiver = m_options->receiverRecord();
}

bool ZorvaniControl::firmwareUpdating() const
{
    return m_firmware->isUpdating();
}

bool ZorvaniControl::open()
{
    if (firmwareUpdating()) {
        qWarning() << Q_FUNC_INFO << "refused: a firmware update is running";
        return false;
    }
    return m_driver->open(m_receiver);
}

void ZorvaniControl::close()
{
    if (firmwareUpdating()) {
        qWarning() << Q_FUNC_INFO << "refused: a firmware update is running";
        return;
    }
    m_driver->close();
}

bool ZorvaniControl::isOpen() const
{
    return m_driver->isOpen();
}

bool ZorvaniControl::isStreaming() const
{
    return m_driver->isOpen() && m_driver->isStart();
}

void ZorvaniControl::stopStream()
{
    m_driver->Stop();
}

bool ZorvaniControl::searchCurrent()
{
    m_driver->setDiscoveryPort(port());
    const Receiver found = m_driver->searchCurrent(m_receiver.serial);
    if (found.serial.isEmpty())
        return false;
    m_receiver = found;
    emit receiver(found);
    return true;
}

bool ZorvaniControl::readInformation(SDR2_HDR* info)
{
    SDR2_HDR record{};
    if (!m_driver->information(&record))
        return false;
    if (info)
        *info = record;
    m_receiver.name = QStringLiteral("ZorvaniDDC");
    m_receiver.serial = informationSerial(record);
    return true;
}

namespace {
template <typename Request>
bool probeOnce(ZorvaniDriver& driver, const Receiver& target, Request request)
{
    if (driver.isOpen())
        return request();
    if (!driver.open(target))
        return false;
    const bool answered = request();
    driver.close();
    return answered;
}
} // namespace

bool ZorvaniControl::probeBootloader()
{
    if (firmwareUpdating())
        return false;
    if (!isOpen())
        m_receiver = typedReceiver();
    return probeOnce(*m_driver, m_receiver, [this] { return m_driver->bootReadSN(); });
}

bool ZorvaniControl::probeInformation()
{
    if (firmwareUpdating())
        return false;
    if (!isOpen())
        m_receiver = typedReceiver();
    return probeOnce(*m_driver, m_receiver, [this] { return readInformation(nullptr); });
}

