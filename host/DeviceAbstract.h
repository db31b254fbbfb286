#pragma once

#include "BridgeAbstract.h"
#include "DeviceFunctionsAbstract.h"
#include "DeviceManagerAbstract.h"
#include "IqTapAbstract.h"
#include "OstrovixComplex.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QtPlugin>

class QLayout;
class QSettings;
template <typename T> class CircularBuffer;

// A record the host reads back unchanged; its meaning is the host's.
struct DeviceLimits {
    quint16 a = 0;
    quint16 b = 0;
    quint32 c = 0;
    quint16 d = 0;
    quint16 e = 0;
    quint16 f = 0;
    quint16 g = 0;
    quint16 h = 0;
    quint16 i = 0;
    quint32 j = 0;
    quint16 k = 0;
    quint8 l = 0;
};

// A spectrum the host fetches: `count` values in each line.
struct SpectrumView {
    quint32 count = 0;
    const float* waterfall = nullptr;
    const float* panorama = nullptr;
};

using StereoRing = CircularBuffer<Ostrovix::complex<double>>;

// The host's device class. The virtual operations stand in the host's order
// (numbered in the comments); operations the host does not name carry neutral
// names and the base behaviour: commands do nothing, queries answer false, 0
// or an empty value.
class DeviceAbstract : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~DeviceAbstract() override = default;

    virtual bool init(BridgeAbstract& bridge, QLayout* layout, bool flag, bool adminPage) = 0; // 1
    virtual void deinit() {}                                                                     // 2
    virtual QString name() const { return QStringLiteral("No name"); }                           // 3
    virtual void setManager(DeviceManagerAbstract*) {}                                           // 4
    virtual void setIqTap(IqTapAbstract*) {}                                                     // 5
    virtual void setSignalAnalyzer(SignalAnalyzerAbstract*) {}                                   // 6
    virtual void operation7() {}                                                                 // 7
    virtual DeviceLimits limits() const { return {}; }                                           // 8

public slots:
    virtual bool open() { return false; }                                                        // 9
    virtual void close() {}                                                                      // 10
    virtual bool start() { return false; }                                                       // 11
    virtual void stop() {}                                                                       // 12
    virtual void retranslate() {}                                                                // 13

public:
    virtual DeviceFunctionsAbstract* functions() const { return nullptr; }                       // 14
    virtual void operation15() {}                                                                // 15
    virtual bool isOpen() const { return false; }                                                // 16
    virtual bool isStarted() const { return false; }                                             // 17
    virtual void setHostObject(void*) {}                                                         // 18
    virtual void setWfmStereo(quint32, bool) {}                                                  // 19
    virtual void operation20() {}                                                                // 20
    virtual void setWriteIQ(bool, int) {}                                                        // 21
    virtual void setCtcssEnable(int, bool) {}                                                    // 22
    virtual void setCtcssTone(int, int) {}                                                       // 23
    virtual void operation24() {}                                                                // 24
    virtual void operation25() {}                                                                // 25
    virtual void setBandScope(bool, quint64, uint) {}                                            // 26
    virtual void setRxEnable(uint, bool) {}                                                      // 27
    virtual void setChannelEnable(uint, uint, bool) {}                                           // 28
    virtual void operation29() {}                                                                // 29
    virtual void operation30() {}                                                                // 30
    virtual void forwardToManager(quint32, int, bool) {}                                         // 31
    virtual void operation32() {}                                                                // 32
    virtual void operation33() {}                                                                // 33
    virtual void operation34() {}                                                                // 34
    virtual void operation35() {}                                                                // 35
    virtual void operation36() {}                                                                // 36
    virtual void operation37() {}                                                                // 37
    virtual void operation38() {}                                                                // 38
    virtual void operation39() {}                                                                // 39
    virtual SpectrumView rxSpectrum(int) { return {}; }                                          // 40
    virtual SpectrumView txSpectrum() { return {}; }                                             // 41
    virtual SpectrumView bandScopeSpectrum() { return {}; }                                      // 42
    virtual bool setFreq(uint, uint, double) { return false; }                                   // 43
    virtual bool setPreamp(uint) { return false; }                                               // 44
    virtual void setMute(uint, int, bool) {}                                                     // 45
    virtual void operation46() {}                                                                // 46
    virtual void operation47() {}                                                                // 47
    virtual void operation48() {}                                                                // 48
    virtual void operation49() {}                                                                // 49
    virtual void operation50() {}                                                                // 50
    virtual void operation51() {}                                                                // 51
    virtual void operation52() {}                                                                // 52
    virtual void operation53() {}                                                                // 53
    virtual void operation54() {}                                                                // 54
    virtual void operation55() {}                                                                // 55
    virtual void operation56() {}                                                                // 56
    virtual void operation57() {}                                                                // 57
    virtual void setSqlEnable(uint, uint, bool) {}                                               // 58
    virtual void setSqlLevel(uint, uint, int) {}                                                 // 59
    virtual void announceSettings() {}                                                           // 60
    virtual void setMainVolume(int) {}                                                           // 61
    virtual void setVolume(uint, uint, int) {}                                                   // 62
    virtual void setBalance(uint, uint, int) {}                                                  // 63
    virtual void setRit(uint, uint, double) {}                                                   // 64
    virtual void operation65() {}                                                                // 65
    virtual void setFftSize(uint) {}                                                             // 66
    virtual void setAveragingMode(int) {}                                                        // 67
    virtual void setAveraging(int) {}                                                            // 68
    virtual void setSpectrumRate(int) {}                                                         // 69
    virtual void setChannelOffset(int, int, int, double) {}                                      // 70
    virtual void setFilter(int, int, int, double, double) {}                                     // 71
    virtual void setMode(int, int, int) {}                                                       // 72
    virtual void setRf(int, int, int) {}                                                         // 73
    virtual void setAgc(uint, uint, int) {}                                                      // 74
    virtual void setBin(uint, bool) {}                                                           // 75
    virtual void setNb1(uint, bool) {}                                                           // 76
    virtual void setNb2(uint, bool) {}                                                           // 77
    virtual void setNr(uint, bool) {}                                                            // 78
    virtual void setAnf(uint, bool) {}                                                           // 79
    virtual void setRxEq(uint, bool) {}                                                          // 80
    virtual void setRxEqLevels(uint, QList<int>) {}                                              // 81
    virtual void setTxEqLevels(QList<int>) {}                                                    // 82
    virtual void operation83() {}                                                                // 83
    virtual void operation84() {}                                                                // 84
    virtual void operation85() {}                                                                // 85
    virtual void operation86() {}                                                                // 86
    virtual void operation87() {}                                                                // 87
    virtual void operation88() {}                                                                // 88
    virtual void setSoundCardOutput(bool) {}                                                     // 89
    virtual void operation90() {}                                                                // 90
    virtual StereoRing* soundCardSource() { return nullptr; }                                    // 91
    virtual void operation92() {}                                                                // 92
    virtual void operation93() {}                                                                // 93
    virtual void operation94() {}                                                                // 94
    virtual StereoRing* rawIqRing(uint) { return nullptr; }                                      // 95
    virtual void saveSettings(QSettings*) {}                                                     // 96
    virtual void loadSettings(QSettings*) {}                                                     // 97
    virtual void saveDspSettings(QSettings*) {}                                                  // 98
    virtual void loadDspSettings(QSettings*) {}                                                  // 99
    virtual void operation100() {}                                                               // 100
    virtual void operation101() {}                                                               // 101

signals:
    void changedSampleRate(double hz);
    void rxSpectrum(quint32 receiver);
    void bsSpectrum();
    void dBmMeter(quint32 receiver, quint32 channel, double level);
    void adcMeter(quint32 receiver, quint32 channel, double re, double im);
    void sDigOffset(int digl, int digu);
    void devClosed();
    void sWriteIQ(bool on, int receiver);
};

#define DeviceAbstract_iid "Ostrovix.Velmora2.plugin"
Q_DECLARE_INTERFACE(DeviceAbstract, DeviceAbstract_iid)
