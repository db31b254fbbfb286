#pragma once

#include "ZorvaniControl/FrontEndControl.h"
#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"
#include "discovery/Receiver.h"
#include "recording/IQFile.h"

#include <QObject>

#include <memory>

class AmateurRegion;
class DeviceFunctionsAbstract;
class ExtCtrlZorvani;
class ZorvaniDialog;
class ZorvaniDriver;
class ZorvaniOptions;
class zorvaniDsp;

// The controller behind the options page: turns user actions into driver and
// DSP calls and runs the receiver's start sequence.
class ZorvaniControl : public QObject {
    Q_OBJECT
public:
    // Discovery and control port used when the options do not say otherwise.
    static constexpr quint16 kDefaultPort = 50001;

    ZorvaniControl(ZorvaniOptions* options, std::shared_ptr<DeviceFunctionsAbstract> functions,
                   std::shared_ptr<zorvaniDsp> dsp, IqFileSlots* iqFiles, ZorvaniDialog* dialog);
    ~ZorvaniControl() override;

    ZorvaniDriver* driver() const { return m_driver.get(); }

    // The receiver the link talks to.
    Receiver receiverRecord() const { return m_receiver; }
    void setReceiverRecord(const Receiver& r) { m_receiver = r; }

    // The port of the options' "sbPort" (discovery and control port).
    quint16 port() const;
    // Options' address mode: true for "Static IP".
    bool staticAddressMode() const;
    // The record typed in the options in "Static IP" mode: address and port.
    Receiver typedReceiver() const;

    // Opens the link to the stored receiver record.
    bool open();
    // Looks the stored receiver up with the driver's broadcast search; on
    // success stores the found record and announces it through receiver().
    bool searchCurrent();
    // Reads the information record; on success the stored record takes the
    // serial it reports.
    bool readInformation(SDR2_HDR* info);
    // Probes the typed address: open, one request, close. True when answered.
    // The stored record becomes the typed one; the information probe also
    // takes the serial the receiver reports.
    bool probeBootloader();
    bool probeInformation();

    // The receiver's start sequence; today it sends the level correction,
    // preamplifier and front end and starts the stream at the options' rate.
    bool startSequence();

    FrontEndControl& frontEnd() { return m_frontEnd; }
    ExtCtrlZorvani& extCtrl() { return *m_extCtrl; }
    const AmateurRegion& bandPlan() const { return *m_region; }

    // HF preamplifier state as sent with the driver's setPreamp: 0 is the
    // "-20dB" setting, anything else "0dB".
    int preampIndex() const { return m_preamp; }
    void setPreampIndex(int index);
    // dB: the front end's correction plus the root calibration of the selected
    // preamplifier setting ("Preamp 0dB" when on, "Preamp -20dB" when off).
    double levelCorrection() const;

    // The host's band-scope switch, centre (Hz) and decimation.
    void setBandScope(bool on, quint64 centreHz, uint decimation);
    bool bandScopeOn() const { return m_bandScopeOn; }

public slots:
    // Level correction to the driver (IQ gain and band-scope scale).
    void onPreampCoeff(double);
    void onSetBs();
    void changedSampleRate(int index);
    void onBpf(bool on);
    void onFrontEnd(ushort word);
    void changedExtCtrl(uint value);
    void rootPreampChanged(double);

signals:
    void currentSampleRate(double hz);
    void sDigOffset(int digl, int digu);
    void forceStop();
    void beginFind();
    void receiver(Receiver rx);

private:
    // Rate index 0..3 to the driver, the engine and the IQ files.
    void applySampleRate(int index);
    template <typename Probe>
    bool probe(Probe request);

    ZorvaniOptions* m_options;
    std::shared_ptr<DeviceFunctionsAbstract> m_functions;
    std::shared_ptr<zorvaniDsp> m_dsp;
    IqFileSlots* m_iqFiles;
    ZorvaniDialog* m_dialog;
    std::unique_ptr<ZorvaniDriver> m_driver;
    Receiver m_receiver;
    FrontEndControl m_frontEnd;
    std::unique_ptr<AmateurRegion> m_region;
    std::unique_ptr<ExtCtrlZorvani> m_extCtrl;
    int m_preamp = 1;
    bool m_bandScopeOn = false;
    quint64 m_bandScopeCentre = 0;
    uint m_bandScopeDecimation = 0;
};
