#include "IqPlayback.h"

#include "common/ZorvaniSR.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace zorvani::sim {

std::shared_ptr<IqPlayback> IqPlayback::open(const QString& path, double fallbackCentreHz, QString* error)
{
    std::shared_ptr<IqPlayback> playback(new IqPlayback);
    if (!playback->m_file.open(path, error))
        return nullptr;
    playback->m_path = path;
    const IqWavInfo& info = playback->m_file.info();
    playback->m_centreHz = info.hasCentre ? info.centreHz : fallbackCentreHz;
    return playback;
}

void IqPlayback::seek(double seconds)
{
    const IqWavInfo& info = m_file.info();
    const double frame = std::isfinite(seconds) ? std::round(seconds * info.rateHz) : 0.0;
    m_seek.store(qint64(std::clamp(frame, 0.0, double(info.frames))));
}

double IqPlayback::positionSeconds() const
{
    const qint64 pending = m_seek.load();
    return double(pending >= 0 ? pending : m_position.load()) / m_file.info().rateHz;
}

bool IqPlayback::atEnd() const
{
    return !m_loop.load() && m_seek.load() < 0 && m_position.load() >= m_file.info().frames;
}

void IqPlayback::next(Ostrovix::complex<double>* out, int n, int streamRateIndex)
{
    const IqWavInfo& info = m_file.info();
    if (streamRateIndex != info.rateIndex && streamRateIndex != m_warnedRate)
        qWarning().noquote() << "playing a recording made at" << info.rateHz << "Hz in a stream at"
                             << kStreamRates[std::clamp(streamRateIndex, 0, 3)]
                             << "Hz: its time and frequencies are scaled by the ratio";
    m_warnedRate = streamRateIndex;

    const qint64 target = m_seek.exchange(-1);
    qint64 position = target >= 0 ? target : m_position.load();
    int done = 0;
    while (!m_paused.load() && done < n) {
        if (position >= info.frames) {
            if (!m_loop.load() || info.frames == 0)
                break;
            position = 0;
        }
        const int take = int(std::min<qint64>(n - done, info.frames - position));
        m_file.read(position, out + done, take);
        position += take;
        done += take;
    }
    std::fill(out + done, out + n, Ostrovix::complex<double>{0.0, 0.0});
    m_position.store(position);
}

} // namespace zorvani::sim
