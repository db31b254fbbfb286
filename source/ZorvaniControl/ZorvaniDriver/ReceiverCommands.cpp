#include "ZorvaniControl/ZorvaniDriver/ReceiverCommands.h"

#include "ZorvaniControl/ZorvaniDriver/CommandQueue.h"
#include "ZorvaniControl/ZorvaniDriver/Packet.h"

#include <QStringList>

#include <cstring>

using namespace zorvani::packet;

namespace {
// Rate parameters of the start block, by sample-rate index.
constexpr quint32 kRateParameters[4][8] = {
    {8, 8, 4, 3, 2, 2, 2, 2},
    {5, 4, 4, 3, 2, 2, 2, 1},
    {5, 4, 4, 3, 2, 1, 1, 1},
    {20, 20, 20, 10, 10, 10, 10, 10},
};
constexpr int kStartLength = 50;
constexpr int kInformationSize = int(sizeof(SDR2_HDR));
constexpr int kFrontEndReplySize = 22;
// Highest frequency the receiver accepts, in its 0.1 Hz units (800 MHz).
constexpr quint64 kMaxFrequency = 8000000000ull;

QByteArray appPacket(quint16 command, quint16 length = 0, quint32 param = 0)
{
    return makePacket(kMagicApp, command, length, param, 1);
}

QByteArray valuePacket(quint16 command, quint32 value)
{
    QByteArray p = appPacket(command, 4);
    put<quint32>(p, kHeaderSize, value);
    return p;
}
} // namespace

std::optional<quint32> ReceiverCommands::start(int rateId, quint32 receivers)
{
    QByteArray p = appPacket(CmdStart, kStartLength);
    for (int i = 0; i < 8; ++i)
        put<quint32>(p, kHeaderSize + 4 * i, kRateParameters[rateId][i]);
    // Offsets 50..53 and 60..67 stay zero.
    put<quint16>(p, 54, quint16(receivers));
    put<quint16>(p, 56, quint16(rateId));
    put<quint16>(p, 58, quint16(rateId));
    const auto reply = m_queue.issue(p, 50, true);
    quint32 status = 0;
    if (!reply || !statusOf(*reply, status))
        return std::nullopt;
    return status;
}

bool ReceiverCommands::stop(quint32 retries)
{
    return m_queue.issue(valuePacket(CmdStop, 0), 20, true, retries).has_value();
}

void ReceiverCommands::setPreamp(int on)
{
    m_queue.issue(valuePacket(CmdPreamp, on != 0 ? 1 : 0), 20, false);
}

void ReceiverCommands::setLpf(bool state)
{
    m_queue.issue(valuePacket(CmdLpf, state ? 1 : 0), 20, false);
}

void ReceiverCommands::setPll(bool state)
{
    m_queue.issue(valuePacket(CmdPll, state ? 1 : 0), 20, false);
}

void ReceiverCommands::setExtCtrl(int value)
{
    m_queue.issue(valuePacket(CmdExtCtrl, quint32(value)), 20, false);
}

void ReceiverCommands::setFrontEnd(quint16 frontEnd)
{
    m_queue.issue(valuePacket(CmdFrontEnd, frontEnd), 20, false);
}

quint16 ReceiverCommands::frontEnd(bool& ok)
{
    ok = false;
    const auto reply = m_queue.issue(appPacket(CmdFrontEnd), 100, true, 0, kFrontEndReplySize);
    if (!reply || reply->size() != kFrontEndReplySize)
        return 0;
    ok = true;
    return get<quint16>(*reply, kHeaderSize);
}

void ReceiverCommands::setFreq(int channel, double freq)
{
    if (channel < 0 || channel >= 2 || !m_queue.isOpen())
        return;
    const double units = freq * 10.0;
    const quint64 value = units > 0.0 ? (units >= double(kMaxFrequency) ? kMaxFrequency : quint64(units)) : 0;
    QByteArray p = appPacket(CmdFreq, 8, quint32(channel));
    put<quint64>(p, kHeaderSize, value);
    m_queue.issue(p, 20, false);
}

void ReceiverCommands::setBandScope(quint8 enable, quint8 decimation, quint64 centre)
{
    QByteArray p = appPacket(CmdBandScope, 12);
    put<quint8>(p, 18, enable);
    put<quint8>(p, 19, decimation);
    put<quint64>(p, 22, centre);
    m_queue.issue(p, 20, false);
}

bool ReceiverCommands::information(pSDR2_HDR info)
{
    const auto reply = m_queue.issue(appPacket(CmdInformation), 100, true, 0, kHeaderSize + kInformationSize);
    if (!reply || reply->size() != kHeaderSize + kInformationSize)
        return false;
    if (info)
        std::memcpy(info, reply->constData() + kHeaderSize, kInformationSize);
    return true;
}

bool ReceiverCommands::setStaticAddress(const QHostAddress& addr, quint16 port)
{
    if (!m_queue.isOpen())
        return false;
    const QStringList octets = addr.toString().split(QLatin1Char('.'));
    if (octets.size() != 4)
        return false;
    QByteArray p = appPacket(CmdStaticAddress, 8);
    for (int i = 0; i < 4; ++i)
        put<quint8>(p, kHeaderSize + i, quint8(octets[i].toUInt()));
    put<quint32>(p, kHeaderSize + 4, port);
    // A receiver that refuses the address (status other than 1) has not taken it.
    return m_queue.issueChecked(p, 100, 1).has_value();
}

bool ReceiverCommands::setNetworkMode(NetworkMode mode)
{
    return m_queue.issueChecked(valuePacket(CmdNetworkMode, quint32(mode)), 200, 1).has_value();
}

void ReceiverCommands::reset()
{
    m_queue.issue(appPacket(CmdReset), 100, true);
}
