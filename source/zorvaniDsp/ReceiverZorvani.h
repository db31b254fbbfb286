#pragma once

#include "OstrovixComplex.h"
#include "zorvaniDsp/AgcQueue.h"
#include "zorvaniDsp/CircularBuffer.h"
#include "zorvaniDsp/ModulationSwitcher.h"
#include "zorvaniDsp/SpinLock.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class SignalAnalyzerAbstract;

// One receiver of the engine: two channels demodulated from the same
// wide-band IQ, on its own thread. The engine writes blocks into the input
// ring and wakes the thread; the thread runs the channel chain on everything
// buffered and writes stereo audio (re = left, im = right) at the working rate
// into the two output rings that the mixer reads.
//
// Every setter takes the parameter spin lock, which the processing of a block
// holds throughout, so a change takes effect between two blocks.
class ReceiverZorvani : public QObject {
    Q_OBJECT
public:
    using ModulationSwitcher = ::ModulationSwitcher;

    static constexpr uint32_t kRingSize = 4096;  // input ring, work buffers, output rings
    static constexpr int kBlock = 200;           // samples per IQ packet

    enum Mode { AM = 0, SAM, DSB, LSB, USB, CW, NFM, DIGL, DIGU, WFM, DRM };

    explicit ReceiverZorvani(quint32 number, QObject* parent = nullptr);
    ~ReceiverZorvani() override;

    quint32 number() const { return m_number; }

    // Thread control. start() resets the receiver first; stop() joins.
    void start();
    void stop();
    bool isRunning() const { return m_running.load(std::memory_order_acquire); }
    // Asks the thread to process what the input ring holds (per-block entry).
    void wake();
    // Processes everything in the input ring now, on the calling thread: the
    // body of one wake-up (tests and benchmarks call it without the thread).
    void processBuffered();
    // Requests a clear of all filter states at the next block and empties the
    // rings. Not for use while the thread runs.
    void reset();

    CircularBuffer<Ostrovix::complex<double>>& inputRing() { return m_input; }
    CircularBuffer<Ostrovix::complex<double>>& outputRing(int channel) { return m_output[channel & 1]; }

    // Decimation factor to the working rate: 1, 2, 4 or 8.
    int decimation() const { return m_decimation.load(std::memory_order_acquire); }
    // Input samples after which the engine wakes the thread.
    uint32_t wakeThreshold() const { return uint32_t(decimation()) * kBlock; }

    // --- parameters (Hz unless stated; channel 0 or 1) ---
    // Device stream rate: 39062.5, 78125, 156250 or 312500 Hz.
    void setInputRate(double hz);
    double inputRate() const;
    // Channel frequency relative to the receiver's centre; down-converter
    // term -hz / input rate limited to [-0.5, 0.5].
    void setIfOffset(int channel, double hz);
    double ifOffset(int channel) const;
    void setRit(int channel, double hz);
    // Passband edges relative to the channel frequency.
    void setFilter(int channel, double lowHz, double highHz);
    // Host mode numbering; starts the fader, the new mode becomes active
    // after the fade-out.
    void setMode(int mode);
    int pendingMode() const;
    int activeMode() const;
    // Band-pass taps (1..16129); both channels are redesigned on a change.
    void setTaps(uint32_t taps);
    uint32_t taps() const;
    void setCwPitch(double hz);
    // DIGL / DIGU passband offsets (defaults -1500 / -2200 Hz).
    void setDigOffsets(double diglHz, double diguHz);
    // Queued for the thread (clamped there); also starts the fader.
    void queueAgc(const AgcSettings& settings);
    // The AGC values last applied by the thread.
    AgcSettings appliedAgc() const;

    void setSignalAnalyzer(SignalAnalyzerAbstract* analyzer) { m_analyzer.store(analyzer, std::memory_order_release); }

    // Last meter readings of a channel (level L in dB and peaks in dB).
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
    using Sample = Ostrovix::complex<double>;

    struct Channel {
        double ifOffset = 0.0;
        double rit = 0.0;
        double filterLow = 0.0;
        double filterHigh = 3000.0;
        double level = -140.0;
        double peakRe = -120.0;
        double peakIm = -120.0;
        std::vector<Sample> buffer;
    };

    void run();
    bool processLocked();
    void clearFilterStates();
    void applyAgcLocked(const AgcSettings& s);
    void applyInputRateLocked();
    void designFiltersLocked(int channel);
    int decimate(int n);

    const quint32 m_number;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_decimation{1};
    std::thread m_thread;
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
    bool m_wakeRequested = false;

    mutable SpinLock m_params;
    double m_inputRate = 39062.5;
    double m_workingRate = 39062.5;
    double m_diglOffset = -1500.0;
    double m_diguOffset = -2200.0;
    double m_cwPitch = 700.0;
    uint32_t m_taps = 1537;
    bool m_resetRequest = false;
    AgcQueue m_agcQueue;
    AgcSettings m_agc;
    ModulationSwitcher m_switcher{LSB};
    bool m_stereo = false;

    std::atomic<SignalAnalyzerAbstract*> m_analyzer{nullptr};

    CircularBuffer<Sample> m_input{kRingSize};
    CircularBuffer<Sample> m_output[2] = {CircularBuffer<Sample>(kRingSize), CircularBuffer<Sample>(kRingSize)};
    Channel m_channels[2];
};
