#pragma once

#include <QIODevice>

#include <functional>
#include <vector>

// What the sound card reads in Qt Multimedia's pull mode: blocks of whole
// stereo frames pulled from the plug-in's output, never more than the output
// holds (so nothing is padded with zeros), as 32-bit floats or 16-bit integers.
class CardFeed : public QIODevice {
public:
    // Fills `frames` interleaved stereo frames; false when there is no source.
    using Pull = std::function<bool(float* interleaved, quint32 frames)>;
    // Frames waiting at the source; empty: as many as asked for.
    using Available = std::function<quint32()>;

    static constexpr quint32 kMaxBlockFrames = 4800; // 100 ms at 48000 Hz

    CardFeed(Pull pull, Available available, bool floatSamples);
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    Pull m_pull;
    Available m_available;
    bool m_float;
    std::vector<float> m_block;
};
