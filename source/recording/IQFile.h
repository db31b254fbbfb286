#pragma once

#include "recording/safe_ptr.h"

#include <QString>
#include <QThread>

#include <mutex>
#include <vector>

namespace ox::file {

// Records the raw IQ of one receiver into a RIFF/WAVE file on its own thread.
class IQFile : public QThread {
public:
    enum Format { Format0 = 0, Format1 = 1, Format2 = 2 };

    IQFile();
    ~IQFile() override;

    bool open(const QString& path);
    void stop();
    bool isRecording() const;

    // Hands over one IQ packet payload (1200 bytes); dropped when the ring is full.
    void writePacket(const unsigned char* payload);

    void setFormat(Format format);
    void setFrequency(double hz);
    void setSampleRate(double hz);

protected:
    void run() override;
};

} // namespace ox::file

using IqFileSlot = ox::memory::safe_ptr<ox::file::IQFile, std::recursive_mutex>;
using IqFileSlots = std::vector<IqFileSlot>;
