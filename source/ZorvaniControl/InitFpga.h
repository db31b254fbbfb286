#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class InitFpga;
}

// The busy window shown while the FPGA image is loaded.
class InitFpga : public QDialog {
    Q_OBJECT
public:
    explicit InitFpga(QWidget* parent = nullptr);
    ~InitFpga() override;

private:
    std::unique_ptr<Ui::InitFpga> m_ui;
};
