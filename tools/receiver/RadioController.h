#pragma once

#include "TuningModel.h"

#include <QObject>

#include <array>

class DeviceAbstract;
class DeviceFunctionsAbstract;

// What the window has set on one receiver.
struct RadioState {
    TuningModel tuning;
    int mode = 0;          // the plug-in's mode number (AM 0 ... DRM 10)
    int filter = 3;        // preset of the mode, -1 after an edge was dragged
    double low = -2500.0;  // passband edges around the channel, Hz
    double high = 2500.0;
    int agc = 1;           // 0 off, n > 0 preset n - 1
    bool nr = false;
    bool anf = false;
    bool nb1 = false;
    bool nb2 = false;
    bool squelch = false;
    int squelchDb = -100;
    bool ctcss = false;
    int ctcssTone = 8;     // index into the 42 tones
    bool sub = false;      // channel 1 of the receiver
    double subOffset = 5000.0; // from the main channel, Hz
};

// The host's side of the control surface for the window: keeps what was set
// on each receiver and sends each change to the plug-in. One receiver is the
// current one, which the tuning and mode verbs act on. GUI thread only.
class RadioController : public QObject {
    Q_OBJECT
public:
    static constexpr int kReceivers = 2;
    static constexpr int kSquelchLowestDb = -140;
    static constexpr double kSubReachHz = 150000.0; // sub-channel from the main channel

    explicit RadioController(DeviceAbstract& device, QObject* parent = nullptr);

    // Sends everything to the plug-in (after a start).
    void applyAll();

    int current() const { return m_current; }
    void select(int rx);
    const RadioState& state(int rx) const { return m_state[std::size_t(rx)]; }
    const RadioState& state() const { return state(m_current); }
    // A stored state for rx (settings); applied when running.
    void restore(int rx, const RadioState& state);

    bool secondReceiver() const { return m_second; }
    void setSecondReceiver(bool on);
    int volumeDb() const { return m_volumeDb; }
    void setVolume(int db);
    double stepHz() const { return m_stepHz; }
    void setStepHz(double hz) { m_stepHz = hz; }

    // Tuning of the current receiver.
    void tuneTo(double hz);
    void step(int steps);
    void setCentre(double hz);
    // The spectrum's width as the plug-in announced it, for both receivers.
    void setSpan(double hz);
    // A recording's band: both receivers to its centre, which then stays.
    void lockCentres(double hz);
    void unlockCentres();

    void setMode(int mode);
    void setFilterPreset(int choice);
    void dragFilterEdge(bool high, double edgeHz);
    void setAgc(int index);
    void setNr(bool on);
    void setAnf(bool on);
    void setNb1(bool on);
    void setNb2(bool on);
    void setSquelch(bool on, int levelDb);
    void setCtcss(bool on, int tone);
    void setSub(bool on, double offsetHz);

signals:
    void changed(int rx);
    void selected(int rx);

private:
    RadioState& edit() { return m_state[std::size_t(m_current)]; }
    const DeviceFunctionsAbstract& catalogue() const;
    void applyTuning(int rx, TuningModel::Change change);
    void applyFilter(int rx);
    void applyChannels();
    void finish(int rx) { emit changed(rx); }

    DeviceAbstract& m_device;
    std::array<RadioState, kReceivers> m_state;
    int m_current = 0;
    bool m_second = false;
    int m_volumeDb = -6;
    double m_stepHz = 1000.0;
};
