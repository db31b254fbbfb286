#pragma once

#include "IqWavFile.h"

#include <QString>

#include <atomic>
#include <memory>

namespace zorvani::sim {

// A recording that the emulator streams instead of its scene: both receivers
// get the recorded band as it was, whatever they are tuned to, so a host
// plays it back by tuning to the recording's centre at its rate and moving
// its channels within the band. The transport (pause, loop, seek) is set from
// any thread; the emulator's thread takes one block per IQ packet.
class IqPlayback {
public:
    // Null with *error set when the file is none of the plug-in's recordings.
    // fallbackCentreHz stands for the centre of a layout that carries none.
    static std::shared_ptr<IqPlayback> open(const QString& path, double fallbackCentreHz, QString* error);

    const IqWavInfo& info() const { return m_file.info(); }
    double centreHz() const { return m_centreHz; }
    QString path() const { return m_path; }

    void setPaused(bool paused) { m_paused.store(paused); }
    bool isPaused() const { return m_paused.load(); }
    void setLoop(bool loop) { m_loop.store(loop); }
    bool loops() const { return m_loop.load(); }
    // The next block starts at `seconds`, held within the recording.
    void seek(double seconds);
    double positionSeconds() const;
    // Played to the end without looping: the stream carries zeros.
    bool atEnd() const;

    // Emulator thread: the next n frames; zeros while paused or past the end.
    // A stream at another rate than the recording's is warned about once.
    void next(Ostrovix::complex<double>* out, int n, int streamRateIndex);

private:
    IqPlayback() = default;

    IqWavFile m_file;
    QString m_path;
    double m_centreHz = 0.0;
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_loop{false};
    std::atomic<qint64> m_position{0}; // next frame
    std::atomic<qint64> m_seek{-1};    // pending seek target, frames
    int m_warnedRate = -1;             // emulator thread only
};

} // namespace zorvani::sim
