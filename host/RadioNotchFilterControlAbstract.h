#pragma once

#include <QObject>

#include <cstddef>

struct RadioNotchFilterParams {
    bool enable = false;
    double frequency = 0.0; // Hz, absolute
    double width = 0.0;     // Hz
};

// The host's list of manual notch filters, grouped by band.
class RadioNotchFilterControlAbstract : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~RadioNotchFilterControlAbstract() override = default;

    virtual std::size_t bandCount() const = 0;
    virtual std::size_t filterCount(std::size_t band) const = 0;
    virtual RadioNotchFilterParams filter(std::size_t band, std::size_t index) const = 0;
    virtual bool bandEnabled(std::size_t band) const = 0;

signals:
    void paramChanged(size_t band, size_t index, bool enable, double frequency, double width);
    void enableFiltersChanged(size_t band, bool enabled);
};
