#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace ox::ui {

// Everything a modal message box shows. Every box of the plug-in goes through
// showMessage(), so that tests can answer it without a dialog.
struct MessageRequest {
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QWidget* parent = nullptr;
    int minimumWidth = 0;
};

using MessageHandler = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Shows the box modally and returns the button pressed, or, when a handler is
// installed, returns the handler's answer instead.
QMessageBox::StandardButton showMessage(const MessageRequest& request);
// The same for a box that is only an icon, a title, a text and its buttons.
QMessageBox::StandardButton showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// Installs a handler for all boxes (an empty one restores real boxes).
void setMessageHandler(MessageHandler handler);

} // namespace ox::ui
