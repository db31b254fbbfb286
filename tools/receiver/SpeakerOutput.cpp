#include "SpeakerOutput.h"

#include "CardFeed.h"

#include <QAudioOutput>
#include <QDebug>

#include <algorithm>

namespace {

constexpr int kCardBufferMs = 100;

QAudioFormat cardFormat(QAudioFormat::SampleType type)
{
    QAudioFormat format;
    format.setSampleRate(SpeakerOutput::kRate);
    format.setChannelCount(2);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(type);
    format.setSampleSize(type == QAudioFormat::Float ? 32 : 16);
    return format;
}

} // namespace

SpeakerOutput::SpeakerOutput() : m_clock(*this, kRate)
{
    // The silent clock pulls through the same path as the card.
    m_clock.setSource([this](float* buffer, quint32 length, quint32 channels) {
        return channels == 2 && pull(buffer, length / 2);
    });
}

SpeakerOutput::~SpeakerOutput()
{
    close();
}

void SpeakerOutput::setAudioSource(AudioSource source)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_source = std::move(source);
}

void SpeakerOutput::setTap(Tap tap)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tap = std::move(tap);
}

bool SpeakerOutput::pull(float* interleaved, quint32 frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_source || !m_source(interleaved, 2 * frames, 2))
        return false;
    if (m_tap)
        m_tap(interleaved, frames);
    return true;
}

void SpeakerOutput::open(const QAudioDeviceInfo& device, Available available)
{
    if (m_open)
        return;
    m_open = true;
    if (device.isNull()) {
        runSilent(QStringLiteral("No sound device: running silent"));
        return;
    }
    QAudioFormat format = cardFormat(QAudioFormat::Float);
    if (!device.isFormatSupported(format))
        format = cardFormat(QAudioFormat::SignedInt);
    if (!device.isFormatSupported(format)) {
        runSilent(QStringLiteral("The sound device %1 plays no 48000 Hz stereo: running silent").arg(device.deviceName()));
        return;
    }
    m_deviceName = device.deviceName();
    m_feed = std::make_unique<CardFeed>([this](float* interleaved, quint32 frames) { return pull(interleaved, frames); },
                                        std::move(available), format.sampleType() == QAudioFormat::Float);
    m_feed->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    m_card = std::make_unique<QAudioOutput>(device, format);
    m_card->setBufferSize(format.bytesForDuration(kCardBufferMs * 1000));
    connect(m_card.get(), &QAudioOutput::stateChanged, this, [this](QAudio::State state) {
        // A device that fails (unplugged, taken away) leaves the audio path
        // running silent; the card is not deleted from its own signal.
        if (state == QAudio::StoppedState && m_card && m_card->error() != QAudio::NoError)
            QMetaObject::invokeMethod(this, [this] {
                if (m_open && m_card)
                    runSilent(QStringLiteral("The sound device %1 failed: running silent").arg(m_deviceName));
            }, Qt::QueuedConnection);
    });
    emit opened();
    m_card->start(m_feed.get());
    if (m_card && m_card->error() != QAudio::NoError)
        runSilent(QStringLiteral("The sound device %1 cannot be opened: running silent").arg(m_deviceName));
    else if (m_card)
        setStatus(QStringLiteral("Audio: %1").arg(m_deviceName));
}

void SpeakerOutput::runSilent(const QString& why)
{
    stopCard();
    // The clock emits opened(); after a failed card the plug-in's path is
    // already open and stays so.
    m_clock.open();
    setStatus(why);
}

void SpeakerOutput::stopCard()
{
    if (!m_card)
        return;
    m_card->disconnect(this);
    m_card->stop();
    m_card.reset();
    m_feed.reset();
}

void SpeakerOutput::close()
{
    if (!m_open)
        return;
    stopCard();
    const bool clock = m_clock.isOpen();
    m_clock.close(); // emits closed() when it ran
    m_open = false;
    if (!clock)
        emit closed();
}

void SpeakerOutput::setStatus(const QString& text)
{
    if (text == m_status)
        return;
    m_status = text;
    qInfo().noquote() << text;
    emit statusChanged(text);
}
