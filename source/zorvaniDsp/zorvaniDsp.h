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
