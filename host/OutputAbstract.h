#pragma once

#include <QObject>

#include <functional>
#include <memory>

// Fills an interleaved float buffer of `length` values with `channels`
// interleaved channels. An empty callable detaches the source.
using AudioSource = std::function<bool(float* buffer, quint32 length, quint32 channels)>;

// One host audio output. The host pulls audio through the installed source.
class OutputAbstract : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~OutputAbstract() override = default;

    virtual void setAudioSource(AudioSource source) = 0;

signals:
    void opened();
    void closed();
};

class SoundOutAbstract : public OutputAbstract {
    Q_OBJECT
public:
    using OutputAbstract::OutputAbstract;
};

class VacAbstract : public OutputAbstract {
    Q_OBJECT
public:
    using OutputAbstract::OutputAbstract;
    // Sample rate of the virtual audio cable in Hz.
    virtual int sampleRate() const = 0;
};

class LineOutAbstract : public OutputAbstract {
    Q_OBJECT
public:
    using OutputAbstract::OutputAbstract;
};

template <typename Output>
class OutputCollectionAbstract {
public:
    virtual ~OutputCollectionAbstract() = default;
    virtual void setOutputCount(int count) = 0;
    virtual std::shared_ptr<Output> outputAt(int index) const = 0;
};

using VacCollectionAbstract = OutputCollectionAbstract<VacAbstract>;
using LineOutCollectionAbstract = OutputCollectionAbstract<LineOutAbstract>;
