#include "ZorvaniDialog/ZorvaniDialog.h"

#include "ZorvaniDialog/ReceiverItem.h"
#include "discovery/ZorvaniSearcher.h"
#include "ui_ZorvaniDialog.h"

ZorvaniDialog::ZorvaniDialog(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::ZorvaniDialog>())
{
    m_ui->setupUi(this);
}

ZorvaniDialog::~ZorvaniDialog() = default;

void ZorvaniDialog::initList(QList<Receiver>& list)
{
    for (ReceiverItem* item : qAsConst(m_items)) {
        m_ui->rxLayout->removeWidget(item);
        delete item;
    }
    m_items.clear();
    for (Receiver& r : list) {
        auto* item = new ReceiverItem(m_ui->scrollAreaWidgetContents);
        item->initGui(r);
        m_items.append(item);
        m_ui->rxLayout->insertWidget(0, item);
        connect(item, &ReceiverItem::receiver, this, &ZorvaniDialog::chooseReceiver);
    }
}

QList<ReceiverItem*> ZorvaniDialog::rows() const
{
    QList<ReceiverItem*> rows;
    for (int i = 0; i < m_ui->rxLayout->count(); ++i)
        if (auto* item = qobject_cast<ReceiverItem*>(m_ui->rxLayout->itemAt(i)->widget()))
            rows.append(item);
    return rows;
}

void ZorvaniDialog::chooseReceiver(Receiver rx)
{
    hide();
    ZorvaniSearcher::instance().setCurrent(rx);
    emit receiver(rx);
}
