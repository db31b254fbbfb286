#include "ZorvaniDialog/ReceiverItem.h"

#include "ui_ReceiverItem.h"

ReceiverItem::ReceiverItem(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::ReceiverItem>())
{
    m_ui->setupUi(this);
    setFixedSize(361, 50);
    setWindowFlags(Qt::Widget);
}

ReceiverItem::~ReceiverItem() = default;

QString ReceiverItem::fragment(const QString& text, int points, bool bold, int red, int green, int blue)
{
    return QStringLiteral("<html><span style=\" font-size:%1pt; %2color:rgb( %3,%4,%5);\">%6</span></html>")
        .arg(points)
        .arg(bold ? QStringLiteral("font-weight:600; ") : QString())
        .arg(red)
        .arg(green)
        .arg(blue)
        .arg(text);
}

void ReceiverItem::initGui(Receiver& r)
{
    m_receiver = r;
    const QString text =
        fragment(r.name + QStringLiteral("&nbsp;&nbsp;SN:&nbsp;") + r.serial, 10, true, 255, 255, 255) +
        QStringLiteral("<br/>") +
        fragment(QStringLiteral("Address:") + r.address.toString() + QStringLiteral("   "), 8, false, 200, 200, 200) +
        fragment(QStringLiteral("&nbsp;&nbsp;Port:") + QString::number(r.port), 8, false, 200, 200, 200);
    m_ui->lbInfo->setText(text);
    connect(m_ui->pbUse, &QPushButton::clicked, this, &ReceiverItem::use, Qt::UniqueConnection);
}

QString ReceiverItem::labelText() const
{
    return m_ui->lbInfo->text();
}

void ReceiverItem::use()
{
    emit receiver(m_receiver);
}
