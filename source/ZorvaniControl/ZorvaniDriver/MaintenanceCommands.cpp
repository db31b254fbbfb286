#include "ZorvaniControl/ZorvaniDriver/MaintenanceCommands.h"

#include "ZorvaniControl/ZorvaniDriver/CommandQueue.h"
#include "ZorvaniControl/ZorvaniDriver/Crc32.h"
#include "ZorvaniControl/ZorvaniDriver/Packet.h"
#include "common/EventPause.h"

#include <QDebug>
#include <QFile>

#include <algorithm>

using namespace zorvani::packet;

namespace {
constexpr int kFpgaAttempts = 3;
constexpr int kQuitDatagram = 1218;

QByteArray bootPacket(quint16 command, quint16 length = 0, quint32 param = 0)
{
    return makePacket(kMagicBoot, command, length, param, 0);
}

// A request with `data` as its payload.
QByteArray withPayload(QByteArray packet, const QByteArray& data)
{
    std::copy(data.cbegin(), data.cend(), packet.begin() + kHeaderSize);
    return packet;
}
} // namespace

bool MaintenanceCommands::writeFpga(QByteArray& data, int offset)
{
    if (!m_queue.isOpen() || data.size() > kFpgaChunk)
        return false;
    const int size = data.size();
    const QByteArray p = withPayload(
        makePacket(kMagicApp, CmdFpga, quint16(size), quint32(offset), 1, crc32(data.constData(), size)), data);
    const auto reply = m_queue.issueChecked(p, 200, 1);
    if (!reply || reply->size() < kHeaderSize + size)
        return false;
    data = reply->mid(kHeaderSize, size);
    return true;
}

MaintenanceCommands::FpgaLoad MaintenanceCommands::loadFpga(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FpgaLoad::NoImage;
    const QByteArray image = file.readAll().mid(kFpgaHeader);
    file.close();

    for (int attempt = 0; attempt < kFpgaAttempts; ++attempt) {
        bool sent = true;
        for (int offset = 0; offset < image.size() && sent; offset += kFpgaChunk) {
            QByteArray chunk = image.mid(offset, kFpgaChunk);
            sent = writeFpga(chunk, offset);
        }
        if (sent)
            return FpgaLoad::Loaded;
        qDebug() << Q_FUNC_INFO << __LINE__ << " Retry!";
    }
    return FpgaLoad::Failed;
}

bool MaintenanceCommands::writeAT45D(QByteArray& data, int page)
{
    if (!m_queue.isOpen() || data.size() != kFlashPage)
        return false;
    const QByteArray p = withPayload(makePacket(kMagicApp, CmdWriteAT45D, kFlashPage, quint32(page), 1), data);
    return m_queue.issueChecked(p, 200, 1).has_value();
}

bool MaintenanceCommands::goToBoot()
{
    if (!m_queue.isOpen())
        return false;
    m_queue.issue(makePacket(kMagicApp, CmdGoToBoot, 0, 0, 1), 20, true);
    ox::ui::pauseProcessingEvents(m_bootSettleMs);
    return bootReadSN();
}

bool MaintenanceCommands::bootReadSN()
{
    // The serial read is the one bootloader request with status 1.
    return m_queue.issueChecked(makePacket(kMagicBoot, BootReadSN, 0, 0, 1), 100, 0).has_value();
}

bool MaintenanceCommands::bootErase()
{
    return m_queue.issueChecked(bootPacket(BootErase), 150, 0).has_value();
}

bool MaintenanceCommands::bootWriteFlash(QByteArray& data, int offset)
{
    if (!m_queue.isOpen() || data.size() != kBootChunk)
        return false;
    const QByteArray p = withPayload(bootPacket(BootWriteFlash, kBootChunk, quint32(offset)), data);
    return m_queue.issueChecked(p, 400, 0, CommandQueue::kMaxRetries).has_value();
}

bool MaintenanceCommands::bootWriteAT45D(QByteArray& data, int page)
{
    if (!m_queue.isOpen() || data.size() != kFlashPage)
        return false;
    const QByteArray p = withPayload(bootPacket(BootWriteAT45D, kFlashPage, quint32(page)), data);
    return m_queue.issueChecked(p, 300, 0, CommandQueue::kMaxRetries).has_value();
}

bool MaintenanceCommands::bootReadAT45D(QByteArray& data, int page)
{
    if (!m_queue.isOpen())
        return false;
    const auto reply =
        m_queue.issueChecked(bootPacket(BootReadAT45D, 0, quint32(page)), 300, 0, CommandQueue::kMaxRetries);
    if (!reply || reply->size() < kHeaderSize + kFlashPage)
        return false;
    data = reply->mid(kHeaderSize, kFlashPage);
    return true;
}

bool MaintenanceCommands::quitBoot()
{
    if (!m_queue.isOpen())
        return false;
    m_queue.issue(makePacket(kMagicBoot, BootQuit, 0, 0, 0, 0, kQuitDatagram), 50, false);
    ox::ui::pauseProcessingEvents(m_bootSettleMs);
    return true;
}

bool MaintenanceCommands::readCalibration(quint16 command, double* coefficients, double* percent, bool* crcOk)
{
    const auto reply = m_queue.issueChecked(makePacket(kMagicApp, command, 0, 0, 1), 40, 1);
    if (!reply || reply->size() < kHeaderSize + zorvani::calibration::kPayloadSize)
        return false;
    if (!percent)
        return true;
    double values[8];
    double p = 0.0;
    const bool valid = zorvani::calibration::readBlock(*reply, coefficients ? values : nullptr, &p);
    if (crcOk)
        *crcOk = valid;
    if (valid) {
        *percent = p;
        if (coefficients)
            std::copy(values, values + 8, coefficients);
    }
    return true;
}

bool MaintenanceCommands::writeCalibration(quint16 command, const double* coefficients, double percent, bool* crcOk)
{
    QByteArray p = makePacket(kMagicApp, command, zorvani::calibration::kPayloadSize, 0, 1);
    zorvani::calibration::writeBlock(p, coefficients, percent);
    const auto reply = m_queue.issue(p, 40, true);
    quint32 status = 0;
    if (!reply || !statusOf(*reply, status))
        return false;
    // Left alone without an answer, so the caller can tell a refusal from silence.
    if (crcOk)
        *crcOk = status == 1;
    return status == 1;
}
