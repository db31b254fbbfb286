#pragma once

#include "OstrovixComplex.h"

#include <QFile>
#include <QString>

// Reads an IQ recording the plug-in wrote, in any of its three layouts:
//   0: "vmsd" chunk (rate and centre as doubles), device values unchanged;
//   1: plain 44-byte header (no centre), values x 100;
//   2: "auxi" chunk (centre as an integer), values x 10^1.5.
// Samples are two signed 24-bit little-endian values per frame. The file is
// mapped, so reading any stretch of it costs a copy and nothing else.
namespace zorvani::sim {

struct IqWavInfo {
    int format = 0;
    double rateHz = 0.0;   // the device rate the header stands for (39062 means 39062.5)
    int rateIndex = 0;     // 0..3
    bool hasCentre = false;
    double centreHz = 0.0; // the receiver's tuning while recording; 0 without one
    qint64 frames = 0;
    double gain = 1.0;     // the layout's scaling, undone by read()

    double seconds() const { return rateHz > 0.0 ? double(frames) / rateHz : 0.0; }
};

class IqWavFile {
public:
    IqWavFile() = default;
    IqWavFile(const IqWavFile&) = delete;
    IqWavFile& operator=(const IqWavFile&) = delete;

    // False with *error set when the file cannot be read or is none of the
    // three layouts. A header whose sizes were never finalised (the program
    // ended while recording) is read up to the end of the file.
    bool open(const QString& path, QString* error);
    const IqWavInfo& info() const { return m_info; }

    // Frames first .. first + n - 1 as the receiver sent them (full scale 1.0,
    // the recording's gain undone); frames beyond the end read as zero.
    void read(qint64 first, Ostrovix::complex<double>* out, int n) const;

private:
    QFile m_file;
    const uchar* m_samples = nullptr;
    IqWavInfo m_info;
};

} // namespace zorvani::sim
