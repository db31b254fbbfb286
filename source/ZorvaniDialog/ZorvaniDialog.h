#pragma once

#include "discovery/Receiver.h"

#include <QDialog>
#include <QList>

// Lists the receivers that discovery found and lets the user pick one.
class ZorvaniDialog : public QDialog {
    Q_OBJECT
public:
    explicit ZorvaniDialog(QWidget* parent = nullptr);
    ~ZorvaniDialog() override;

    void initList(QList<Receiver>& list);

public slots:
    void chooseReceiver(Receiver rx);

signals:
    void receiver(Receiver rx);
};
