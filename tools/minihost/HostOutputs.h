#pragma once

#include "OutputAbstract.h"
#include "WavWriter.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Level of what an output pulled since it was opened, per channel.
struct OutputLevel {
    std::uint64_t frames = 0;
    double rmsDbfs[2] = {-200.0, -200.0}; // -200 for silence
    double peak[2] = {0.0, 0.0};          // largest magnitude, full scale 1.0
};

// A host audio output that, while open, pulls audio through the installed
// source on its own thread at its sample rate (10 ms blocks, paced against the
// clock so the long-run rate is exact) and writes it to a WAV file or drops it.
class PullEngine {
public:
    PullEngine(OutputAbstract& owner, int sampleRate);
    ~PullEngine();

    void setSource(AudioSource source);
    // Starts pulling and emits opened(); a path writes the audio there. False
    // (nothing started) when that file cannot be created.
    bool open(const QString& wavPath = {});
    // Stops pulling, closes the file and emits closed().
    void close();
    // Why the WAV file ended early (disk full, device gone), once closed;
    // empty when it holds everything pulled.
    QString wavError() const { return m_wav.error(); }
    bool isOpen() const { return m_running; }
    int sampleRate() const { return m_sampleRate; }
    std::uint64_t framesPulled() const { return m_frames; }
    OutputLevel level() const;
    // Pulls one block now, outside the thread (for tests).
    std::vector<float> pullOnce(quint32 frames);

private:
    static constexpr int kLatencyBlocks = 4; // of 10 ms

    void run();
    void measure(const float* interleaved, quint32 frames);

    OutputAbstract& m_owner;
    int m_sampleRate;
    std::mutex m_sourceMutex;
    AudioSource m_source;
    std::atomic<bool> m_running{false};
    std::atomic<std::uint64_t> m_frames{0};
    std::thread m_thread;
    WavWriter m_wav;
    mutable std::mutex m_levelMutex;
    double m_sumSquares[2] = {0.0, 0.0};
    double m_peak[2] = {0.0, 0.0};
    std::uint64_t m_levelFrames = 0;
};

class HostSoundOut : public SoundOutAbstract {
    Q_OBJECT
public:
    HostSoundOut() : m_engine(*this, 48000) {}
    void setAudioSource(AudioSource source) override { m_engine.setSource(std::move(source)); }
    PullEngine& engine() { return m_engine; }

private:
    PullEngine m_engine;
};

class HostVac : public VacAbstract {
    Q_OBJECT
public:
    explicit HostVac(int rate = 48000) : m_engine(*this, rate) {}
    void setAudioSource(AudioSource source) override { m_engine.setSource(std::move(source)); }
    int sampleRate() const override { return m_engine.sampleRate(); }
    PullEngine& engine() { return m_engine; }

private:
    PullEngine m_engine;
};

class HostLineOut : public LineOutAbstract {
    Q_OBJECT
public:
    HostLineOut() : m_engine(*this, 48000) {}
    void setAudioSource(AudioSource source) override { m_engine.setSource(std::move(source)); }
    PullEngine& engine() { return m_engine; }

private:
    PullEngine m_engine;
};

template <typename Output, typename Impl>
class HostOutputCollection : public OutputCollectionAbstract<Output> {
public:
    void setOutputCount(int count) override
    {
        while (int(m_outputs.size()) < count)
            m_outputs.push_back(std::make_shared<Impl>());
        if (count >= 0 && int(m_outputs.size()) > count)
            m_outputs.resize(std::size_t(count));
    }
    std::shared_ptr<Output> outputAt(int index) const override
    {
        return (index >= 0 && index < int(m_outputs.size())) ? m_outputs[std::size_t(index)] : nullptr;
    }
    Impl* at(int index) const { return static_cast<Impl*>(outputAt(index).get()); }
    int count() const { return int(m_outputs.size()); }

private:
    std::vector<std::shared_ptr<Output>> m_outputs;
};
