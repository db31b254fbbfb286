#include "ZorvaniOptions/ZorvaniOptions.h"

#include "discovery/DiscoverLockMediator.h"

#include <QComboBox>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

// Placeholder form; the full designer form comes with the options work.
ZorvaniOptions::ZorvaniOptions(QWidget* parent)
    : QWidget(parent), m_menu(std::make_unique<QMenu>()), m_lock(new DiscoverLockMediator(this))
{
    setObjectName("ZorvaniOptions");
    auto* layout = new QVBoxLayout(this);
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName("tbwOptions");
    for (const char* page : {"DSP", "Ext Ctrl", "Expert", "Admin"})
        tabs->addTab(new QWidget(tabs), page);
    layout->addWidget(tabs);
    auto* search = new QPushButton("Discover", this);
    search->setObjectName("pbSearch");
    auto* info = new QPushButton("Info", this);
    info->setObjectName("pbInfo");
    auto* pitch = new QSpinBox(this);
    pitch->setObjectName("sbCwPitch");
    pitch->setRange(300, 1000);
    pitch->setValue(700);
    auto* rate = new QComboBox(this);
    rate->setObjectName("cbSampleRate");
    rate->addItems({"39062.5", "78125", "156250", "312500"});
    for (QWidget* w : {static_cast<QWidget*>(search), static_cast<QWidget*>(info), static_cast<QWidget*>(pitch),
                       static_cast<QWidget*>(rate)})
        layout->addWidget(w);
}

ZorvaniOptions::~ZorvaniOptions() = default;

QMenu* ZorvaniOptions::deviceMenu() const { return m_menu.get(); }
DiscoverLockMediator* ZorvaniOptions::discoverLock() const { return m_lock; }
Receiver ZorvaniOptions::receiverRecord() const { return m_receiver; }
void ZorvaniOptions::setReceiver(Receiver r) { m_receiver = r; }
