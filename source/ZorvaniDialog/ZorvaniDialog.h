#pragma once

#include "discovery/Receiver.h"

#include <QDialog>
#include <QList>

#include <memory>

class ReceiverItem;
namespace Ui {
class ZorvaniDialog;
}

// Lists the receivers that discovery found and lets the user pick one.
class ZorvaniDialog : public QDialog {
    Q_OBJECT
public:
    explicit ZorvaniDialog(QWidget* parent = nullptr);
    ~ZorvaniDialog() override;

    // Rebuilds the rows; the last record of the list is shown at the top.
    void initList(QList<Receiver>& list);
    // The rows from top to bottom.
    QList<ReceiverItem*> rows() const;

public slots:
    // Hides the dialog, makes rx the current receiver and announces it.
    void chooseReceiver(Receiver rx);

signals:
    void receiver(Receiver rx);

private:
    std::unique_ptr<Ui::ZorvaniDialog> m_ui;
    QList<ReceiverItem*> m_items;
};
