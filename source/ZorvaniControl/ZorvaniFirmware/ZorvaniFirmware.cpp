#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmware.h"

#include "ZorvaniControl/ReceiverChecks.h"
#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "ZorvaniControl/ZorvaniFirmware/FirmwareImage.h"
#include "ZorvaniControl/ZorvaniFirmware/FirmwareStates.h"
#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmwareDialog.h"
#include "common/EventPause.h"
#include "discovery/ZorvaniSearcher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>

using namespace zorvani::firmware;

namespace {
// Longest uninterrupted wait, so an abandoned update ends soon, ms.
constexpr int kSliceMs = 20;
} // namespace

ZorvaniFirmware::ZorvaniFirmware(ZorvaniDriver* driver, QObject* parent)
    : QThread(parent), m_driver(driver), m_dialog(std::make_unique<ZorvaniFirmwareDialog>()),
      m_imagePath(QStringLiteral(":/Zorvani/ZorvaniMCU.mcu")),
      m_admin(QCoreApplication::arguments().contains(QStringLiteral("admin")))
{
    setObjectName(QStringLiteral("ZorvaniFirmware"));
    // The process-wide searcher is made here, on the GUI thread, should the
    // update thread be the first to use it.
    ZorvaniSearcher::instance();
    connect(this, &ZorvaniFirmware::state, m_dialog.get(), &ZorvaniFirmwareDialog::setState, Qt::QueuedConnection);
    connect(this, &ZorvaniFirmware::progress, m_dialog.get(), &ZorvaniFirmwareDialog::setProgress,
            Qt::QueuedConnection);
    connect(m_dialog.get(), &ZorvaniFirmwareDialog::retry, this, &ZorvaniFirmware::retryUpgrade);
    connect(m_dialog.get(), &ZorvaniFirmwareDialog::cancel, this, &ZorvaniFirmware::cancelUpgrade);
    connect(this, &ZorvaniFirmware::searchCurrent, m_driver, &ZorvaniDriver::searchCurrent);
}

ZorvaniFirmware::~ZorvaniFirmware()
{
    m_abandon.store(true);
    QThread::wait();
}

void ZorvaniFirmware::setImagePath(const QString& path)
{
    m_imagePath = path;
}

void ZorvaniFirmware::setTiming(const Timing& timing)
{
    m_timing = timing;
}

void ZorvaniFirmware::setAdmin(bool admin)
{
    m_admin = admin;
}

void ZorvaniFirmware::setSearchTargets(Searcher::TargetProvider targets)
{
    m_targets = std::move(targets);
}

void ZorvaniFirmware::upgrade()
{
    if (isUpdating())
        return;
    // After its last state the thread only returns: let it, then start anew.
    QThread::wait();
    m_abandon.store(false);
    m_ended.store(false);
    start();
}

void ZorvaniFirmware::retryUpgrade()
{
    upgrade();
}

void ZorvaniFirmware::cancelUpgrade()
{
    if (isUpdating()) {
        m_abandon.store(true);
        return;
    }
    QThread::wait();
    m_driver->close();
}

void ZorvaniFirmware::run()
{
    // The searcher's socket belongs to this thread.
    Searcher searcher;
    searcher.setTargetProvider(m_targets);
    const int last = update(searcher);
    if (last == kAbandoned) {
        m_driver->close();
        m_ended.store(true);
        return;
    }
    report(last);
}

void ZorvaniFirmware::report(int value)
{
    if (isEnd(value)) {
        if (isError(value))
            qWarning() << Q_FUNC_INFO << "state" << value << stateText(value);
        m_ended.store(true);
    }
    emit state(value);
}

int ZorvaniFirmware::update(Searcher& searcher)
{
    m_receiver = m_driver->currentReceiver();
    m_discoveryPort = m_receiver.port != 0 ? m_receiver.port : kDiscoveryPort;
    if (!m_driver->isOpen() && !m_driver->open(m_receiver))
        return PortError;

    if (!m_admin && !m_driver->bootReadSN()) {
        SDR2_HDR info{};
        if (m_driver->information(&info) && zorvani::checks::isCurrentFirmware(info))
            return UpToDate;
    }
    // Before the receiver is touched: an image that cannot be sent must not
    // leave it erased.
    QByteArray image;
    if (const int failed = loadImage(&image))
        return failed;

    report(EnteringBootloader);
    if (!enterBootloader(searcher))
        return abandoned() ? kAbandoned : NoBootloader;

    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        report(Erasing);
        if (!erase())
            return abandoned() ? kAbandoned : EraseFailed;
        pauseFor(m_timing.settleMs);
        report(Writing);
        if (!writeImage(image)) {
            if (abandoned())
                return kAbandoned;
            qWarning() << Q_FUNC_INFO << "write attempt" << attempt + 1 << "failed";
            continue;
        }
        emit progress(100);
        report(Resetting);
        pauseFor(m_timing.settleMs);
        // Only an application that answers again has taken the image.
        const bool restarted = m_driver->quitFromBoot();
        m_driver->close();
        return restarted ? Finished : NoApplication;
    }
    m_driver->close();
    return WriteFailed;
}

int ZorvaniFirmware::loadImage(QByteArray* image) const
{
    QFile file(m_imagePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << Q_FUNC_INFO << "cannot open" << m_imagePath << file.errorString();
        return NoImage;
    }
    // One byte beyond the image area tells that the file does not fit.
    const QByteArray bytes = file.read(kImageBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        qWarning() << Q_FUNC_INFO << "cannot read" << m_imagePath << file.errorString();
        return NoImage;
    }
    const auto built = buildImage(bytes);
    if (!built) {
        qWarning() << Q_FUNC_INFO << m_imagePath << "is larger than" << kImageBytes << "bytes";
        return ImageTooLarge;
    }
    *image = *built;
    return 0;
}

bool ZorvaniFirmware::enterBootloader(Searcher& searcher)
{
    if (m_driver->bootReadSN() || m_driver->goToBoot())
        return true;
    for (int pass = 0; pass < m_timing.passes && !abandoned(); ++pass) {
        if (m_driver->bootReadSN())
            return true;
        pauseFor(m_timing.passWaitMs);
        if (abandoned())
            break;
        // Restarted into its bootloader, the receiver may have taken another address.
        const Receiver found = searcher.findBySerial(m_receiver.serial, m_discoveryPort);
        if (found.port != 0) {
            m_receiver = found;
            m_driver->reopen(found);
            ZorvaniSearcher::instance().setCurrent(found);
        }
    }
    return false;
}

bool ZorvaniFirmware::erase()
{
    for (int i = 0; i < kEraseTries && !abandoned(); ++i)
        if (m_driver->bootErase())
            return true;
    return false;
}

bool ZorvaniFirmware::writeImage(const QByteArray& image)
{
    QByteArray chunk(kChunkBytes, '\0');
    for (int offset = 0; offset < kImageBytes; offset += kChunkBytes) {
        if (abandoned())
            return false;
        encipherChunk(image, offset, chunk);
        // Sent once: without an answer the attempt ends, and the next one
        // starts again from the erase.
        if (!m_driver->bootWriteFlash(chunk, offset))
            return false;
        emit progress(progressAfter(offset));
    }
    return true;
}

void ZorvaniFirmware::pauseFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = ms; left > 0 && !abandoned(); left = ms - clock.elapsed())
        ox::ui::pauseProcessingEvents(int(std::min<qint64>(left, kSliceMs)));
}
