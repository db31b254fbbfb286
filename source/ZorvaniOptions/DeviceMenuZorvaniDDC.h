#pragma once

#include "common/ZorvaniSR.h"

#include <QStringView>
#include <QWidget>

#include <memory>

namespace Ui {
class DeviceMenuZorvaniDDC;
}

// The compact device panel the host shows as a drop-down menu. It mirrors the
// most used options controls: every setter stores a changed value, shows it
// and announces it, so that the options and the menu can follow each other.
class DeviceMenuZorvaniDDC : public QWidget {
    Q_OBJECT
public:
    explicit DeviceMenuZorvaniDDC(QWidget* parent = nullptr);
    ~DeviceMenuZorvaniDDC() override;

    QString serial() const { return m_serial; }
    ZorvaniSR sampleRate() const { return m_sampleRate; }
    bool lpf() const { return m_lpf; }
    bool bpf() const { return m_bpf; }
    bool preamp() const { return m_preamp; }
    bool att() const { return m_att; }
    bool externalReference() const { return m_externalReference; }
    bool discoverLock() const { return m_discoverLock; }

signals:
    void serialChanged(QStringView serial);
    void sampleRateChanged(ZorvaniSR index);
    void lpfChanged(bool on);
    void bpfChanged(bool on);
    void preampChanged(bool on);
    void attChanged(bool on);
    void externalReferenceChanged(bool on);
    void discover();
    void dicoverLockChanged(bool locked);

public slots:
    void setSerial(QStringView serial);
    // Index 0..3; anything else is clamped into that range.
    void setSampleRate(ZorvaniSR index);
    void setLpf(bool on);
    void setBpf(bool on);
    void setPreamp(bool on);
    void setAtt(bool on);
    void setExternalReference(bool on);
    // A locked discovery disables the "Discover" button.
    void setDiscoverLock(bool locked);

private:
    std::unique_ptr<Ui::DeviceMenuZorvaniDDC> ui;
    QString m_serial;
    ZorvaniSR m_sampleRate = SR39k;
    bool m_lpf = false;
    bool m_bpf = false;
    bool m_preamp = false;
    bool m_att = false;
    bool m_externalReference = false;
    bool m_discoverLock = false;
};
