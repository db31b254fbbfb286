#include "ZorvaniControl/InitFpga.h"

#include "ui_InitFpga.h"

InitFpga::InitFpga(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::InitFpga>())
{
    m_ui->setupUi(this);
    setFixedSize(240, 80);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
}

InitFpga::~InitFpga() = default;
