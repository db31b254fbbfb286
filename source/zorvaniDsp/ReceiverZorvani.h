#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/AgcQueue.h"
#include "common/CircularBuffer.h"
#include "zorvaniDsp/Demodulators/DemodAMZorvani.h"
#include "zorvaniDsp/Demodulators/FmDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SamDemodZorvani.h"
#include "zorvaniDsp/Demodulators/SquelchZorvani.h"
#include "zorvaniDsp/Demodulators/WfmReceiverZorvani.h"
#include "zorvaniDsp/EqualizerZorvani.h"
#include "zorvaniDsp/Filters/AgcZorvani.h"
#include "zorvaniDsp/Filters/BiQuadFilter.h"
#include "zorvaniDsp/Filters/DownConverterZorvani.h"
#include "zorvaniDsp/Filters/DecimatorZorvani.h"
#include "zorvaniDsp/Filters/LmsFilterZorvani.h"
#include "zorvaniDsp/Filters/SurrounfCW.h"
#include "zorvaniDsp/Meter/MeterZorvani.h"
#include "zorvaniDsp/Audio/MixerSource.h"
#include "zorvaniDsp/ModulationSwitcher.h"
#include "common/SpinLock.h"
#include "common/SleepingWorker.h"
#include "zorvaniDsp/zorvaniFFT/FastFirZorvani.h"

#include <QList>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class ResamplerSCZorvani;
class SignalAnalyzerAbstract;

// One receiver of the engine: two channels demodulated from the same
// wide-band IQ, on its own thread. The engine writes blocks into the input
// ring and wakes the thread; the thread runs the channel chain on everything
// buffered and writes stereo audio (re = left, im = right) at the working rate
// into the two output rings that the mixer reads.
//
// Every setter takes the parameter spin lock, which the processing of a block
// holds throughout, so a change takes effect between two blocks. Frequencies
// are in Hz, levels in dB, channels 0 or 1 (others change nothing).
class ReceiverZorvani : public QObject, public MixerSource {
    Q_OBJECT
public:
    using ModulationSwitcher = ::ModulationSwitcher;
    using Sample = Ostrovix::complex<double>;

    static constexpr uint32_t kRingSize = 4096; // work buffers, output rings, samples per pass
    // Input waiting for the thread, samples at the working rate (210 ms): room
    // for a burst (a link that held packets behind a gap hands them over at
    // once when it closes), while a thread that cannot keep up drops blocks
    // rather than fall behind. At the input rate it is this times the decimation.
    static constexpr uint32_t kBacklog = 8192;
    static constexpr double kBacklogSeconds = kBacklog / 39062.5;
    static constexpr uint32_t kInputRingSize = kBacklog * 8;
    static constexpr int kBlock = 200;          // samples per IQ packet
    static constexpr double kWorkingRate = 39062.5;
    static constexpr double kDrmShift = 5200.0;
    // Working-rate samples a disabled channel is still processed for: the
    // mixer's fade (0.98 per sample) reaches silence within about 1030.
    static constexpr int kFadeTail = 2048;

    enum Mode { AM = 0, SAM, DSB, LSB, USB, CW, NFM, DIGL, DIGU, WFM, DRM };
    enum class Lms { NoiseReduction, AutoNotch };

    explicit ReceiverZorvani(quint32 number, QObject* parent = nullptr);
    ~ReceiverZorvani() override;

    quint32 number() const { return m_number; }

    // Thread control. start() resets the receiver first; stop() joins.
    void start();
    void stop();
    bool isRunning() const { return m_worker.isRunning(); }
    // Asks the thread to process what the input ring holds (per-block entry).
    void wake();
    // Processes what the input ring holds, kRingSize samples at most, now, on
    // the calling thread: the body of one wake-up (tests and benchmarks call
    // it without the thread).
    void processBuffered();
    // Empties the rings and clears all filter states at the next block.
    void reset();

    CircularBuffer<Sample>& inputRing() { return m_input; }

    // MixerSource
    CircularBuffer<Sample>& outputRing(int channel) override { return m_output[channel & 1]; }
    int activeMode() const override { return m_activeMode.load(std::memory_order_acquire); }
    bool binauralCw() const override { return m_binauralOn.load(std::memory_order_acquire); }

    // Decimation factor to the working rate: 1, 2, 4 or 8.
    int decimation() const { return m_decimation.load(std::memory_order_acquire); }
    // Input samples after which the engine wakes the thread.
    uint32_t wakeThreshold() const { return uint32_t(decimation()) * kBlock; }
    // Input samples that may wait for the thread (kBacklog at the input rate).
    uint32_t inputLimit() const { return uint32_t(decimation()) * kBacklog; }

    // --- tuning and filter ---
    // Device stream rate: 39062.5, 78125, 156250 or 312500 Hz; other rates
    // change nothing.
    void setInputRate(double hz);
    double inputRate() const;
    // Channel frequency relative to the receiver's centre; down-converter
    // term -hz / input rate limited to [-0.5, 0.5].
    void setIfOffset(int channel, double hz);
    double ifOffset(int channel) const;
    void setRit(int channel, double hz);
    // A disabled channel costs nothing: it is processed for kFadeTail more
    // samples, while the mixer fades it out, then gives silence; it starts
    // clean when enabled again. Channel 0 keeps running while the VAC or
    // line-out path or the signal analyzer takes it. Both start enabled.
    void setChannelEnabled(int channel, bool on);
    // Passband edges relative to the channel frequency: band-pass at the
    // working rate, WFM filter at the input rate, detector low-passes and the
    // CW peak filter follow.
    void setFilter(int channel, double lowHz, double highHz);
    // Host mode numbering 0..10; starts the fader, the new mode becomes
    // active after the fade-out. False when the mode is already pending.
    bool setMode(int mode);
    int pendingMode() const;
    // Band-pass taps, 1..FastFirZorvani::kMaxTaps; both channels follow.
    void setTaps(uint32_t taps);
    uint32_t taps() const;
    // Group delay of the decimator and the band-pass at the current settings,
    // seconds: what any signal takes to pass them, whatever the threads do.
    double filterDelaySeconds() const;
    void setCwPitch(double hz);
    // DIGL / DIGU passband offsets (defaults -1500 / -2200 Hz).
    void setDigOffsets(double diglHz, double diguHz);

    // --- AGC ---
    // Queued for the thread (clamped there); also starts the fader.
    void queueAgc(const AgcSettings& settings);
    // The AGC values last applied by the thread.
    AgcSettings appliedAgc() const;
    // Fixed and maximum AGC gain of both channels, dB (limited to -60..120).
    void setRfGain(int dB);

    // --- mode stages, both channels ---
    void setLmsEnabled(Lms which, bool on);
    void setLmsTaps(Lms which, int taps);
    void setLmsDelay(Lms which, int delay);
    void setLmsRate(Lms which, double mu);
    void setLmsLeak(Lms which, double lambda);
    void setCwApfEnabled(bool on);
    void setCwApfGain(double dB);
    void setCwApfQuality(double q);
    void setSsbApfEnabled(bool on);
    void setSsbApfGain(double dB);
    void setSsbApfQuality(double q);
    void setSsbApfFrequency(double hz);
    void setBinauralEnabled(bool on);
    void setBinauralTaps(int taps);
    void setBinauralSwap(bool on);
    void setSquelchEnabled(bool on);
    void setSquelchLevel(double dB);
    void setCtcssEnabled(bool on);
    // CTCSS tone index 0..41.
    void setCtcssTone(int index);
    void setEqualizerEnabled(bool on);
    void setEqualizerGains(const QList<int>& dB);
    void setWfmStereo(bool on);
    // 75 us de-emphasis when true, 50 us when false.
    void setWfmUsa(bool on);

    // The mode-stage settings in force (both channels always agree).
    struct LmsSettings {
        int taps = 0;
        int delay = 0;
        double rate = 0.0;
        double leak = 0.0;
    };
    struct StageSettings {
        LmsSettings nr, anf;
        double cwApfGain = 0.0, cwApfQuality = 0.0;
        double ssbApfGain = 0.0, ssbApfQuality = 0.0, ssbApfFrequency = 0.0;
        int binauralTaps = 0;
        bool binauralSwap = false;
        bool wfmUsa = false;
        double diglOffset = 0.0, diguOffset = 0.0;
    };
    StageSettings stageSettings() const;

    void setSignalAnalyzer(SignalAnalyzerAbstract* analyzer) { m_analyzer.store(analyzer, std::memory_order_release); }

    // --- VAC and line-out paths (channel 0 audio at 48000 Hz or the VAC's rate) ---
    // Retunes the VAC converter to `sampleRate` Hz and opens the path unless open.
    void openVac(int sampleRate);
    bool vacOpen() const { return m_vacOpen.load(std::memory_order_acquire); }
    bool lineOutOpen() const { return m_lineOutOpen.load(std::memory_order_acquire); }
    ResamplerSCZorvani& vacConverter() { return *m_vac; }
    ResamplerSCZorvani& lineOutConverter() { return *m_lineOut; }
    bool pullVac(float* buffer, quint32 length, quint32 channels);
    bool pullLineOut(float* buffer, quint32 length, quint32 channels);

    // Last meter level L of a channel, dB.
    double meterLevel(int channel) const;
    // Fader state, for observation.
    ModulationSwitcher::State faderState() const;
    double faderGain(int channel) const;

public slots:
    void vacClose();
    void lineoutOpen();
    void lineoutClose();

signals:
    void dBmMeter(quint32 channel, double level);
    void adcMeter(quint32 channel, double re, double im);
    void wfmStereo(bool stereo);

private:
    struct Channel {
        Channel();
        double ifOffset = 0.0;
        double rit = 0.0;
        double filterLow = 0.0;
        double filterHigh = 3000.0;
        bool enabled = true;
        bool resumed = false; // enabled again after its tail ran out
        int fadeTail = 0;     // samples still processed after disabling
        DownConverterZorvani ifShift{int(kRingSize)};
        DownConverterZorvani cwShift{int(kRingSize)};
        DownConverterZorvani diglShift{int(kRingSize)};
        DownConverterZorvani diguShift{int(kRingSize)};
        DownConverterZorvani drmShift{int(kRingSize)};
        DecimatorZorvani decimator;
        FastFirZorvani bandPass;
        FastFirZorvani wideFilter;
        MeterZorvani meter;
        DemodAMZorvani am;
        SamDemodZorvani sam;
        FmDemodZorvani fm;
        BiQuadFilter ssbApf;
        BiQuadFilter cwApf;
        SurrounfCW binaural;
        LmsFilterZorvani nr{LmsFilterZorvani::Kind::NoiseReduction};
        LmsFilterZorvani anf{LmsFilterZorvani::Kind::AutoNotch};
        EqualizerZorvani equalizer;
        AgcZorvani agc;
        CarrierSquelch squelch;
        FmSquelch fmSquelch;
        std::vector<Sample> buffer;
    };

    bool processLocked();
    bool channelActiveLocked(int ch) const;
    // One channel's chain after the input shifts: n input-rate samples in,
    // the working-rate samples out.
    int processChannel(Channel& c, int mode, int n);
    void demodulate(Channel& c, int mode, int n);
    void levelControl(Channel& c, int mode, int n);
    int demodulateWfm(int n, const bool active[2]);
    void sendToConverters(int n);
    void clearFilterStates();
    void clearChannel(Channel& c);
    void applyAgcLocked(const AgcSettings& s);
    void designInputRateLocked();
    void designChannelLocked(Channel& c);
    void designCwApfLocked(Channel& c);
    void designCwLocked();
    void designSsbApfLocked();
    void designWfmLocked();
    LmsFilterZorvani& lms(Channel& c, Lms which) { return which == Lms::NoiseReduction ? c.nr : c.anf; }
    // Runs f(channel) on both channels under the parameter lock.
    template <typename F>
    void forChannels(F&& f)
    {
        std::lock_guard<SpinLock> guard(m_params);
        for (Channel& c : m_channels)
            f(c);
    }

    const quint32 m_number;
    std::atomic<int> m_decimation{1};
    std::atomic<int> m_activeMode{LSB};
    std::atomic<bool> m_binauralOn{false};
    SleepingWorker m_worker;

    mutable SpinLock m_params;
    double m_inputRate = kWorkingRate;
    double m_diglOffset = -1500.0;
    double m_diguOffset = -2200.0;
    double m_cwPitch = 700.0;
    double m_cwApfQuality = 5.0;
    double m_cwApfGain = 30.0;
    double m_ssbApfFrequency = 500.0;
    double m_ssbApfQuality = 1.0;
    double m_ssbApfGain = 20.0;
    uint32_t m_taps = 1537;
    bool m_resetRequest = false;
    bool m_wfmStereoOn = false;
    bool m_wfmUsa = false;
    bool m_stereo = false;
    AgcQueue m_agcQueue;
    AgcSettings m_agc;
    ModulationSwitcher m_switcher{LSB};
    std::unique_ptr<WfmReceiverZorvani> m_wfm;
    std::vector<Ostrovix::complex<float>> m_wfmInput;
    std::vector<Sample> m_wfmOutput;

    std::atomic<SignalAnalyzerAbstract*> m_analyzer{nullptr};

    CircularBuffer<Sample> m_input{kInputRingSize};
    CircularBuffer<Sample> m_output[2] = {CircularBuffer<Sample>(kRingSize), CircularBuffer<Sample>(kRingSize)};
    Channel m_channels[2];

    std::unique_ptr<ResamplerSCZorvani> m_vac;
    std::unique_ptr<ResamplerSCZorvani> m_lineOut;
    std::atomic<bool> m_vacOpen{false};
    std::atomic<bool> m_lineOutOpen{false};
};
