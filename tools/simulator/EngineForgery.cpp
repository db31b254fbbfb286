#include "SimulatorEngine.h"

#include "Protocol.h"
#include "SimulatorData.h"

#include <QUdpSocket>

// Hostile datagrams from the receiver's own address (see Forgery.h).
namespace zorvani::sim {

using namespace proto;

QByteArray SimulatorEngine::genuineReply(const QByteArray& request) const
{
    const quint16 code = rd16(request, kOffCommand);
    QByteArray payload;
    if (rd16(request, kOffMagic) == kMagicApp) {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        const State& s = m_data->state;
        if (code == CmdReadRootCal)
            payload = s.rootCalibration;
        else if (code == CmdReadUserCal)
            payload = s.userCalibration;
        else if (code == CmdFrontEnd && rd16(request, kOffLength) == 0) {
            payload = QByteArray(4, '\0');
            wr32(payload, 0, s.frontEnd);
        } else if (code == CmdFpga)
            payload = request.mid(kHeaderBytes);
    }
    if (code == CmdInformation && rd16(request, kOffMagic) == kMagicApp)
        payload = informationRecord();
    return packet(rd16(request, kOffMagic), code, rd32(request, kOffParam), 1, payload);
}

int SimulatorEngine::sendForgeries(int count)
{
    if (m_peer.isNull() || !m_control || m_lastRequest.size() < kHeaderBytes)
        return 0;
    const QByteArray reply = genuineReply(m_lastRequest);
    QByteArray fragment(kBandScopeBytes, '\0');
    wr16(fragment, kOffMagic, kMagicApp);
    wr16(fragment, kOffCommand, kBandScopeMark);
    wr16(fragment, kOffLength, quint16(kBandScopeBytes - kOffSamples));
    int sent = 0;
    for (int i = 0; i < count; ++i) {
        const Forger::Kind kind = m_forger.anyKind();
        wr16(fragment, kOffSequence, quint16(i % kBandScopeFragments));
        const bool sentAny = m_sent[quint16(m_seq - 1) & kSentMask].used;
        const QByteArray& iq = sentAny ? m_sentBytes[quint16(m_seq - 1) & kResendMask] : fragment;
        // Bits are flipped only in IQ packets and fragments: every value of
        // theirs is harmless to take, while a reply with a flipped status or
        // payload bit could not be told from a genuine one.
        QByteArray model = i % 2 ? iq : fragment;
        if (kind == Forger::Kind::Reply || (kind != Forger::Kind::BitFlipped && i % 3 == 0))
            model = reply;
        const QByteArray d = m_forger.make(kind, model);
        if (m_control->writeDatagram(d, m_peer, m_peerPort) == d.size())
            ++sent;
    }
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        m_data->counters.forged += quint64(sent);
    }
    m_data->notify();
    return sent;
}

} // namespace zorvani::sim
