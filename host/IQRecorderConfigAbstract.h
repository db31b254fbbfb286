#pragma once

#include <QString>

// The host's IQ recorder options.
class IQRecorderConfigAbstract {
public:
    virtual ~IQRecorderConfigAbstract() = default;
    virtual int format() const = 0;     // file format index, clamped to 0..2 by the plug-in
    virtual QString folder() const = 0; // target directory
};
