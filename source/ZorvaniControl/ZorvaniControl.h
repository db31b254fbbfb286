#pragma once

#include "discovery/Receiver.h"
#include "recording/IQFile.h"

#include <QObject>

#include <memory>

class DeviceFunctionsAbstract;
class ZorvaniDialog;
class ZorvaniOptions;
class zorvaniDsp;

// The controller behind the options page: turns user actions into driver and
// DSP calls and runs the receiver's start sequence.
class ZorvaniControl : public QObject {
    Q_OBJECT
public:
    ZorvaniControl(ZorvaniOptions* options, std::shared_ptr<DeviceFunctionsAbstract> functions,
                   std::shared_ptr<zorvaniDsp> dsp, IqFileSlots* iqFiles, ZorvaniDialog* dialog);
    ~ZorvaniControl() override;

signals:
    void currentSampleRate(double hz);
    void sDigOffset(int digl, int digu);
    void forceStop();
    void beginFind();
    void receiver(Receiver rx);

private:
    ZorvaniOptions* m_options;
    std::shared_ptr<DeviceFunctionsAbstract> m_functions;
    std::shared_ptr<zorvaniDsp> m_dsp;
    IqFileSlots* m_iqFiles;
    ZorvaniDialog* m_dialog;
};
