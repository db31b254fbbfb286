#pragma once

#include "discovery/Receiver.h"

#include <QDialog>

#include <memory>

namespace Ui {
class ReceiverItem;
}

// One row of the receiver chooser: name, serial, address and port, and "Use".
class ReceiverItem : public QDialog {
    Q_OBJECT
public:
    explicit ReceiverItem(QWidget* parent = nullptr);
    ~ReceiverItem() override;

    void initGui(Receiver& r);
    Receiver record() const { return m_receiver; }
    QString labelText() const;

    // One rich-text fragment of the row's label.
    static QString fragment(const QString& text, int points, bool bold, int red, int green, int blue);

public slots:
    void use();

signals:
    void receiver(Receiver rx);

private:
    std::unique_ptr<Ui::ReceiverItem> m_ui;
    Receiver m_receiver;
};
