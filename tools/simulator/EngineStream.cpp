#include "SimulatorEngine.h"

#include "IqPlayback.h"
#include "Protocol.h"
#include "SimulatorData.h"

#include "common/ZorvaniSR.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

// The IQ stream: pacing, faults, re-sends, answers and the band scope.
namespace zorvani::sim {

using namespace proto;

namespace {

qint32 toSample24(double v)
{
    const double s = std::round(v * 8388607.0);
    return qint32(std::clamp(s, -8388608.0, 8388607.0));
}

} // namespace

bool SimulatorEngine::startStream(const QByteArray& d)
{
    if (d.size() != kStartBytes)
        return false;
    const int receivers = rd16(d, kOffStartReceivers);
    const int rate = rd16(d, kOffStartRate);
    bool valid = rate <= 3 && rd16(d, kOffStartRateAgain) == rate && (receivers == 1 || receivers == 2);
    for (int i = 0; valid && i < 8; ++i)
        valid = rd32(d, kOffStartRateParams + 4 * i) == kRateParams[size_t(rate)][size_t(i)];
    if (!valid) {
        reply(d, 0);
        return true;
    }
    quint32 status;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        status = m_data->faults.startStatus;
    }
    if (status != 1) {
        reply(d, status);
        return true;
    }
    stopStream();
    m_rateIndex = rate;
    m_receivers = receivers;
    m_iqPeer = m_peer;
    m_iqPeerPort = m_peerPort;
    m_seq = 0;
    m_answeredAny = false;
    m_blocksSent = 0;
    m_inFlight = 0;
    m_held.clear();
    for (SentPacket& p : m_sent)
        p.used = false;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        State& s = m_data->state;
        s.rateIndex = rate;
        s.receivers = receivers;
        s.streaming = true;
        for (int rx = 0; rx < 2; ++rx)
            m_generators[size_t(rx)]->setTuning(double(s.freq[rx]) / 10.0, kStreamRates[size_t(rate)]);
    }
    m_streaming = true;
    m_streamStartNs = m_data->clock.nsecsElapsed();
    // The reply goes out before the first IQ packet.
    reply(d, status);
    fill(nowMs());
    m_data->notify();
    return true;
}

void SimulatorEngine::stopStream()
{
    m_streaming = false;
    m_held.clear();
    std::lock_guard<std::mutex> lock(m_data->mutex);
    m_data->state.streaming = false;
}

void SimulatorEngine::pace(qint64 now)
{
    // Blocks due since the start, from the monotonic clock: the long-run rate is exact.
    const double elapsed = double(m_data->clock.nsecsElapsed() - m_streamStartNs) * 1e-9;
    const double blocksPerSecond = kStreamRates[size_t(m_rateIndex)] / kIqSamples;
    const qint64 due = qint64(elapsed * blocksPerSecond) + 1;
    bool stall;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        stall = m_data->faults.iqStall;
    }
    if (stall) {
        m_blocksSent = due; // no burst when the stall ends
        return;
    }
    if (due - m_blocksSent > qint64(blocksPerSecond / 2)) {
        qDebug() << Q_FUNC_INFO << "IQ stream fell behind by" << due - m_blocksSent << "blocks, skipping";
        m_blocksSent = due - 1;
    }
    while (m_blocksSent < due) {
        sendBlock(now);
        ++m_blocksSent;
    }
}

void SimulatorEngine::sendBlock(qint64 now)
{
    QVector<QPair<int, double>> levels;
    std::shared_ptr<IqPlayback> playback;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        levels.swap(m_data->levelChanges);
        playback = m_data->playback;
    }
    // A recording gives both receivers the same block.
    if (playback)
        playback->next(m_block.data(), kIqSamples, m_rateIndex);
    for (const auto& change : levels) {
        for (auto& generator : m_generators)
            generator->setLevel(change.first, change.second);
        m_bandScope->setLevel(change.first, change.second);
    }
    for (int rx = 0; rx < m_receivers; ++rx) {
        // This packet's bytes take the place of the one sent kResendMask + 1
        // before: that one can no longer be re-sent (its answer still counts).
        const quint16 oldest = quint16(m_seq - (kResendMask + 1));
        SentPacket& old = m_sent[oldest & kSentMask];
        if (old.used && old.seq == oldest && !old.answered && !old.abandoned && m_inFlight > 0) {
            old.abandoned = true;
            --m_inFlight;
        }
        SentPacket& p = m_sent[m_seq & kSentMask];
        p.used = true;
        p.answered = false;
        p.abandoned = false;
        p.seq = m_seq;
        p.resends = 0;
        p.sentMs = now;
        QByteArray& bytes = m_sentBytes[m_seq & kResendMask];
        char* b = bytes.data();
        wr16(bytes, kOffMagic, kMagicApp);
        wr16(bytes, kOffCommand, kIqMark);
        wr16(bytes, kOffLength, quint16(kIqSamples * 6));
        wr16(bytes, kOffSequence, m_seq);
        b[kOffChannel - 1] = 0; // reserved
        b[kOffChannel] = char(rx);
        if (!playback)
            m_generators[size_t(rx)]->generate(m_block.data(), kIqSamples);
        for (int i = 0; i < kIqSamples; ++i) {
            wr24(b + kOffSamples + 6 * i, toSample24(m_block[size_t(i)].re));
            wr24(b + kOffSamples + 3 + 6 * i, toSample24(m_block[size_t(i)].im));
        }
        ++m_seq;
        ++m_inFlight;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            ++m_data->counters.iqSent;
        }
        transmitIq(bytes);
    }
    m_data->notify();
}

void SimulatorEngine::transmitIq(const QByteArray& d)
{
    double loss, duplicate, reorder;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        loss = m_data->faults.iqLoss;
        duplicate = m_data->faults.iqDuplicate;
        reorder = m_data->faults.iqReorder;
    }
    auto bump = [this](quint64 Counters::*counter) {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        ++(m_data->counters.*counter);
    };
    if (loss > 0.0 && m_faultRandom.uniform() < loss) {
        bump(&Counters::iqLost);
        return;
    }
    if (!m_held.isEmpty()) {
        sendTo(d, m_iqPeer, m_iqPeerPort);
        sendTo(m_held, m_iqPeer, m_iqPeerPort);
        m_held.clear();
        return;
    }
    if (reorder > 0.0 && m_faultRandom.uniform() < reorder) {
        m_held = d;
        bump(&Counters::iqReordered);
        return;
    }
    sendTo(d, m_iqPeer, m_iqPeerPort);
    if (duplicate > 0.0 && m_faultRandom.uniform() < duplicate) {
        sendTo(d, m_iqPeer, m_iqPeerPort);
        bump(&Counters::iqDuplicated);
    }
}

void SimulatorEngine::resendOverdue(qint64 now)
{
    bool stall;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        stall = m_data->faults.iqStall;
    }
    if (stall)
        return;
    // Oldest first, among the packets whose bytes are kept.
    for (int back = kResendMask + 1; back > 0; --back) {
        const quint16 seq = quint16(m_seq - back);
        SentPacket& p = m_sent[seq & kSentMask];
        if (!p.used || p.seq != seq || p.answered || p.abandoned || now - p.sentMs < m_config.resendAfterMs)
            continue;
        if (p.resends >= m_config.maxResends) {
            p.abandoned = true;
            --m_inFlight;
            continue;
        }
        ++p.resends;
        p.sentMs = now;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            ++m_data->counters.iqResent;
        }
        transmitIq(m_sentBytes[seq & kResendMask]);
    }
    fill(now);
}

void SimulatorEngine::fill(qint64 now)
{
    if (m_config.paced || !m_streaming)
        return;
    quint64 allowed;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        if (m_data->faults.iqStall)
            return;
        allowed = m_data->packetLimit - std::min(m_data->packetLimit, m_data->counters.iqSent);
    }
    const int window = std::clamp(m_config.fastWindow, 1, 8);
    for (; allowed >= quint64(m_receivers) && m_inFlight + m_receivers <= std::max(window, m_receivers);
         allowed -= quint64(m_receivers))
        sendBlock(now);
}

void SimulatorEngine::handleIqAnswer(const QByteArray& d)
{
    if (d.size() < kIqAckBytes) {
        countMalformed();
        return;
    }
    const quint16 seq = rd16(d, kOffSequence);
    SentPacket& p = m_sent[seq & kSentMask];
    const bool known = p.used && p.seq == seq;
    const bool full = rd16(d, kOffLength) != 0;
    if (full && d.size() != kIqPacketBytes) {
        countMalformed();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        Counters& c = m_data->counters;
        if (!known) {
            ++c.iqAnswersUnknown;
        } else if (p.answered) {
            ++c.iqAnswersRepeated;
        } else {
            ++c.iqAnswered;
            // The host answers in sequence order: a first answer before the latest is out of it.
            if (m_answeredAny && qint16(quint16(seq - m_lastAnswered)) < 0)
                ++c.iqAnswersOutOfOrder;
            else
                m_lastAnswered = seq;
            m_answeredAny = true;
            if (full) {
                ++c.iqAnswersFull;
                QVector<qint32>& cap = m_data->capture;
                if (cap.size() + 2 * kIqSamples <= kMaxCaptureValues) {
                    const char* b = d.constData() + kOffSamples;
                    for (int i = 0; i < 2 * kIqSamples; ++i)
                        cap.append(rd24(b + 3 * i));
                }
            } else {
                ++c.iqAnswersShort;
            }
        }
    }
    if (known && !p.answered) {
        p.answered = true;
        if (!p.abandoned)
            --m_inFlight;
        fill(nowMs());
    }
    m_data->notify();
}

void SimulatorEngine::sendBandScope(qint64 now)
{
    BandScopeState bs;
    bool playing;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bs = m_data->state.bandScope;
        playing = bool(m_data->playback);
    }
    if (!bs.enable || m_peer.isNull() || now < m_nextBandScopeMs || m_config.bandScopeFps <= 0)
        return;
    m_nextBandScopeMs = now + 1000 / m_config.bandScopeFps;
    QByteArray frag(kBandScopeBytes, '\0');
    wr16(frag, kOffMagic, kMagicApp);
    wr16(frag, kOffCommand, kBandScopeMark);
    wr16(frag, kOffLength, quint16(kBandScopeSamples * 4));
    for (int k = 0; k < kBandScopeFragments; ++k) {
        wr16(frag, kOffSequence, quint16(k));
        for (int i = 0; i < kBandScopeSamples; i += kIqSamples / 8) {
            const int n = std::min(kIqSamples / 8, kBandScopeSamples - i);
            // A recording holds nothing of the wide band.
            if (playing)
                std::fill_n(m_block.begin(), n, Ostrovix::complex<double>{0.0, 0.0});
            else
                m_bandScope->generate(m_block.data(), n);
            for (int j = 0; j < n; ++j) {
                const auto& s = m_block[size_t(j)];
                wr16(frag, kOffSamples + 4 * (i + j), quint16(qint16(std::clamp(std::round(s.re * 32767.0), -32768.0, 32767.0))));
                wr16(frag, kOffSamples + 2 + 4 * (i + j), quint16(qint16(std::clamp(std::round(s.im * 32767.0), -32768.0, 32767.0))));
            }
        }
        sendTo(frag, m_peer, m_peerPort);
    }
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        ++m_data->counters.bandScopeFrames;
    }
    m_data->notify();
}

} // namespace zorvani::sim
