#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ZorvaniFirmwareDialog;
}

// The window of a firmware update: the step, a progress bar, and the error
// box that offers Retry or Cancel. GUI thread; the update thread's state and
// progress reach it queued.
class ZorvaniFirmwareDialog : public QDialog {
    Q_OBJECT
public:
    explicit ZorvaniFirmwareDialog(QWidget* parent = nullptr);
    ~ZorvaniFirmwareDialog() override;

    QString statusText() const;
    int progressValue() const;
    int progressMaximum() const;

signals:
    void retry();
    void cancel();

public slots:
    // A state of zorvani::firmware::State (0 ... 14).
    void setState(int value);
    // Percent, 0 ... 100.
    void setProgress(int value);

private:
    std::unique_ptr<Ui::ZorvaniFirmwareDialog> m_ui;
};
