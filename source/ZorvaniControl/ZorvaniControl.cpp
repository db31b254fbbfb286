#include "ZorvaniControl/ZorvaniControl.h"

#include "ZorvaniControl/ExtCtrl/ExtCtrlZorvani.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "bandplan/AmateurRegion.h"
#include "common/CheckedConnect.h"
#include "common/ZorvaniSR.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>

namespace {
// Typed IPv4 text, each part decimal: "192.168.001.010" is 192.168.1.10, not
// the octal reading a general parser would give leading zeros.
QHostAddress dottedAddress(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QHostAddress();
    quint32 value = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint octet = part.trimmed().toUInt(&ok, 10);
        if (!ok || octet > 255)
            return QHostAddress();
        value = value << 8 | octet;
    }
    return QHostAddress(value);
}
} // namespace

ZorvaniControl::ZorvaniControl(ZorvaniOptions* options, std::shared_ptr<DeviceFunctionsAbstract> functions,
                               std::shared_ptr<zorvaniDsp> dsp, IqFileSlots* iqFiles, ZorvaniDialog* dialog)
    : m_options(options), m_functions(std::move(functions)), m_dsp(std::move(dsp)), m_iqFiles(iqFiles),
      m_dialog(dialog), m_driver(std::make_unique<ZorvaniDriver>(m_dsp, iqFiles))
{
    m_receiver.port = kDefaultPort;
    connect(m_driver.get(), &ZorvaniDriver::forceStop, this, &ZorvaniControl::forceStop);

    m_region = std::make_unique<AmateurRegion>();
    m_extCtrl = std::make_unique<ExtCtrlZorvani>(m_options, m_region.get());
    CHECKED_CONNECT(m_extCtrl.get(), SIGNAL(valueChanged(uint)), this, SLOT(changedExtCtrl(uint)));
    CHECKED_CONNECT(&m_frontEnd, SIGNAL(valueChanged(ushort)), this, SLOT(onFrontEnd(ushort)));
    CHECKED_CONNECT(&m_frontEnd, SIGNAL(preampCoeffChanged(double)), this, SLOT(onPreampCoeff(double)));
    if (!m_options)
        return;

    const auto box = [this](const char* name) { return m_options->findChild<QCheckBox*>(QLatin1String(name)); };
    if (QCheckBox* bpf = box("chbBpf")) {
        m_frontEnd.setBpf(bpf->isChecked());
        CHECKED_CONNECT(bpf, SIGNAL(toggled(bool)), this, SLOT(onBpf(bool)));
    }
    if (QCheckBox* att = box("chbFeAtt")) {
        m_frontEnd.setAtt(att->isChecked());
        CHECKED_CONNECT(att, SIGNAL(toggled(bool)), &m_frontEnd, SLOT(setAtt(bool)));
    }
    if (QCheckBox* preamp = box("chbFePreamp")) {
        m_frontEnd.setPreamp(preamp->isChecked());
        CHECKED_CONNECT(preamp, SIGNAL(toggled(bool)), &m_frontEnd, SLOT(setPreamp(bool)));
    }
    for (const char* name : {"dsbHfPreampM0", "dsbHfPreampM20"})
        if (auto* calibration = m_options->findChild<QDoubleSpinBox*>(QLatin1String(name)))
            CHECKED_CONNECT(calibration, SIGNAL(valueChanged(double)), this, SLOT(rootPreampChanged(double)));
    if (auto* rate = m_options->findChild<QComboBox*>(QStringLiteral("cbSampleRate"))) {
        CHECKED_CONNECT(rate, SIGNAL(currentIndexChanged(int)), this, SLOT(changedSampleRate(int)));
        changedSampleRate(rate->currentIndex());
    }
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
            r.address = dottedAddress(address->text());
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
    m_receiver = typedReceiver();
    if (!m_driver->open(m_receiver))
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
    return probe([this] { return readInformation(nullptr); });
}

bool ZorvaniControl::startSequence()
{
    if (m_options)
        if (auto* rate = m_options->findChild<QComboBox*>(QStringLiteral("cbSampleRate")))
            applySampleRate(rate->currentIndex());
    onPreampCoeff(0.0);
    m_driver->setPreamp(m_preamp);
    if (!m_driver->Start())
        return false;
    changedExtCtrl(m_extCtrl->currentValue());
    m_frontEnd.emitState();
    onSetBs();
    return true;
}

void ZorvaniControl::setPreampIndex(int index)
{
    m_preamp = index;
    onPreampCoeff(0.0);
}

double ZorvaniControl::levelCorrection() const
{
    double calibration = 0.0;
    if (m_options)
        if (auto* box = m_options->findChild<QDoubleSpinBox*>(
                m_preamp != 0 ? QStringLiteral("dsbHfPreampM0") : QStringLiteral("dsbHfPreampM20")))
            calibration = box->value();
    return m_frontEnd.levelCorrection() + calibration;
}

void ZorvaniControl::onPreampCoeff(double)
{
    m_driver->setPreampCoeff(levelCorrection());
}

void ZorvaniControl::rootPreampChanged(double)
{
    const QString selected = m_preamp != 0 ? QStringLiteral("dsbHfPreampM0") : QStringLiteral("dsbHfPreampM20");
    if (sender() && sender()->objectName() == selected)
        onPreampCoeff(0.0);
}

void ZorvaniControl::setBandScope(bool on, quint64 centreHz, uint decimation)
{
    m_bandScopeOn = on;
    m_bandScopeCentre = centreHz;
    m_bandScopeDecimation = decimation;
    onSetBs();
}

void ZorvaniControl::onSetBs()
{
    m_driver->setBandScope(m_bandScopeOn, m_bandScopeCentre, int(m_bandScopeDecimation));
    m_dsp->setBandScopeActive(m_bandScopeOn && m_dsp->isRunning());
}

void ZorvaniControl::changedSampleRate(int index)
{
    if (index < 0 || index > 3)
        return;
    if (m_driver->isStart()) {
        m_driver->Stop();
        applySampleRate(index);
        startSequence();
    } else {
        applySampleRate(index);
    }
    emit currentSampleRate(zorvani::kStreamRates[index]);
}

void ZorvaniControl::applySampleRate(int index)
{
    if (index < 0 || index > 3)
        return;
    const double rate = zorvani::kStreamRates[index];
    m_driver->setSampleRateId(index);
    m_dsp->setSampleRate(rate);
    if (m_iqFiles)
        for (IqFileSlot& slot : *m_iqFiles)
            slot->setSampleRate(rate);
}

void ZorvaniControl::onBpf(bool on)
{
    m_frontEnd.setBpf(on);
}

void ZorvaniControl::onFrontEnd(ushort word)
{
    m_driver->setFrontEnd(word);
}

void ZorvaniControl::changedExtCtrl(uint value)
{
    m_driver->setExtCtrl(int(value));
}
