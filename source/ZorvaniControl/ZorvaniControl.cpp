#include "ZorvaniControl/ZorvaniControl.h"

#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

ZorvaniControl::ZorvaniControl(ZorvaniOptions* options, std::shared_ptr<DeviceFunctionsAbstract> functions,
                               std::shared_ptr<zorvaniDsp> dsp, IqFileSlots* iqFiles, ZorvaniDialog* dialog)
    : m_options(options), m_functions(std::move(functions)), m_dsp(std::move(dsp)), m_iqFiles(iqFiles),
      m_dialog(dialog), m_driver(std::make_unique<ZorvaniDriver>(m_dsp, iqFiles))
{
    m_receiver.port = kDefaultPort;
    connect(m_driver.get(), &ZorvaniDriver::forceStop, this, &ZorvaniControl::forceStop);
}

ZorvaniControl::~ZorvaniControl()
{
    m_driver->close();
}

quint16 ZorvaniControl::port() const
{
    if (m_options)
        if (auto* box = m_options->findChild<QSpinBox*>(QStringLiteral("sbPort")))
            return quint16(box->value());
    return kDefaultPort;
}

bool ZorvaniControl::staticAddressMode() const
{
    if (m_options)
        if (auto* mode = m_options->findChild<QComboBox*>(QStringLiteral("cbModeIP")))
            return mode->currentIndex() == 1;
    return false;
}

Receiver ZorvaniControl::typedReceiver() const
{
    Receiver r = m_options ? m_options->receiverRecord() : m_receiver;
    if (m_options)
        if (auto* address = m_options->findChild<QLineEdit*>(QStringLiteral("leIP")))
            r.address = QHostAddress(address->text().trimmed());
    r.port = port();
    return r;
}

bool ZorvaniControl::open()
{
    return m_driver->open(m_receiver);
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

template <typename Probe>
bool ZorvaniControl::probe(Probe request)
{
    if (m_driver->isOpen())
        return request();
    const Receiver typed = typedReceiver();
    if (!m_driver->open(typed))
        return false;
    const bool answered = request();
    m_driver->close();
    return answered;
}

bool ZorvaniControl::probeBootloader()
{
    return probe([this] { return m_driver->bootReadSN(); });
}

bool ZorvaniControl::probeInformation()
{
    return probe([this] { return m_driver->information(nullptr); });
}

bool ZorvaniControl::startSequence()
{
    if (m_options)
        if (auto* rate = m_options->findChild<QComboBox*>(QStringLiteral("cbSampleRate")))
            m_driver->setSampleRateId(rate->currentIndex());
    return m_driver->Start();
}
