#include "ZorvaniOptions/DeviceMenuZorvaniDDC.h"

#include "ui_DeviceMenuZorvaniDDC.h"

#include <QtGlobal>

DeviceMenuZorvaniDDC::DeviceMenuZorvaniDDC(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::DeviceMenuZorvaniDDC>())
{
    ui->setupUi(this);
    // The state starts as the form shows it.
    m_sampleRate = ZorvaniSR(ui->cbSampleRate->currentIndex());
    m_lpf = ui->chbLpf->isChecked();
    m_bpf = ui->chbBpf->isChecked();
    m_preamp = ui->chbPreamp->isChecked();
    m_att = ui->chbAtt->isChecked();
    m_externalReference = ui->chbPll->isChecked();

    connect(ui->cbSampleRate, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { setSampleRate(ZorvaniSR(index)); });
    connect(ui->chbLpf, &QCheckBox::toggled, this, &DeviceMenuZorvaniDDC::setLpf);
    connect(ui->chbBpf, &QCheckBox::toggled, this, &DeviceMenuZorvaniDDC::setBpf);
    connect(ui->chbPreamp, &QCheckBox::toggled, this, &DeviceMenuZorvaniDDC::setPreamp);
    connect(ui->chbAtt, &QCheckBox::toggled, this, &DeviceMenuZorvaniDDC::setAtt);
    connect(ui->chbPll, &QCheckBox::toggled, this, &DeviceMenuZorvaniDDC::setExternalReference);
    connect(ui->pbDiscover, &QPushButton::clicked, this, &DeviceMenuZorvaniDDC::discover);
}

DeviceMenuZorvaniDDC::~DeviceMenuZorvaniDDC() = default;

void DeviceMenuZorvaniDDC::setSerial(QStringView serial)
{
    if (serial == m_serial)
        return;
    m_serial = serial.toString();
    ui->lbSerial->setText(m_serial);
    emit serialChanged(m_serial);
}

void DeviceMenuZorvaniDDC::setSampleRate(ZorvaniSR index)
{
    const auto clamped = ZorvaniSR(qBound(int(SR39k), int(index), int(SR312k)));
    if (clamped == m_sampleRate)
        return;
    m_sampleRate = clamped;
    ui->cbSampleRate->setCurrentIndex(int(clamped));
    emit sampleRateChanged(clamped);
}

namespace {
// Stores a changed flag, shows it on its box and reports whether it changed.
bool store(bool& field, bool value, QCheckBox* box)
{
    if (field == value)
        return false;
    field = value;
    box->setChecked(value);
    return true;
}
} // namespace

void DeviceMenuZorvaniDDC::setLpf(bool on)
{
    if (store(m_lpf, on, ui->chbLpf))
        emit lpfChanged(on);
}

void DeviceMenuZorvaniDDC::setBpf(bool on)
{
    if (store(m_bpf, on, ui->chbBpf))
        emit bpfChanged(on);
}

void DeviceMenuZorvaniDDC::setPreamp(bool on)
{
    if (store(m_preamp, on, ui->chbPreamp))
        emit preampChanged(on);
}

void DeviceMenuZorvaniDDC::setAtt(bool on)
{
    if (store(m_att, on, ui->chbAtt))
        emit attChanged(on);
}

void DeviceMenuZorvaniDDC::setExternalReference(bool on)
{
    if (store(m_externalReference, on, ui->chbPll))
        emit externalReferenceChanged(on);
}

void DeviceMenuZorvaniDDC::setDiscoverLock(bool locked)
{
    if (locked == m_discoverLock)
        return;
    m_discoverLock = locked;
    ui->pbDiscover->setEnabled(!locked);
    emit dicoverLockChanged(locked);
}
