#include "common/MessageBox.h"

#include <QMutex>
#include <QMutexLocker>

namespace ox::ui {

namespace {
QMutex handlerMutex;
MessageHandler& handler()
{
    static MessageHandler h;
    return h;
}
} // namespace

void setMessageHandler(MessageHandler h)
{
    QMutexLocker lock(&handlerMutex);
    handler() = std::move(h);
}

QMessageBox::StandardButton showMessage(const MessageRequest& request)
{
    MessageHandler h;
    {
        QMutexLocker lock(&handlerMutex);
        h = handler();
    }
    if (h)
        return h(request);

    QMessageBox box(request.icon, request.title, request.text, request.buttons, request.parent);
    if (!request.informativeText.isEmpty())
        box.setInformativeText(request.informativeText);
    if (request.defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(request.defaultButton);
    if (request.minimumWidth > 0)
        box.setMinimumWidth(request.minimumWidth);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QMessageBox::StandardButton showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    MessageRequest request;
    request.icon = icon;
    request.title = title;
    request.text = text;
    request.buttons = buttons;
    request.defaultButton = defaultButton;
    return showMessage(request);
}

} // namespace ox::ui
