// The controller's network actions: a new static address, the network mode
// and the reset. Each opens the link for itself when it is closed.
#include "ZorvaniControl/ZorvaniControl.h"

#include "ZorvaniControl/ZorvaniDriver/ZorvaniDriver.h"
#include "common/DottedAddress.h"
#include "common/EventPause.h"
#include "common/MessageBox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

namespace {
// Settle time after each network command, ms.
constexpr int kNetworkSettleMs = 50;

void showError(const QString& text)
{
    ox::ui::showMessage(QMessageBox::Critical, QStringLiteral("Error"), text);
}

} // namespace

bool ZorvaniControl::openForAction(bool* opened, const QString& title)
{
    *opened = false;
    if (firmwareUpdating())
        return false;
    if (isOpen())
        return true;
    if (staticAddressMode())
        m_receiver = typedReceiver();
    if (!m_driver->open(m_receiver)) {
        ox::ui::showMessage(QMessageBox::Critical, title,
                            QStringLiteral("Failed to open %1 port!").arg(m_receiver.port));
        return false;
    }
    *opened = true;
    return true;
}

void ZorvaniControl::closeAfterAction(bool opened)
{
    if (opened && isOpen())
        m_driver->close();
}

void ZorvaniControl::resetReceiver()
{
    const bool streaming = isStreaming();
    m_driver->resetZorvani();
    ox::ui::pauseProcessingEvents(kNetworkSettleMs);
    // The receiver restarts: a stream it was sending is gone.
    if (streaming)
        emit forceStop();
}

void ZorvaniControl::setIpAddress()
{
    bool opened = false;
    if (!openForAction(&opened))
        return;
    const QString typed = m_controls.staticAddress->text().trimmed();
    const quint16 newPort = quint16(m_controls.newPort->value());
    ox::ui::MessageRequest ask;
    ask.icon = QMessageBox::Question;
    ask.title = QStringLiteral("Velmora2");
    ask.text = QStringLiteral("Do you want to change the IP address and port?");
    ask.informativeText = QStringLiteral("  new port: %1\nNew Static IP: %2").arg(newPort).arg(typed);
    ask.buttons = QMessageBox::Yes | QMessageBox::No;
    ask.defaultButton = QMessageBox::No;
    if (ox::ui::showMessage(ask) == QMessageBox::Yes) {
        QHostAddress address = zorvani::dottedAddress(typed);
        if (address.isNull()) {
            showError(QStringLiteral("Incorrect IP address!"));
        } else if (m_driver->setNewStaticAddress(address, newPort)) {
            ox::ui::pauseProcessingEvents(kNetworkSettleMs);
            resetReceiver();
            if (staticAddressMode()) {
                m_controls.address->setText(address.toString());
                m_controls.port->setValue(newPort);
            }
        } else {
            showError(QStringLiteral("Failed to set static address!"));
        }
    }
    closeAfterAction(opened);
}

void ZorvaniControl::writeNetworkMode()
{
    bool opened = false;
    if (!openForAction(&opened))
        return;
    const auto mode = NetworkMode(m_controls.networkMode->currentIndex());
    // The receiver takes the new mode when it restarts.
    if (m_driver->setNetworkMode(mode))
        resetReceiver();
    else
        showError(QStringLiteral("Failed to set network mode to ZorvaniDDC!"));
    closeAfterAction(opened);
}

void ZorvaniControl::resetZorvani()
{
    bool opened = false;
    if (!openForAction(&opened))
        return;
    resetReceiver();
    closeAfterAction(opened);
}
