#pragma once

#include "CardFeed.h"
#include "HostOutputs.h"
#include "OutputAbstract.h"

#include <QAudioDeviceInfo>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QAudioOutput;

// The window's main sound output: while open it pulls 48000 Hz stereo from
// the plug-in's source, either for the sound card through Qt Multimedia or,
// when there is no sound device (a server, CI) or it cannot be opened, on a
// silent clock that keeps the plug-in's audio path running. Lives on the GUI
// thread; the source and the tap are called on the pulling thread (the GUI
// thread for the card, the clock's own thread otherwise).
class SpeakerOutput : public SoundOutAbstract {
    Q_OBJECT
public:
    static constexpr int kRate = 48000;

    // Called with every block pulled: interleaved left, right.
    using Tap = std::function<void(const float* interleaved, quint32 frames)>;
    using Available = CardFeed::Available;

    SpeakerOutput();
    ~SpeakerOutput() override;

    void setAudioSource(AudioSource source) override;
    void setTap(Tap tap);

    // Starts pulling and emits opened(). A null device runs silent.
    void open(const QAudioDeviceInfo& device, Available available);
    // Stops pulling and emits closed().
    void close();
    bool isOpen() const { return m_open; }
    bool isSilent() const { return m_open && !m_card; }
    // What the output does, e.g. "Audio: Built-in Audio" or "No sound device: running silent".
    QString statusText() const { return m_status; }

signals:
    void statusChanged(const QString& text);

private:
    void runSilent(const QString& why);
    void stopCard();
    void setStatus(const QString& text);
    // Fills `frames` stereo frames from the source and hands them to the tap.
    bool pull(float* interleaved, quint32 frames);

    std::mutex m_mutex; // source and tap
    AudioSource m_source;
    Tap m_tap;
    bool m_open = false;
    QString m_status;
    QString m_deviceName;
    std::unique_ptr<CardFeed> m_feed;
    std::unique_ptr<QAudioOutput> m_card;
    PullEngine m_clock;
};
