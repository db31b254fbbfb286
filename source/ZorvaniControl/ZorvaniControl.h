#pragma once

#include "ZorvaniControl/FrontEndControl.h"
#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"
#include "discovery/Receiver.h"
#include "recording/IQFile.h"

#include <QObject>

#include <functional>
#include <memory>

class AmateurRegion;
class DeviceFunctionsAbstract;
class DspPanelZorvani;
class ExtCtrlZorvani;
class InitFpga;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;
class ZorvaniDialog;
class ZorvaniDriver;
class ZorvaniFirmware;
class ZorvaniOptions;
class zorvaniDsp;

// The controller behind the options page: it finds the page's controls by
// name once, turns every user action into a driver or engine call, runs the
// receiver's start sequence and the network and maintenance actions, and
// offers the plug-in object the verbs its host setters need. GUI thread only;
// driver calls queue commands for the driver's thread.
class ZorvaniControl : public QObject {
    Q_OBJECT
public:
    // Discovery and control port used when the options do not say otherwise.
    static constexpr quint16 kDefaultPort = 50001;

    // `options` holds every control named below and outlives the controller.
    ZorvaniControl(ZorvaniOptions* options, std::shared_ptr<DeviceFunctionsAbstract> functions,
                   std::shared_ptr<zorvaniDsp> dsp, IqFileSlots* iqFiles, ZorvaniDialog* dialog);
    ~ZorvaniControl() override;

    // The link itself, for tests that look at its state.
    ZorvaniDriver* driver() const { return m_driver.get(); }
    // The firmware writer, for tests that shorten its waits or give it an image.
    ZorvaniFirmware* firmwareWriter() const { return m_firmware.get(); }
    // True while a firmware update runs: the link is the update's alone, and
    // open(), close() and startSequence() refuse.
    bool firmwareUpdating() const;

    // --- the receiver and the link ---
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
    // Stops the stream, joins the threads, closes the link.
    void close();
    bool isOpen() const;
    bool isStreaming() const;
    // Ends the stream; the link stays open.
    void stopStream();
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

    // The receiver's start sequence: information and firmware check,
    // calibration, level correction, front end, Start, then the external
    // outputs, the front-end word (50 ms later) and the band scope (100 ms).
    // True when the stream runs. Every false return has emitted forceStop(),
    // except when the link was not open, so nothing stays half started.
    bool startSequence();

    // --- what the host's setters ask of the receiver ---
    // Frequency (Hz) of receiver rx (0 or 1); receiver 0 also decides the
    // band of the external outputs and of the front end.
    void tune(int rx, double hz);
    // Receiver 0's channel-0 offset (Hz), which moves that band decision.
    void setBandOffset(double hz);
    // HF preamplifier state (0 is the "-20dB" setting); false when unchanged.
    bool setPreamp(int index);
    int preampIndex() const { return m_preamp; }
    // Receivers (1 or 2) in the next start block.
    void setReceiverCount(int count);
    // The host's band-scope switch, centre (Hz) and decimation.
    void setBandScope(bool on, quint64 centreHz, uint decimation);
    bool bandScopeOn() const { return m_bandScopeOn; }
    // Emits currentSampleRate and sDigOffset with the options' values.
    void announceSettings();

    // dB: the front end's correction plus the root calibration of the selected
    // preamplifier setting ("Preamp 0dB" when on, "Preamp -20dB" when off).
    double levelCorrection() const;
    const AmateurRegion& bandPlan() const { return *m_region; }

public slots:
    // Level correction to the driver (IQ gain and band-scope scale).
    void onPreampCoeff(double);
    void onSetBs();
    // The options' receiver record becomes the controller's.
    void updateReceiver();
    void setIpAddress();
    void changedLpf(bool on);
    // Index 0..3 only: rate to the driver, the engine and the IQ files; a
    // running stream is stopped and started again at the new rate.
    void changedSampleRate(int index);
    // External reference; a running stream is stopped and started again.
    void changedPll(bool on);
    void onBpf(bool on);
    void onFrontEnd(ushort word);
    void changedExtCtrl(uint value);
    void changedDisableAudio(bool on);
    void writeNetworkMode();
    void resetZorvani();
    // Calibration actions of the "Expert" and "Admin" pages.
    void readUserCoeff();
    void writeUserCoeff();
    void defaultUserCoeff();
    void readAdminCoeff();
    void writeAdminCoeff();
    void defaultAdminCoeff();
    void writeAdminCoeffToFile();
    void readAdminCoeffFromFile();
    void rootPreampChanged(double);
    // "Firmware update": ends a running stream, then the firmware writer.
    void firmware();
    // The firmware writer 200 ms from now.
    void firmware2();
    void writeFirmware();
    void updateFpga();

signals:
    void currentSampleRate(double hz);
    void sDigOffset(int digl, int digu);
    void forceStop();
    // IQ packets given up since the link was made (gaps the receiver never filled).
    void iqPacketsGivenUp(quint64 total);
    void beginFind();
    void receiver(Receiver rx);
    // The firmware update's state (0 ... 14) and percent written, on the GUI thread.
    void firmwareState(int state);
    void firmwareProgress(int percent);

private:
    // The options' controls the controller reads and follows.
    struct Controls {
        QComboBox* modeIp = nullptr;
        QLineEdit* address = nullptr;
        QSpinBox* port = nullptr;
        QComboBox* sampleRate = nullptr;
        QCheckBox* lpf = nullptr;
        QCheckBox* bpf = nullptr;
        QCheckBox* att = nullptr;
        QCheckBox* preamp = nullptr;
        QCheckBox* disableAudio = nullptr;
        QCheckBox* pll = nullptr;
        QLineEdit* staticAddress = nullptr;
        QSpinBox* newPort = nullptr;
        QComboBox* networkMode = nullptr;
        QDoubleSpinBox* preampM0 = nullptr;
        QDoubleSpinBox* preampM20 = nullptr;
        QDoubleSpinBox* rootFrequency = nullptr;
        QDoubleSpinBox* userFrequency = nullptr;
    };
    // The driver, wired to the engine, to the FPGA progress window and to this controller's signals.
    void makeLink(const IqFileSlots* iqFiles);
    void findControls();
    void connectControls();
    void connectButtons();

    // Start sequence steps; false when the start was abandoned.
    bool acceptFirmware(const SDR2_HDR& info);
    void warnAboutReference(const SDR2_HDR& info);
    void readStoredCalibration();
    bool startStream();
    void applySampleRate(int index);
    void updateBands();

    // The link for one action: opened now unless it was open ("Failed to open
    // ... port!" titled `title` when that fails); *opened says whether to
    // close it after.
    bool openForAction(bool* opened, const QString& title = QStringLiteral("Error"));
    void closeAfterAction(bool opened);
    // Calibration actions: as openForAction, looking the receiver up first
    // when no serial is known, the box titled with the application's name.
    bool openForCalibration(bool* opened);
    // Writes the block from the controls; false (after its box) on failure.
    // A stream that was running is started again, reading both blocks anew.
    bool writeRootBlock();
    bool writeUserBlock();
    bool writeBlock(const std::function<bool(bool* accepted)>& write);
    // The receiver's serial for a file name, or empty when it cannot be read.
    QString serialForFileName();
    // Resets the receiver; a stream that was running ends with forceStop().
    void resetReceiver();

    ZorvaniOptions* m_options;
    std::shared_ptr<DeviceFunctionsAbstract> m_functions;
    std::shared_ptr<zorvaniDsp> m_dsp;
    IqFileSlots* m_iqFiles;
    ZorvaniDialog* m_dialog;
    std::unique_ptr<ZorvaniDriver> m_driver;
    std::unique_ptr<InitFpga> m_initFpga; // shown while the FPGA image loads
    Controls m_controls;
    Receiver m_receiver;
    FrontEndControl m_frontEnd;
    std::unique_ptr<AmateurRegion> m_region;
    std::unique_ptr<ExtCtrlZorvani> m_extCtrl;
    std::unique_ptr<DspPanelZorvani> m_dspPanel;
    std::unique_ptr<ZorvaniFirmware> m_firmware;
    QString m_calibrationDir; // last folder of a calibration file
    int m_preamp = 1;
    bool m_lpf = true;
    double m_frequency = 0.0;     // receiver 0's centre frequency, Hz
    double m_bandOffset = 0.0;    // receiver 0's channel-0 offset, Hz
    bool m_bandScopeOn = false;
    quint64 m_bandScopeCentre = 0;
    uint m_bandScopeDecimation = 0;
};
