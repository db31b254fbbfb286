#include "recording/IQFile.h"

// Placeholder bodies; the recorder itself comes with the recording work.
namespace ox::file {
IQFile::IQFile() = default;
IQFile::~IQFile() = default;
bool IQFile::open(const QString&) { return false; }
void IQFile::stop() {}
bool IQFile::isRecording() const { return false; }
void IQFile::writePacket(const unsigned char*) {}
void IQFile::setFormat(Format) {}
void IQFile::setFrequency(double) {}
void IQFile::setSampleRate(double) {}
void IQFile::run() {}
} // namespace ox::file
