#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// A frequency range with a name: an amateur band or an RF input.
struct DeviceBand {
    quint64 low = 0;  // Hz
    quint64 high = 0; // Hz
    QString name;
};

using ModeList = QList<QPair<int, QString>>;
using FilterEdges = QPair<double, double>; // low, high in Hz relative to the tuned frequency

// The host's catalogue of what a device can do. The virtual operations stand
// in the host's order; the host calls them through that order. Operations the
// host names only by their results carry neutral names.
class DeviceFunctionsAbstract {
public:
    virtual ~DeviceFunctionsAbstract() = default;

    virtual bool flagForBool(bool) const { return false; }                                  // 1
    virtual void flagsForIndex(int, bool* a, bool* b) const                                 // 2
    {
        if (a) *a = false;
        if (b) *b = false;
    }
    virtual int countA() const { return 30; }                                               // 3
    virtual bool capability4() const { return false; }                                      // 4
    virtual bool capability5() const { return false; }                                      // 5
    virtual double adcClock() const { return 80000000.0; }                                  // 6
    virtual QStringList listA() const { return {}; }                                        // 7
    virtual QStringList preamps() const { return {}; }                                      // 8
    virtual bool capability9() const { return false; }                                      // 9
    virtual float levelA() const { return -30.0f; }                                         // 10
    virtual double levelB() const { return 0.0; }                                           // 11
    virtual float levelC() const { return 0.5f; }                                           // 12
    virtual double streamRate() const { return 0.0; }                                       // 13
    virtual double streamRateCopy() const { return 0.0; }                                   // 14
    virtual double displayedRate() const { return streamRate(); }                           // 15
    virtual double minimumDisplayedRate() const { return streamRateCopy(); }                // 16
    virtual bool capability17() const { return false; }                                     // 17
    virtual QList<DeviceBand> rfInputs() const { return {}; }                               // 18
    virtual QList<DeviceBand> bands() const { return {}; }                                  // 19
    virtual int count20() const { return 0; }                                               // 20
    virtual int bandIndex(double) const { return 0; }                                       // 21
    virtual ModeList modes() const { return {}; }                                           // 22
    virtual int bandGroupValue(uint) const { return 0; }                                    // 23
    virtual int receiverCount() const { return 0; }                                         // 24
    virtual int transmitterCount() const { return 0; }                                      // 25
    virtual QStringList listB() const { return {}; }                                        // 26
    virtual bool capability27() const { return false; }                                     // 27
    virtual int defaultAgc(uint) const { return 0; }                                        // 28
    virtual QStringList agcSettings() const { return {}; }                                  // 29
    virtual int defaultFilter(uint) const { return 0; }                                     // 30
    virtual int filterCount() const { return 0; }                                           // 31
    virtual bool capability32() const { return false; }                                     // 32
    virtual bool filterAdjustable(int) const { return false; }                              // 33
    virtual int filterCountForMode(int) const { return 0; }                                 // 34
    virtual QString filterLabel(uint, uint) const { return {}; }                            // 35
    virtual FilterEdges filterEdges(int, uint) const { return {}; }                         // 36
    virtual bool filterSymmetric(uint) const { return false; }                              // 37
    virtual bool filterFixed(int) const { return false; }                                   // 38
    virtual bool capability39() const { return false; }                                     // 39
    virtual FilterEdges filterEdgeLimits(uint) const { return {}; }                         // 40
    virtual bool capability41() const { return false; }                                     // 41
    virtual bool capability42() const { return false; }                                     // 42
    virtual bool capability43() const { return false; }                                     // 43
    virtual bool capability44() const { return false; }                                     // 44
    virtual bool capability45() const { return false; }                                     // 45
    virtual int count46() const { return 0; }                                               // 46
    virtual bool capability47() const { return false; }                                     // 47
    virtual bool capability48() const { return false; }                                     // 48
    virtual double workingRate() const { return 0.0; }                                      // 49
    virtual int count50() const { return 0; }                                               // 50
    virtual int count51() const { return 0; }                                               // 51
    virtual int count52() const { return 0; }                                               // 52
    virtual int count53() const { return 0; }                                               // 53
    virtual int count54() const { return 0; }                                               // 54
    virtual bool capability55() const { return false; }                                     // 55
    virtual QStringList list56() const { return {}; }                                       // 56
    virtual QStringList list57() const { return {}; }                                      // 57
    virtual QStringList list58() const { return {}; }                                      // 58
    virtual QStringList list59() const { return {}; }                                      // 59
    virtual QStringList list60() const { return {}; }                                      // 60
    virtual QStringList list61() const { return {}; }                                      // 61
    virtual bool capability62() const { return false; }                                     // 62
    virtual bool capability63() const { return false; }                                     // 63
    virtual bool capability64() const { return false; }                                     // 64
    virtual bool capability65() const { return false; }                                     // 65
    virtual bool capability66() const { return true; }                                      // 66
};
