#include "ZorvaniControl/ZorvaniControl.h"

#include "zorvaniDsp/zorvaniDsp.h"

ZorvaniControl::ZorvaniControl(ZorvaniOptions* options, std::shared_ptr<DeviceFunctionsAbstract> functions,
                               std::shared_ptr<zorvaniDsp> dsp, IqFileSlots* iqFiles, ZorvaniDialog* dialog)
    : m_options(options), m_functions(std::move(functions)), m_dsp(std::move(dsp)), m_iqFiles(iqFiles),
      m_dialog(dialog)
{
}

ZorvaniControl::~ZorvaniControl() = default;
