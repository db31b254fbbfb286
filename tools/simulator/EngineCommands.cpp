#include "SimulatorEngine.h"

#include "Protocol.h"
#include "SimulatorData.h"

#include "ZorvaniControl/ZorvaniFirmware/Rc6.h"

#include <QDebug>
#include <QFile>
#include <QSettings>

#include <cstring>

// The receiver's answers to application and bootloader commands.
namespace zorvani::sim {

using namespace proto;

bool SimulatorEngine::handleApp(const QByteArray& d)
{
    const quint16 code = rd16(d, kOffCommand);
    const int length = rd16(d, kOffLength);
    const quint32 param = rd32(d, kOffParam);
    // A request is exactly its header and payload.
    if (d.size() != kHeaderBytes + length)
        return false;
    auto u32Arg = [&](quint32* value) {
        if (length != 4)
            return false;
        *value = rd32(d, kOffPayload);
        return true;
    };
    quint32 v = 0;
    switch (code) {
    case CmdStart:
        return startStream(d);
    case CmdStop:
        if (length != 4)
            return false;
        stopStream();
        reply(d, 1);
        return true;
    case CmdPreamp:
    case CmdExtCtrl:
    case CmdLpf:
    case CmdPll: {
        if (!u32Arg(&v))
            return false;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            State& s = m_data->state;
            if (code == CmdPreamp)
                s.preamp = v != 0;
            else if (code == CmdExtCtrl)
                s.extCtrl = v;
            else if (code == CmdLpf)
                s.lpf = v != 0;
            else
                s.pll = v != 0;
        }
        reply(d, 1);
        return true;
    }
    case CmdFreq: {
        if (length != 8 || param > 1)
            return false;
        const quint64 f = rd64(d, kOffPayload);
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.freq[param] = f;
        }
        m_generators[param]->setTuning(double(f) / 10.0, m_generators[param]->rateHz());
        reply(d, 1);
        return true;
    }
    case CmdFpga: {
        if (length == 0 || length > kFpgaChunkMax)
            return false;
        const QByteArray chunk = d.mid(kHeaderBytes);
        const bool crcOk = crc32(chunk) == rd32(d, kOffCrc);
        if (crcOk) {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            QByteArray& img = m_data->fpga;
            if (param == 0)
                img.clear();
            if (img.size() < int(param) + length)
                img.resize(int(param) + length);
            std::memcpy(img.data() + param, chunk.constData(), size_t(length));
        }
        reply(d, crcOk ? 1 : 0, chunk);
        return true;
    }
    case CmdWriteRootCal:
    case CmdWriteUserCal: {
        if (length != kCalibrationBytes)
            return false;
        const QByteArray block = d.mid(kHeaderBytes);
        const bool crcOk = quint32(~crc32(block.constData() + 4, kCalibrationBytes - 4)) == rd32(block, 0);
        if (crcOk) {
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                (code == CmdWriteRootCal ? m_data->state.rootCalibration : m_data->state.userCalibration) = block;
            }
            saveCalibration();
        }
        reply(d, crcOk ? 1 : 0);
        return true;
    }
    case CmdReadRootCal:
    case CmdReadUserCal: {
        if (length != 0)
            return false;
        QByteArray block;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            block = code == CmdReadRootCal ? m_data->state.rootCalibration : m_data->state.userCalibration;
        }
        reply(d, 1, block);
        return true;
    }
    case CmdStaticAddress: {
        if (length != 8)
            return false;
        const quint32 ip = quint32(quint8(d[kOffPayload])) << 24 | quint32(quint8(d[kOffPayload + 1])) << 16 |
                           quint32(quint8(d[kOffPayload + 2])) << 8 | quint32(quint8(d[kOffPayload + 3]));
        const quint32 port = rd32(d, kOffPayload + 4);
        if (port == 0 || port > 0xFFFF) {
            reply(d, 0);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.staticAddress = QHostAddress(ip);
            m_data->state.staticPort = quint16(port);
        }
        reply(d, 1);
        return true;
    }
    case CmdWriteDataFlash: {
        if (length != kDataFlashPageBytes)
            return false;
        const bool inRange = param < quint32(kDataFlashPages);
        if (inRange) {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->dataFlash[int(param)] = d.mid(kHeaderBytes);
        }
        reply(d, inRange ? 1 : 0);
        return true;
    }
    case CmdInformation:
        if (length != 0)
            return false;
        reply(d, 1, informationRecord());
        return true;
    case CmdGoToBoot:
        if (length != 0)
            return false;
        beginSilence(Pending::EnterBoot, m_config.bootSwitchMs);
        reply(d, 1);
        return true;
    case CmdBandScope: {
        if (length != 12)
            return false;
        BandScopeState bs;
        bs.enable = d[kOffPayload] != 0;
        bs.decimation = quint8(d[kOffPayload + 1]);
        bs.centre = rd64(d, kOffPayload + 4);
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.bandScope = bs;
        }
        m_bandScope->setTuning(double(bs.centre) / 10.0, kBandScopeRateHz / (bs.decimation + 1));
        reply(d, 1);
        return true;
    }
    case CmdNetworkMode: {
        if (!u32Arg(&v))
            return false;
        if (v <= 3) {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.networkMode = v;
        }
        reply(d, v <= 3 ? 1 : 0);
        return true;
    }
    case CmdReset:
        if (length != 0)
            return false;
        beginSilence(Pending::Reset, m_config.resetSilenceMs);
        reply(d, 1);
        return true;
    case CmdFrontEnd: {
        if (length == 0) {
            quint32 fe;
            {
                std::lock_guard<std::mutex> lock(m_data->mutex);
                fe = m_data->state.frontEnd;
            }
            QByteArray payload(4, '\0');
            wr32(payload, 0, fe);
            reply(d, 1, payload);
            return true;
        }
        if (!u32Arg(&v))
            return false;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->state.frontEnd = v;
        }
        reply(d, 1);
        return true;
    }
    default:
        return false;
    }
}

bool SimulatorEngine::handleBoot(const QByteArray& d)
{
    const quint16 code = rd16(d, kOffCommand);
    const int length = rd16(d, kOffLength);
    const quint32 param = rd32(d, kOffParam);
    bool bootloader;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        bootloader = m_data->state.bootloader;
    }
    const bool quit = code == BootQuit && length == 0 && d.size() == kBootQuitBytes;
    if (d.size() != kHeaderBytes + length && !quit)
        return false;
    if (!bootloader) {
        // The application knows no bootloader command: it says so (status 1 is not
        // the bootloader's success) so that a probe fails at once.
        reply(d, 1);
        return true;
    }
    switch (code) {
    case BootReadSerial: {
        QByteArray payload(8, '\0');
        wr32(payload, 0, m_config.serialDecimal);
        payload[4] = char(m_config.serialHi);
        payload[5] = char(m_config.serialLo);
        reply(d, 0, payload);
        return true;
    }
    case BootErase:
        if (length != 0)
            return false;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->flash.fill(char(0xFF));
        }
        reply(d, 0);
        return true;
    case BootWriteFlash: {
        if (length != kFlashChunkBytes)
            return false;
        if (param % kFlashChunkBytes != 0 || param >= quint32(kFlashBytes)) {
            reply(d, 1);
            return true;
        }
        quint8 plain[kFlashChunkBytes];
        rc6DecryptChunk(reinterpret_cast<const quint8*>(d.constData()) + kHeaderBytes, plain);
        {
            // Flash cells only go from 1 to 0: writing over unerased data corrupts it.
            std::lock_guard<std::mutex> lock(m_data->mutex);
            char* dst = m_data->flash.data() + param;
            for (int i = 0; i < kFlashChunkBytes; ++i)
                dst[i] = char(quint8(dst[i]) & plain[i]);
        }
        reply(d, 0);
        return true;
    }
    case BootWriteDataFlash:
        if (length != kDataFlashPageBytes)
            return false;
        if (param >= quint32(kDataFlashPages)) {
            reply(d, 1);
            return true;
        }
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            m_data->dataFlash[int(param)] = d.mid(kHeaderBytes);
        }
        reply(d, 0);
        return true;
    case BootReadDataFlash: {
        if (length != 0)
            return false;
        if (param >= quint32(kDataFlashPages)) {
            reply(d, 1);
            return true;
        }
        QByteArray page;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            page = m_data->dataFlash.value(int(param), QByteArray(kDataFlashPageBytes, char(0xFF)));
        }
        reply(d, 0, page);
        return true;
    }
    case BootQuit: {
        if (!quit)
            return false;
        bool valid;
        {
            std::lock_guard<std::mutex> lock(m_data->mutex);
            const QByteArray& f = m_data->flash;
            valid = quint32(~crc32(f.constData(), kFlashBytes - 4)) == rd32(f, kFlashBytes - 4);
            if (valid) {
                m_data->state.versionMajor = m_config.flashedVersionMajor;
                m_data->state.versionMinor = m_config.flashedVersionMinor;
                ++m_data->state.firmwareUpdates;
            }
        }
        if (valid)
            beginSilence(Pending::LeaveBoot, m_config.bootSwitchMs);
        else
            qWarning() << Q_FUNC_INFO << "firmware image CRC mismatch, staying in the bootloader";
        return true;
    }
    default:
        return false;
    }
}

bool SimulatorEngine::refuseOnRequest(const QByteArray& d)
{
    const quint16 magic = rd16(d, kOffMagic);
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        auto fail = m_data->faults.failCommands.find(commandKey(rd16(d, kOffCommand), magic));
        if (fail == m_data->faults.failCommands.end() || fail.value() == 0)
            return false;
        if (fail.value() > 0)
            --fail.value();
    }
    // Success is 1 for the application, 0 for the bootloader.
    reply(d, magic == kMagicBoot ? 1 : 0);
    return true;
}

QByteArray SimulatorEngine::informationRecord() const
{
    QByteArray r(kInformationBytes, '\0');
    std::lock_guard<std::mutex> lock(m_data->mutex);
    wr16(r, kOffInfoType, 2);
    wr16(r, kOffInfoVersionMajor, m_data->state.versionMajor);
    wr16(r, kOffInfoVersionMinor, m_data->state.versionMinor);
    wr32(r, kOffInfoSerial, m_config.serialDecimal);
    r[kOffInfoSerialHex] = char(m_config.serialHi);
    r[kOffInfoSerialHex + 1] = char(m_config.serialLo);
    wr32(r, kOffInfoStatus, m_config.statusBits);
    wr32(r, kOffInfoPcb, m_config.pcbRevision);
    return r;
}

void SimulatorEngine::loadCalibration()
{
    if (m_config.calibrationFile.isEmpty() || !QFile::exists(m_config.calibrationFile))
        return;
    QSettings file(m_config.calibrationFile, QSettings::IniFormat);
    const QByteArray root = QByteArray::fromHex(file.value(QStringLiteral("root")).toByteArray());
    const QByteArray user = QByteArray::fromHex(file.value(QStringLiteral("user")).toByteArray());
    std::lock_guard<std::mutex> lock(m_data->mutex);
    if (root.size() == kCalibrationBytes)
        m_data->state.rootCalibration = root;
    if (user.size() == kCalibrationBytes)
        m_data->state.userCalibration = user;
}

void SimulatorEngine::saveCalibration() const
{
    if (m_config.calibrationFile.isEmpty())
        return;
    QByteArray root, user;
    {
        std::lock_guard<std::mutex> lock(m_data->mutex);
        root = m_data->state.rootCalibration;
        user = m_data->state.userCalibration;
    }
    QSettings file(m_config.calibrationFile, QSettings::IniFormat);
    file.setValue(QStringLiteral("root"), root.toHex());
    file.setValue(QStringLiteral("user"), user.toHex());
    file.sync();
    if (file.status() != QSettings::NoError)
        qWarning() << Q_FUNC_INFO << "cannot write" << m_config.calibrationFile;
}

} // namespace zorvani::sim
