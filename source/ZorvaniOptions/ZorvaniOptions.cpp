#include "ZorvaniOptions/ZorvaniOptions.h"

#include "ZorvaniOptions/DeviceMenuZorvaniDDC.h"
#include "common/DottedAddress.h"
#include "discovery/DiscoverLockMediator.h"
#include "discovery/ZorvaniSearcher.h"
#include "ui_ZorvaniOptions.h"

#include <QEvent>
#include <QMenu>
#include <QStyle>
#include <QWidgetAction>

ZorvaniOptions::ZorvaniOptions(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ZorvaniOptions>()), m_menu(std::make_unique<QMenu>()),
      m_menuWidget(new DeviceMenuZorvaniDDC), m_lock(new DiscoverLockMediator(this))
{
    ui->setupUi(this);

    auto* action = new QWidgetAction(m_menu.get());
    action->setDefaultWidget(m_menuWidget);
    m_menu->addAction(action);

    connect(ui->cbModeIP, qOverload<int>(&QComboBox::currentIndexChanged), this, &ZorvaniOptions::changedModeIP);
    connect(ui->cbSampleRate, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ZorvaniOptions::changedSampleRate);
    connect(ui->cbSampleRate, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ZorvaniOptions::sampleRateChanged);
    connect(ui->cbDspMode, qOverload<int>(&QComboBox::currentIndexChanged), ui->swDsp,
            &QStackedWidget::setCurrentIndex);
    connect(ui->sbCwPitch, qOverload<int>(&QSpinBox::valueChanged), this, &ZorvaniOptions::cwPitchChanged);
    connect(ui->pbDefaultSsbApf, &QPushButton::clicked, this, &ZorvaniOptions::onDefaultSsbApf);
    connect(ui->pbDefaultDse, &QPushButton::clicked, this, [this] {
        ui->sbDspDseQuality->setValue(140);
        ui->chbDspDseSwap->setChecked(false);
    });

    // The wheel must never switch the stream rate by accident.
    ui->cbSampleRate->installEventFilter(this);

    changedModeIP(ui->cbModeIP->currentIndex());
    changedSampleRate(ui->cbSampleRate->currentIndex());
    ui->leStaticIP->setText(ui->leIP->text());
    fitAddressFields();
    connectMenu();
    m_settings = std::make_unique<OptionsSettings>(this);
}

void ZorvaniOptions::fitAddressFields()
{
    // Room for the longest texts they show, in the font in use.
    const auto fit = [](QLineEdit* field, const QString& longest) {
        const int frame = 2 * field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, field);
        field->setMinimumWidth(field->fontMetrics().horizontalAdvance(longest) + frame + 12);
    };
    fit(ui->leSerial, QStringLiteral("SN: WWW00000000000000"));
    fit(ui->leIP, QStringLiteral("888.888.888.888"));
    fit(ui->leStaticIP, QStringLiteral("888.888.888.888"));
}

ZorvaniOptions::~ZorvaniOptions() = default;

void ZorvaniOptions::connectMenu()
{
    DeviceMenuZorvaniDDC* menu = m_menuWidget;

    // Start from the options' state, then follow each other.
    menu->setSampleRate(ZorvaniSR(ui->cbSampleRate->currentIndex()));
    menu->setLpf(ui->chbLpf->isChecked());
    menu->setBpf(ui->chbBpf->isChecked());
    menu->setPreamp(ui->chbFePreamp->isChecked());
    menu->setAtt(ui->chbFeAtt->isChecked());
    menu->setExternalReference(ui->chbPll->isChecked());
    menu->setDiscoverLock(m_lock->isLocked());

    connect(ui->cbSampleRate, qOverload<int>(&QComboBox::currentIndexChanged), menu,
            [menu](int index) { menu->setSampleRate(ZorvaniSR(index)); });
    connect(menu, &DeviceMenuZorvaniDDC::sampleRateChanged, ui->cbSampleRate,
            [this](ZorvaniSR index) { ui->cbSampleRate->setCurrentIndex(int(index)); });

    const struct {
        QCheckBox* box;
        void (DeviceMenuZorvaniDDC::*set)(bool);
        void (DeviceMenuZorvaniDDC::*changed)(bool);
    } pairs[] = {
        {ui->chbLpf, &DeviceMenuZorvaniDDC::setLpf, &DeviceMenuZorvaniDDC::lpfChanged},
        {ui->chbBpf, &DeviceMenuZorvaniDDC::setBpf, &DeviceMenuZorvaniDDC::bpfChanged},
        {ui->chbFePreamp, &DeviceMenuZorvaniDDC::setPreamp, &DeviceMenuZorvaniDDC::preampChanged},
        {ui->chbFeAtt, &DeviceMenuZorvaniDDC::setAtt, &DeviceMenuZorvaniDDC::attChanged},
        {ui->chbPll, &DeviceMenuZorvaniDDC::setExternalReference, &DeviceMenuZorvaniDDC::externalReferenceChanged},
    };
    for (const auto& pair : pairs) {
        connect(pair.box, &QCheckBox::toggled, menu, pair.set);
        connect(menu, pair.changed, pair.box, &QCheckBox::setChecked);
    }

    connect(m_lock, &DiscoverLockMediator::lockChanged, menu, &DeviceMenuZorvaniDDC::setDiscoverLock);
    connect(menu, &DeviceMenuZorvaniDDC::discover, ui->pbSearch, &QPushButton::click);
}

QMenu* ZorvaniOptions::deviceMenu() const
{
    return m_menu.get();
}

DiscoverLockMediator* ZorvaniOptions::discoverLock() const
{
    return m_lock;
}

Receiver ZorvaniOptions::receiverRecord() const
{
    return m_receiver;
}

int ZorvaniOptions::cwPitch() const
{
    return ui->sbCwPitch->value();
}

void ZorvaniOptions::setReceiver(Receiver r)
{
    m_receiver = r;
    ui->leIP->setText(r.address.toString());
    ui->sbPort->setValue(r.port);
    ui->leSerial->setText(QStringLiteral("SN: ") + r.serial);
    if (!ui->leStaticIP->isModified() && !r.address.isNull())
        ui->leStaticIP->setText(r.address.toString());
    m_menuWidget->setSerial(r.serial);
}

void ZorvaniOptions::announceSampleRate()
{
    emit sampleRateChanged(ui->cbSampleRate->currentIndex());
}

void ZorvaniOptions::saveSettings(QSettings& store, OptionsSettings::Set set) const
{
    m_settings->save(store, set, {m_receiver.serial, ui->leIP->text()});
}

void ZorvaniOptions::loadSettings(QSettings& store, OptionsSettings::Set set)
{
    const OptionsSettings::ReceiverText stored = m_settings->load(store, set);
    if (!stored.serial.isEmpty()) {
        m_receiver.serial = stored.serial;
        ui->leSerial->setText(QStringLiteral("SN: ") + stored.serial);
        m_menuWidget->setSerial(stored.serial);
    }
    // Text that is no address would only fail at the next open.
    const QHostAddress address = zorvani::dottedAddress(stored.address);
    if (!address.isNull()) {
        m_receiver.address = address;
        ui->leIP->setText(address.toString());
        if (!ui->leStaticIP->isModified())
            ui->leStaticIP->setText(address.toString());
    }
    if (set == OptionsSettings::Set::Full)
        m_receiver.port = quint16(ui->sbPort->value());
}

void ZorvaniOptions::updateReceiver()
{
    setReceiver(ZorvaniSearcher::instance().current());
}

void ZorvaniOptions::changedModeIP(int index)
{
    const bool readOnly = index == 0;
    ui->leIP->setReadOnly(readOnly);
    ui->sbPort->setReadOnly(readOnly);
}

void ZorvaniOptions::changedSampleRate(int index)
{
    const bool audioPossible = index < 4;
    ui->tbWarning->setVisible(!audioPossible);
    ui->chbDisableAudio->setEnabled(audioPossible);
}

void ZorvaniOptions::onDefaultSsbApf()
{
    ui->sbDspSsbApfSupression->setValue(20);
    ui->sbDspSsbApfFreq->setValue(550);
    ui->sbDspSsbApfQuality->setValue(0.8);
}

bool ZorvaniOptions::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->cbSampleRate && event->type() == QEvent::Wheel) {
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
