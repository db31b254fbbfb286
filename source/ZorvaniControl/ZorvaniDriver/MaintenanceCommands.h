#pragma once

#include "ZorvaniControl/ZorvaniDriver/Calibration.h"

#include <QByteArray>
#include <QString>

class CommandQueue;

// The receiver's maintenance: FPGA loading, data-flash pages, the bootloader
// and the calibration blocks. Runs on the caller's thread; every command
// waits for its reply (see CommandQueue). Times in ms, sizes in bytes.
class MaintenanceCommands {
public:
    static constexpr int kFpgaChunk = 1024;
    // Bytes of the FPGA image file before the image itself.
    static constexpr int kFpgaHeader = 1056;
    static constexpr int kFlashPage = 1056;
    static constexpr int kBootChunk = 1024;

    explicit MaintenanceCommands(CommandQueue& queue) : m_queue(queue) {}

    // Time the receiver needs to switch between application and bootloader (default 5000).
    void setBootSettleTime(int ms) { m_bootSettleMs = ms; }

    // One chunk of at most 1024 bytes at `offset`; on success `data` holds the receiver's echo.
    bool writeFpga(QByteArray& data, int offset);
    // The image in the file at `path`, in chunks, up to three attempts.
    enum class FpgaLoad { Loaded, NoImage, Failed };
    FpgaLoad loadFpga(const QString& path);
    bool writeAT45D(QByteArray& data, int page);

    // Asks the application to restart into the bootloader, waits for it and checks it answers.
    bool goToBoot();
    bool bootReadSN();
    bool bootErase();
    bool bootWriteFlash(QByteArray& data, int offset);
    bool bootWriteAT45D(QByteArray& data, int page);
    bool bootReadAT45D(QByteArray& data, int page);
    // Asks the bootloader to start the application and waits for it; false when the link is closed.
    bool quitBoot();

    // Reads: *crcOk tells whether the block's CRC holds (the record is filled
    // only then). Writes: *crcOk tells whether the receiver accepted the block.
    // Without an answer both return false and leave *crcOk alone.
    bool readCalibration(quint16 command, double* coefficients, double* percent, bool* crcOk);
    bool writeCalibration(quint16 command, const double* coefficients, double percent, bool* crcOk);

private:
    CommandQueue& m_queue;
    int m_bootSettleMs = 5000;
};
