#include "ZorvaniControl/ZorvaniFirmware/ZorvaniFirmwareDialog.h"

#include "ZorvaniControl/ZorvaniFirmware/FirmwareStates.h"
#include "common/MessageBox.h"

#include "ui_ZorvaniFirmwareDialog.h"

#include <QIcon>

using namespace zorvani::firmware;

ZorvaniFirmwareDialog::ZorvaniFirmwareDialog(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::ZorvaniFirmwareDialog>())
{
    m_ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/images/images/chip.png")));
    // A title but no buttons: the update cannot be closed half way.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(true);
}

ZorvaniFirmwareDialog::~ZorvaniFirmwareDialog() = default;

QString ZorvaniFirmwareDialog::statusText() const
{
    return m_ui->lbStatus->text();
}

int ZorvaniFirmwareDialog::progressValue() const
{
    return m_ui->progressBar->value();
}

int ZorvaniFirmwareDialog::progressMaximum() const
{
    return m_ui->progressBar->maximum();
}

void ZorvaniFirmwareDialog::setState(int value)
{
    if (isError(value)) {
        ox::ui::MessageRequest box;
        box.icon = QMessageBox::Critical;
        box.title = QStringLiteral("Velmora2");
        box.text = QStringLiteral("Firmware update error! ") + stateText(value);
        box.buttons = QMessageBox::Retry | QMessageBox::Cancel;
        box.defaultButton = QMessageBox::Retry;
        box.parent = isVisible() ? this : nullptr;
        if (ox::ui::showMessage(box) == QMessageBox::Retry) {
            emit retry();
        } else {
            hide();
            emit cancel();
        }
        return;
    }
    switch (value) {
    case Connecting:
    case EnteringBootloader:
    case Erasing:
        m_ui->progressBar->setRange(0, 0);
        break;
    case Writing:
        m_ui->progressBar->setRange(0, 100);
        m_ui->progressBar->setValue(0);
        break;
    case Verifying:
    case Resetting:
        break;
    case Finished:
        hide();
        return;
    case UpToDate:
        hide();
        ox::ui::showMessage(QMessageBox::Information, QStringLiteral("Velmora2"), stateText(UpToDate));
        return;
    default:
        return;
    }
    m_ui->lbStatus->setText(stateText(value));
    show();
}

void ZorvaniFirmwareDialog::setProgress(int value)
{
    m_ui->progressBar->setValue(value);
}
