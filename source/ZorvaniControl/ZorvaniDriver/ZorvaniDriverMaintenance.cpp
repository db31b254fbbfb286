// FPGA loading, data-flash pages and the bootloader commands of the driver.
#include "ZorvaniControl/ZorvaniDriver/Crc32.h"
#include "ZorvaniControl/ZorvaniDriver/InitFpga.h"
#include "ZorvaniControl/ZorvaniDriver/Packet.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "common/MessageBox.h"

#include <QDebug>
#include <QFile>

using namespace zorvani::packet;

namespace {
constexpr int kFpgaAttempts = 3;
constexpr int kQuitDatagram = 1218;

QByteArray bootPacket(quint16 command, quint16 length = 0, quint32 param = 0)
{
    return makePacket(kMagicBoot, command, length, param, 0);
}
} // namespace

bool ZorvaniDriver::writeFPGA(QByteArray& data, int offset)
{
    if (!isOpen() || data.size() > kFpgaChunk)
        return false;
    const int size = data.size();
    QByteArray p = makePacket(kMagicApp, CmdFpga, quint16(size), quint32(offset), 1, crc32(data.constData(), size));
    std::copy(data.cbegin(), data.cend(), p.begin() + kHeaderSize);
    const auto reply = issueChecked(p, 200, 1);
    if (!reply || reply->size() < kHeaderSize + size)
        return false;
    data = reply->mid(kHeaderSize, size);
    return true;
}

bool ZorvaniDriver::fastLoadFpga()
{
    m_initFpga->show();
    QFile file(m_fpgaPath);
    if (!file.open(QIODevice::ReadOnly)) {
        m_initFpga->hide();
        return false;
    }
    const QByteArray image = file.readAll().mid(kFpgaHeader);
    file.close();

    for (int attempt = 0; attempt < kFpgaAttempts; ++attempt) {
        bool sent = true;
        for (int offset = 0; offset < image.size(); offset += kFpgaChunk) {
            QByteArray chunk = image.mid(offset, kFpgaChunk);
            if (!writeFPGA(chunk, offset)) {
                sent = false;
                break;
            }
        }
        if (sent) {
            m_initFpga->hide();
            return true;
        }
        qDebug() << Q_FUNC_INFO << __LINE__ << " Retry!";
    }
    emit endInitFirmware();
    ox::ui::MessageRequest box;
    box.icon = QMessageBox::Critical;
    box.title = QStringLiteral("Velmora2");
    box.text = QStringLiteral("Initialization failure");
    box.buttons = QMessageBox::Ok;
    ox::ui::showMessage(box);
    return false;
}

bool ZorvaniDriver::writeAT45D(QByteArray& data, int page)
{
    if (!isOpen() || data.size() != kFlashPage)
        return false;
    QByteArray p = makePacket(kMagicApp, CmdWriteAT45D, kFlashPage, quint32(page), 1);
    std::copy(data.cbegin(), data.cend(), p.begin() + kHeaderSize);
    return issueChecked(p, 200, 1).has_value();
}

bool ZorvaniDriver::goToBoot()
{
    if (!isOpen())
        return false;
    issue(makePacket(kMagicApp, CmdGoToBoot, 0, 0, 1), 20, true);
    pause(m_bootSettleMs);
    return bootReadSN();
}

bool ZorvaniDriver::bootReadSN()
{
    // The serial read is the one bootloader request with status 1.
    return issueChecked(makePacket(kMagicBoot, BootReadSN, 0, 0, 1), 100, 0).has_value();
}

bool ZorvaniDriver::bootErase()
{
    return issueChecked(bootPacket(BootErase), 150, 0).has_value();
}

bool ZorvaniDriver::bootWriteFlash(QByteArray& data, int offset)
{
    if (!isOpen() || data.size() != kBootChunk)
        return false;
    QByteArray p = bootPacket(BootWriteFlash, kBootChunk, quint32(offset));
    std::copy(data.cbegin(), data.cend(), p.begin() + kHeaderSize);
    return issueChecked(p, 400, 0, kMaxRetries).has_value();
}

bool ZorvaniDriver::bootWriteAT45D(QByteArray& data, int page)
{
    if (!isOpen() || data.size() != kFlashPage)
        return false;
    QByteArray p = bootPacket(BootWriteAT45D, kFlashPage, quint32(page));
    std::copy(data.cbegin(), data.cend(), p.begin() + kHeaderSize);
    return issueChecked(p, 300, 0, kMaxRetries).has_value();
}

bool ZorvaniDriver::bootReadAT45D(QByteArray& data, int page)
{
    if (!isOpen())
        return false;
    const auto reply = issueChecked(bootPacket(BootReadAT45D, 0, quint32(page)), 300, 0, kMaxRetries);
    if (!reply || reply->size() < kHeaderSize + kFlashPage)
        return false;
    data = reply->mid(kHeaderSize, kFlashPage);
    return true;
}

bool ZorvaniDriver::quitFromBoot()
{
    if (!isOpen())
        return false;
    issue(makePacket(kMagicBoot, BootQuit, 0, 0, 0, 0, kQuitDatagram), 50, false);
    pause(m_bootSettleMs);
    return information(nullptr);
}
