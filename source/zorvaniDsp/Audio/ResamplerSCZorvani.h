#pragma once

#include "OstrovixComplex.h"
#include "common/CircularBuffer.h"
#include "zorvaniDsp/Filters/Resampler.h"
#include "common/SleepingWorker.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// Sample-rate converter thread: frames pushed into the input ring come out of
// the output ring at the output rate (stereo frames, re = left, im = right).
// One producer pushes, one consumer drains the output ring; the thread sleeps
// until frames are pushed.
class ResamplerSCZorvani {
public:
    static constexpr uint32_t kRingFrames = 4096;
    // Input frames converted per step.
    static constexpr int kChunkFrames = 512;
    static constexpr int kWorkFrames = 16384;
    // Audio the output ring keeps for its host output (see
    // CircularBuffer::readyToRead): the receivers, the mixer and this thread
    // deliver in bursts of up to 13 ms and may be kept waiting on a busy
    // machine; 50 ms rides that out at the price of 50 ms of latency.
    static constexpr double kReserveSeconds = 0.05;

    // Rates in Hz, > 0.
    explicit ResamplerSCZorvani(double inRate = 39062.5, double outRate = 48000.0);
    ~ResamplerSCZorvani();
    ResamplerSCZorvani(const ResamplerSCZorvani&) = delete;
    ResamplerSCZorvani& operator=(const ResamplerSCZorvani&) = delete;

    // Empties both rings, clears the filter history and re-initialises the
    // converter for the new rates (Hz), with the output's reserve at the new rate. False leaves the converter as it was.
    bool init(double inRate, double outRate);
    double inputRate() const;
    double outputRate() const;

    // start() resets and starts the thread (no effect when running); stop()
    // clears the running flag and joins. Either may be called from any thread
    // (the engine and the audio-server listener both do).
    void start();
    void stop();
    bool isRunning() const { return m_worker.isRunning(); }

    // Empties both rings and clears the filter history.
    void reset();

    // The producer's side: writes all n frames when the input ring has room
    // for them, and wakes the thread; false (nothing written) otherwise.
    bool push(const Ostrovix::complex<double>* frames, uint32_t n);

    // For observation, and for callers that run convertPending() themselves:
    // frames written here directly do not wake the thread.
    CircularBuffer<Ostrovix::complex<double>>& inputRing() { return m_input; }
    CircularBuffer<Ostrovix::complex<double>>& outputRing() { return m_output; }

    // One step of the thread: converts up to kChunkFrames frames of the input
    // ring. Returns the frames taken; 0 when the input ring was empty.
    int convertPending();
    // Converts `count` frames (0..kChunkFrames) and writes the result to the
    // output ring; when the ring lacks room the produced frames are dropped.
    // Returns the frames written to the ring.
    int convert(const Ostrovix::complex<double>* in, int count);

private:

    CircularBuffer<Ostrovix::complex<double>> m_input{kRingFrames};
    CircularBuffer<Ostrovix::complex<double>> m_output{kRingFrames};
    mutable std::mutex m_mutex;
    Resampler m_resampler;
    double m_inRate = 0.0;
    double m_outRate = 0.0;
    std::vector<Ostrovix::complex<double>> m_chunk;
    std::vector<Ostrovix::complex<double>> m_work;
    SleepingWorker m_worker;
};
