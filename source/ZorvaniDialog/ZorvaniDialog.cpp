#include "ZorvaniDialog/ZorvaniDialog.h"

#include "discovery/ZorvaniSearcher.h"

// Placeholder dialog; the rows come with the device-link work.
ZorvaniDialog::ZorvaniDialog(QWidget* parent) : QDialog(parent) {}
ZorvaniDialog::~ZorvaniDialog() = default;
void ZorvaniDialog::initList(QList<Receiver>&) {}
void ZorvaniDialog::chooseReceiver(Receiver rx)
{
    hide();
    ZorvaniSearcher::instance().setCurrent(rx);
}
