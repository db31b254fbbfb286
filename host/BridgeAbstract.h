#pragma once

#include "AudioServerAbstract.h"
#include "IQRecorderConfigAbstract.h"
#include "OutputAbstract.h"
#include "RadioNotchFilterControlAbstract.h"
#include "ThreadPoolAbstract.h"

// What the host hands the plug-in in init: its audio outputs and services.
class BridgeAbstract {
public:
    virtual ~BridgeAbstract() = default;
    virtual SoundOutAbstract* soundOut() = 0;
    virtual VacCollectionAbstract* vacs() = 0;
    virtual LineOutCollectionAbstract* lineOuts() = 0;
    virtual ThreadPoolAbstract* threadPool() = 0;
    virtual AudioServerAbstract* audioServer() = 0;
    virtual RadioNotchFilterControlAbstract* radioNotchFilterControl() = 0;
    virtual IQRecorderConfigAbstract* iqRecorderConfig() = 0;
};
