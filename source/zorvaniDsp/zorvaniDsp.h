#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/AgcPresetTable.h"
#include "common/CircularBuffer.h"
#include "zorvaniDsp/FirTapClasses.h"
#include "zorvaniDsp/Audio/MixerGains.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

class AudioServerNotifyer;
class BridgeAbstract;
class DeviceFunctionsAbstract;
class IqTapAbstract;
class MixerZorvani;
class PanoramaBank;
class PanSpectrumZorvaniDDC;
class ReceiverZorvani;
class ResamplerSCZorvani;
class SignalAnalyzerAbstract;
class ThreadPoolAbstract;
class WidebandStages;

// The receive signal-processing engine: two receivers with two channels each,
// the mixer and the sample-rate converters. The socket thread calls
// processBlock() for every IQ packet; everything else runs on the GUI thread.
// The policies and stages live in their own classes (AGC presets, tap
// classes, mixer gains, panorama workers, wide-band stages); this class
// routes the host's calls to them.
//
// Units: frequencies in Hz, levels in dB, receivers 0..1, channels 0..1.
// Setters with a receiver or channel out of range change nothing.
class zorvaniDsp : public QObject {
    Q_OBJECT
public:
    // One AGC preset of the host's list "Long", "Slow", "Med", "Fast", "User".
    using AgcParam = AgcPresetTable::Preset;
    static constexpr int kAgcPresets = AgcPresetTable::kPresets;
    // Filter classes of the band-pass tap counts.
    enum FirClass {
        FirSsb = FirTapClasses::Ssb,
        FirAm = FirTapClasses::Am,
        FirDig = FirTapClasses::Dig,
        FirCw = FirTapClasses::Cw
    };
    static constexpr uint32_t kRawRingSize = 8192;
    static constexpr int kBlock = 200;

    zorvaniDsp(ThreadPoolAbstract* pool, BridgeAbstract* bridge, std::shared_ptr<DeviceFunctionsAbstract> functions);
    ~zorvaniDsp() override;

    ReceiverZorvani* receiver(int rx) const;

    // Per-block entry, called by the socket thread for every IQ packet: 200
    // samples of receiver `rx` (modified in place). True when 200 stereo frames
    // of mixed audio were written to `audio`; false (and `audio` untouched)
    // when fewer are ready or rx is not 0 or 1.
    bool processBlock(Ostrovix::complex<double>* samples, Ostrovix::complex<double>* audio, quint32 rx);

    // Receiver, audio-server converter and mixer threads.
    void start();
    void stop();
    bool isRunning() const;
    // Flush: receivers, raw rings, converters and mixer emptied.
    void reset();
    // Device stream rate: 39062.5, 78125, 156250 or 312500 Hz.
    void setSampleRate(double hz);
    double sampleRate() const;

    // Band-scope frames assembled by the driver, and the reset of their
    // accumulation when the decimation changes.
    void writeBandScope(const Ostrovix::complex<double>* samples, int count);
    void resetBandScopeAccumulation();
    void setBandScopeActive(bool on);

    // 0 or 1: which Nyquist zone receiver 0 is tuned in (the band scope swaps
    // re and im in zone 1).
    int nyquistZone() const;
    void setNyquistZone(int zone);

    // Audio pull callables for the host's outputs (interleaved floats);
    // silence while a path is closed or short of frames. Always true.
    bool soundCardPull(float* buffer, quint32 length, quint32 channels);
    bool vacPull(int rx, float* buffer, quint32 length, quint32 channels);
    bool lineOutPull(int rx, float* buffer, quint32 length, quint32 channels);
    // Opens receiver rx's VAC path at the VAC's rate (Hz).
    void openVac(int rx, int sampleRate);

    // --- receiver settings from the control surface ---
    // Receiver centre frequency; used to find the band of its notches.
    void setCentreFrequency(int rx, double hz);
    double centreFrequency(int rx) const;
    // Channel frequency relative to the centre.
    void setChannelOffset(int rx, int ch, double hz);
    // Passband edges of both channels of rx, relative to the channel frequency.
    void setFilter(int rx, double lowHz, double highHz);
    // Host mode numbering 0..10; also sets every receiver's tap count from its
    // mode's class and re-applies the AGC presets.
    void setMode(int rx, int mode);
    // Fixed and maximum AGC gain of both channels of rx, dB, -60..120.
    void setRf(int rx, int dB);
    // Host AGC index: 0 off, 1..5 the presets "Long".."User".
    void setAgc(int rx, int index);
    int agcIndex(int rx) const;
    // Preset values (index 0..4); receivers using the preset get them again.
    void setAgcAttack(int preset, double ms);
    void setAgcDecay(int preset, double ms);
    void setAgcHang(int preset, uint32_t ms);
    AgcParam agcPreset(int preset) const;
    // Band-pass taps per class (1..16129); receivers in that class follow.
    void setFirTaps(int firClass, uint32_t taps);
    uint32_t firTaps(int firClass) const;
    // DIGL and DIGU passband offsets of every receiver.
    void setDigOffsets(double diglHz, double diguHz);
    void setCwPitch(int rx, double hz);

    // --- mixer (host volume controls) ---
    void setVolume(int rx, int ch, double dB);
    void setBalance(int rx, int ch, double balance);
    void setRxEnable(int rx, bool on); // channel 0 of rx
    void setChannelEnable(int rx, int ch, bool on);
    void setMainVolume(double dB);
    // ch < 0: master mute.
    void setMute(int rx, int ch, bool on);

    // --- panorama workers ---
    // Cuts the filter slopes off the receivers' panorama lines.
    void setHideSpectrumSlopes(bool hide);
    // Power of two >= 2, else ignored.
    void setFftSize(int n);
    // 0 linear, 1 RMS, 2 exponential (clamped).
    void setAveragingMode(int mode);
    void setAveraging(int count);
    // Frames per second, clamped to 10..40.
    void setSpectrumRate(int fps);
    int spectrumRate() const;

    // --- taps and rings for other parts of the plug-in ---
    void setIqTap(IqTapAbstract* tap);
    void setSignalAnalyzer(SignalAnalyzerAbstract* analyzer);
    // Every incoming block of rx; null for rx above 1.
    CircularBuffer<Ostrovix::complex<double>>* rawIqRing(int rx);
    // Starts or stops the sound-card converter (no change when already so).
    void setSoundCardOutput(bool on);
    // The sound-card converter's output ring (stereo frames at 48000 Hz).
    CircularBuffer<Ostrovix::complex<double>>* soundCardSource();
    // The newest panorama and waterfall lines of receiver rx (false for rx
    // above 1) and of the band scope.
    bool readSpectrum(int rx, std::vector<float>& panorama, std::vector<float>& waterfall);
    void readBandScope(std::vector<float>& panorama, std::vector<float>& waterfall);
    // The panorama workers to inspect: receivers (null for rx above 1) and band scope.
    const PanSpectrumZorvaniDDC* panorama(int rx) const;
    const PanSpectrumZorvaniDDC* bandScope() const;
    // The mixer and the sound-card converter, for tests and benchmarks that
    // step the chain on one thread instead of starting it.
    MixerZorvani& mixer() { return *m_mixer; }
    ResamplerSCZorvani& soundCardConverter() { return *m_soundCard; }

public slots:
    void soundCardOpen();
    void soundCardClose();
    void onRnfEnabled(size_t band, bool state);
    void onRnfParam(size_t band, size_t id, bool enable, double freq, double width);
    void setWaterfallFilter(bool on);

    // Mode stages. Per receiver: rx 0 or 1. Without rx: every receiver.
    void setNb1(quint32 rx, bool on);
    void setNb2(quint32 rx, bool on);
    // Multiples of the running average magnitude (> 0).
    void setNb1Threshold(double threshold);
    void setNb2Threshold(double threshold);
    double nb1Threshold() const;
    double nb2Threshold() const;
    void setAnf(quint32 rx, bool on);
    void setNr(quint32 rx, bool on);
    // Taps 0..1024, delay 0..1023 samples, rate and leak >= 0.
    void setAnfTaps(int taps);
    void setAnfDelay(int delay);
    void setAnfRate(double mu);
    void setAnfLeak(double lambda);
    void setNrTaps(int taps);
    void setNrDelay(int delay);
    void setNrRate(double mu);
    void setNrLeak(double lambda);
    // CW and SSB audio peak filters: on/off per receiver; gain dB, quality,
    // SSB frequency Hz for every receiver.
    void setApf(quint32 rx, bool on);
    void setSsbApf(quint32 rx, bool on);
    void setApfGain(double dB);
    void setApfQuality(double q);
    void setSsbApfGain(double dB);
    void setSsbApfQuality(double q);
    void setSsbApfFreq(double hz);
    // Binaural CW stage.
    void setDse(quint32 rx, bool on);
    void setDseTaps(int taps);
    void setDseSwap(bool on);
    // WFM de-emphasis 75 us (true) or 50 us; stereo decoding per receiver.
    void setWfmUsa(bool on);
    void onWfmUsa(bool on);
    void setWfmStereo(quint32 rx, bool on);
    void setRit(quint32 rx, quint32 ch, double hz);
    // Squelch of both channels of rx (both kinds); level in dB.
    void setSqlEnable(quint32 rx, quint32 ch, bool on);
    void setSqlValue(quint32 rx, quint32 ch, int dB);
    void setEnableCTCSS(quint32 rx, bool on);
    // Tone index 0..41.
    void setToneCTCSS(quint32 rx, int index);
    void setEqualizerEnable(quint32 rx, bool on);
    // Band gains in dB, band 0 first (36 bands).
    void setEqualizerGains(quint32 rx, const QList<int>& dB);
    // Keeps channel ch of rx stereo in the mixer (binaural output).
    void setEnableBin(quint32 rx, quint32 ch, bool on);

    // Forwarders of the receivers' signals.
    void setDbm(quint32 channel, double level);
    void setAdc(quint32 channel, double re, double im);
    void onWfmStereo(bool stereo);

signals:
    void spectrum(quint32 receiver);
    void bandscope();
    void dBmMeter(quint32 receiver, quint32 channel, double level);
    void adcMeter(quint32 receiver, quint32 channel, double re, double im);
    void wfmStereo(quint32 receiver, bool stereo);

private:
    void createObjects(ThreadPoolAbstract* pool);
    int senderReceiver() const;
    void applyAgc(int rx);
    void applyTapsForMode(int rx);
    void applyMixerGains();
    template <typename T>
    void setAgcPresetField(int preset, T AgcParam::*field, T value);
    // Index of rx's band in the catalogue's list (centre + channel 0 offset),
    // -1 when none.
    int bandOf(int rx) const;
    // Calls a receiver setter on every receiver, or on rx only (rx above 1: none).
    template <typename... P, typename... A>
    void forReceivers(void (ReceiverZorvani::*setter)(P...), A&&... args)
    {
        for (auto& receiver : m_receivers)
            (receiver.get()->*setter)(args...);
    }
    template <typename... P, typename... A>
    void forReceiver(quint32 rx, void (ReceiverZorvani::*setter)(P...), A&&... args)
    {
        if (rx < 2)
            (m_receivers[rx].get()->*setter)(std::forward<A>(args)...);
    }

    BridgeAbstract* m_bridge;
    std::shared_ptr<DeviceFunctionsAbstract> m_functions;
    std::shared_ptr<ResamplerSCZorvani> m_soundCard;
    std::shared_ptr<ResamplerSCZorvani> m_audioServerConverter;
    std::shared_ptr<AudioServerNotifyer> m_notifier;
    double m_sampleRate = 39062.5;
    double m_outputRate = 48000.0;
    double m_centre[2] = {1900000.0, 1900000.0};
    std::unique_ptr<CircularBuffer<Ostrovix::complex<double>>> m_rawRings[2];
    std::unique_ptr<ReceiverZorvani> m_receivers[2];
    std::unique_ptr<PanoramaBank> m_panoramas;
    std::unique_ptr<WidebandStages> m_wideband;
    MixerGains m_gains;
    AgcPresetTable m_agc;
    FirTapClasses m_taps;
    std::unique_ptr<MixerZorvani> m_mixer;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_nyquistZone{0};
    std::atomic<IqTapAbstract*> m_iqTap{nullptr};
};
