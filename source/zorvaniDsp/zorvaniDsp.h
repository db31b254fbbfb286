#pragma once

#include "OstrovixComplex.h"

#include <QObject>

#include <cstddef>
#include <memory>

class BridgeAbstract;
class DeviceFunctionsAbstract;
class ThreadPoolAbstract;
class ReceiverZorvani;

// The receive signal-processing engine: two receivers with two channels each,
// the mixer and the sample-rate converters.
class zorvaniDsp : public QObject {
    Q_OBJECT
public:
    zorvaniDsp(ThreadPoolAbstract* pool, BridgeAbstract* bridge, std::shared_ptr<DeviceFunctionsAbstract> functions);
    ~zorvaniDsp() override;

    ReceiverZorvani* receiver(int rx) const;

    // Per-block entry, called by the socket thread for every IQ packet: 200
    // samples of receiver `rx` (modified in place). True when 200 stereo frames
    // of mixed audio were written to `audio`.
    bool processBlock(Ostrovix::complex<double>* samples, Ostrovix::complex<double>* audio, quint32 rx);

    // Receiver, converter and mixer threads.
    void start();
    void stop();
    bool isRunning() const;

    // Band-scope frames assembled by the driver, and the reset of their
    // accumulation when the decimation changes.
    void writeBandScope(const Ostrovix::complex<double>* samples, int count);
    void resetBandScopeAccumulation();

    // 0 or 1: which Nyquist zone receiver 0 is tuned in (the band scope swaps
    // re and im in zone 1).
    int nyquistZone() const;
    void setNyquistZone(int zone);

    // Audio pull callables for the host's outputs (interleaved floats).
    bool soundCardPull(float* buffer, quint32 length, quint32 channels);
    bool vacPull(int rx, float* buffer, quint32 length, quint32 channels);
    bool lineOutPull(int rx, float* buffer, quint32 length, quint32 channels);
    // Opens receiver rx's VAC path at the VAC's rate.
    void openVac(int rx, int sampleRate);

    void setCwPitch(int rx, double hz);
    // Cuts the filter slopes off the receivers' panorama lines.
    void setHideSpectrumSlopes(bool hide);

public slots:
    void soundCardOpen();
    void soundCardClose();
    void onRnfEnabled(size_t band, bool state);
    void onRnfParam(size_t band, size_t id, bool enable, double freq, double width);
    void setWaterfallFilter(bool on);
    void setApf(quint32 rx, bool on);
    void setDse(quint32 rx, bool on);

signals:
    void spectrum(quint32 receiver);
    void bandscope();
    void dBmMeter(quint32 receiver, quint32 channel, double level);
    void adcMeter(quint32 receiver, quint32 channel, double re, double im);
    void wfmStereo(quint32 receiver, bool stereo);

private:
    std::unique_ptr<ReceiverZorvani> m_receivers[2];
};
