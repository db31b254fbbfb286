// The link operations of the device object: open, start, stop and close, the
// search for receivers and the information box.
#include "ZorvaniInterface.h"

#include "ZorvaniControl/ReceiverChecks.h"
#include "ZorvaniControl/ZorvaniControl.h"
#include "ZorvaniControl/ZorvaniDriver/InformationRecord.h"
#include "ZorvaniDialog/ZorvaniDialog.h"
#include "ZorvaniOptions/ZorvaniOptions.h"
#include "common/MessageBox.h"
#include "discovery/DiscoverLockMediator.h"
#include "discovery/Receiver.h"
#include "discovery/ZorvaniSearcher.h"
#include "zorvaniDsp/zorvaniDsp.h"

#include <algorithm>

namespace {
void showOpenError(quint16 port)
{
    ox::ui::showMessage(QMessageBox::Critical, QStringLiteral("Velmora2"),
                        QStringLiteral("Can't open %1 port!").arg(port));
}

void showNotFound()
{
    ox::ui::showMessage(QMessageBox::Critical, QStringLiteral("Velmora2"),
                        QStringLiteral("Can't get information because not found ZorvaniDDC."));
}

void showInformation(const SDR2_HDR& record)
{
    ox::ui::MessageRequest box;
    box.icon = QMessageBox::Information;
    box.title = QStringLiteral("Velmora2");
    box.text = QStringLiteral("Information.\t\t\t\t\t");
    box.informativeText = informationText(record);
    box.minimumWidth = 500;
    ox::ui::showMessage(box);
}

void unlockDiscovery(ZorvaniOptions* options)
{
    if (options && options->discoverLock()->isLocked())
        options->discoverLock()->setStart(false);
}
} // namespace

bool ZorvaniInterface::probeStaticAddress()
{
    Receiver typed = m_control->typedReceiver();
    typed.bootloader = false;
    m_options->setReceiver(typed);
    m_control->setReceiverRecord(typed);
    if (m_control->probeBootloader()) {
        typed.bootloader = true;
        m_options->setReceiver(typed);
        m_control->setReceiverRecord(typed);
        return true;
    }
    if (!m_control->probeInformation())
        return false;
    m_options->setReceiver(m_control->receiverRecord());
    return true;
}

bool ZorvaniInterface::open()
{
    if (!m_control)
        return false;
    if (m_control->staticAddressMode()) {
        if (!probeStaticAddress())
            return false;
    } else {
        m_control->updateReceiver();
        const Receiver wanted = m_control->receiverRecord();
        Receiver found = ZorvaniSearcher::instance().searcher().findBySerial(wanted.serial, m_control->port());
        if (found.port == 0) {
            if (!m_control->searchCurrent())
                return false;
            found = m_control->receiverRecord();
        }
        m_control->setReceiverRecord(found);
        m_options->setReceiver(found);
    }
    return m_control->open();
}

void ZorvaniInterface::close()
{
    if (!m_control)
        return;
    m_control->close();
    unlockDiscovery(m_options.get());
}

bool ZorvaniInterface::start()
{
    if (!m_control || !m_control->isOpen())
        return false;
    // An abandoned start has already closed everything (forceStop) and
    // leaves discovery unlocked: the host learns it from the result too.
    if (!m_control->startSequence())
        return false;
    DiscoverLockMediator* lock = m_options->discoverLock();
    if (!lock->isLocked())
        lock->setStart(true);
    if (RadioNotchFilterControlAbstract* notches = m_bridge ? m_bridge->radioNotchFilterControl() : nullptr) {
        for (std::size_t band = 0; band < notches->bandCount(); ++band)
            for (std::size_t f = 0; f < notches->filterCount(band); ++f) {
                const RadioNotchFilterParams p = notches->filter(band, f);
                m_dsp->onRnfParam(band, f, p.enable, p.frequency, p.width);
            }
        for (std::size_t band = 0; band < notches->bandCount(); ++band)
            m_dsp->onRnfEnabled(band, notches->bandEnabled(band));
    }
    return true;
}

void ZorvaniInterface::stop()
{
    if (!m_control)
        return;
    m_control->stopStream();
    unlockDiscovery(m_options.get());
}

bool ZorvaniInterface::isOpen() const
{
    return m_control && m_control->isOpen();
}

bool ZorvaniInterface::isStarted() const
{
    return m_control && m_control->isStreaming();
}

void ZorvaniInterface::search()
{
    if (!m_control)
        return;
    QList<Receiver> found = ZorvaniSearcher::instance().searcher().search(m_control->port());
    m_dialog->initList(found);
    m_dialog->show();
}

void ZorvaniInterface::info()
{
    if (!m_control)
        return;
    SDR2_HDR record{};
    if (m_control->isOpen()) {
        if (m_control->readInformation(&record))
            showInformation(record);
        else
            showNotFound();
        return;
    }
    if (m_control->staticAddressMode()) {
        if (!probeStaticAddress()) {
            showNotFound();
            return;
        }
        if (m_options->receiverRecord().bootloader) {
            if (!zorvani::checks::askUpdateFromBootloader())
                return;
            if (!m_control->open()) {
                showOpenError(m_control->port());
                return;
            }
            m_control->firmware2();
            return;
        }
        if (!m_control->open()) {
            showOpenError(m_control->port());
            return;
        }
    } else if (!open()) {
        showOpenError(m_control->port());
        return;
    }
    if (m_control->readInformation(&record)) {
        m_options->setReceiver(m_control->receiverRecord());
        showInformation(record);
    } else {
        showNotFound();
    }
}

void ZorvaniInterface::initReceiverAddr()
{
    if (!m_control)
        return;
    QList<Receiver> found = ZorvaniSearcher::instance().searcher().search(m_control->port());
    Receiver record = m_options->receiverRecord();
    if (!found.isEmpty()) {
        const QString serial = m_control->receiverRecord().serial;
        auto it = std::find_if(found.cbegin(), found.cend(), [&](const Receiver& r) { return r.serial == serial; });
        if (it == found.cend()) {
            m_dialog->initList(found);
        } else {
            record = *it;
            m_options->setReceiver(record);
        }
    }
    m_control->setReceiverRecord(record);
}

void ZorvaniInterface::setForceStop()
{
    if (!m_control)
        return;
    m_control->stopStream();
    unlockDiscovery(m_options.get());
    close();
}

bool ZorvaniInterface::isDeviceAvalible()
{
    if (!m_control)
        return false;
    const Receiver wanted = m_options->receiverRecord();
    Receiver found = ZorvaniSearcher::instance().searcher().findBySerial(wanted.serial, wanted.port);
    m_control->setReceiverRecord(found);
    if (!m_control->open())
        return false;
    const bool answered = m_control->readInformation(nullptr);
    m_control->close();
    return answered;
}
