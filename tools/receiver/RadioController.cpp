#include "RadioController.h"

#include "DeviceAbstract.h"
#include "zorvaniDsp/Demodulators/CtcssTones.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kWfm = 9;
constexpr double kNarrowestPassband = 20.0; // Hz
} // namespace

RadioController::RadioController(DeviceAbstract& device, QObject* parent) : QObject(parent), m_device(device)
{
    // The receiver tunes across its RF input.
    const QList<DeviceBand> inputs = catalogue().rfInputs();
    if (!inputs.isEmpty())
        for (RadioState& s : m_state)
            s.tuning.setRange(double(inputs.first().low), double(inputs.first().high));
}

const DeviceFunctionsAbstract& RadioController::catalogue() const
{
    return *m_device.functions();
}

void RadioController::applyAll()
{
    for (int rx = 0; rx < kReceivers; ++rx) {
        const RadioState& s = state(rx);
        TuningModel::Change all;
        all.centre = all.offset = true;
        applyTuning(rx, all);
        m_device.setMode(rx, 0, s.mode);
        m_device.setWfmStereo(quint32(rx), true);
        applyFilter(rx);
        m_device.setAgc(uint(rx), 0, s.agc);
        m_device.setNr(uint(rx), s.nr);
        m_device.setAnf(uint(rx), s.anf);
        m_device.setNb1(uint(rx), s.nb1);
        m_device.setNb2(uint(rx), s.nb2);
        m_device.setSqlEnable(uint(rx), 0, s.squelch);
        m_device.setSqlLevel(uint(rx), 0, s.squelchDb);
        m_device.setCtcssTone(rx, s.ctcssTone);
        m_device.setCtcssEnable(rx, s.ctcss);
    }
    applyChannels();
    setVolume(m_volumeDb);
    for (int rx = 0; rx < kReceivers; ++rx)
        emit changed(rx);
}

void RadioController::select(int rx)
{
    if (rx < 0 || rx >= kReceivers || rx == m_current)
        return;
    m_current = rx;
    emit selected(rx);
}

void RadioController::restore(int rx, const RadioState& state)
{
    if (rx < 0 || rx >= kReceivers)
        return;
    // Stored values may be stale or edited by hand: only what the plug-in offers is kept.
    RadioState s = state;
    bool known = false;
    for (const auto& mode : catalogue().modes())
        known = known || mode.first == s.mode;
    if (!known) {
        s.mode = m_state[std::size_t(rx)].mode;
        s.filter = catalogue().defaultFilter(uint(s.mode));
    }
    if (s.filter >= catalogue().filterCountForMode(s.mode))
        s.filter = catalogue().defaultFilter(uint(s.mode));
    if (s.filter >= 0) {
        const FilterEdges edges = catalogue().filterEdges(s.mode, uint(s.filter));
        s.low = edges.first;
        s.high = edges.second;
    } else if (!(s.low < s.high)) {
        s.low = -kNarrowestPassband;
        s.high = kNarrowestPassband;
    }
    s.agc = std::clamp(s.agc, 0, std::max(0, int(catalogue().agcSettings().size()) - 1));
    s.ctcssTone = std::clamp(s.ctcssTone, 0, kCtcssToneCount - 1);
    s.squelchDb = std::clamp(s.squelchDb, kSquelchLowestDb, 0);
    s.subOffset = std::clamp(s.subOffset, -kSubReachHz, kSubReachHz);
    m_state[std::size_t(rx)] = s;
    emit changed(rx);
}

void RadioController::applyTuning(int rx, TuningModel::Change change)
{
    const RadioState& s = state(rx);
    if (change.centre)
        m_device.setFreq(uint(rx), 0, s.tuning.centre());
    if (change.offset || change.centre) {
        m_device.setChannelOffset(rx, 0, 0, s.tuning.offset());
        m_device.setChannelOffset(rx, 1, 0, s.tuning.offset() + s.subOffset);
    }
}

void RadioController::applyFilter(int rx)
{
    const RadioState& s = state(rx);
    m_device.setFilter(rx, 0, 0, s.low, s.high);
}

void RadioController::applyChannels()
{
    m_device.setRxEnable(0, true);
    m_device.setChannelEnable(0, 0, true);
    m_device.setChannelEnable(0, 1, state(0).sub);
    m_device.setRxEnable(1, m_second);
    m_device.setChannelEnable(1, 1, m_second && state(1).sub);
}

void RadioController::setSecondReceiver(bool on)
{
    m_second = on;
    applyChannels();
    setVolume(m_volumeDb);
    if (!on)
        select(0);
    emit changed(1);
}

void RadioController::setVolume(int db)
{
    m_volumeDb = db;
    m_device.setMainVolume(db);
    // Channels at unity: the master volume sets the level.
    for (uint rx = 0; rx < kReceivers; ++rx)
        for (uint ch = 0; ch < 2; ++ch)
            m_device.setVolume(rx, ch, 0);
}

void RadioController::tuneTo(double hz)
{
    applyTuning(m_current, edit().tuning.tuneTo(hz));
    finish(m_current);
}

void RadioController::step(int steps)
{
    applyTuning(m_current, edit().tuning.step(steps, m_stepHz));
    finish(m_current);
}

void RadioController::setCentre(double hz)
{
    applyTuning(m_current, edit().tuning.setCentre(hz));
    finish(m_current);
}

void RadioController::setSpan(double hz)
{
    for (int rx = 0; rx < kReceivers; ++rx) {
        TuningModel& tuning = m_state[std::size_t(rx)].tuning;
        tuning.setSpan(hz);
        applyTuning(rx, tuning.keepInSpan());
        emit changed(rx);
    }
}

void RadioController::lockCentres(double hz)
{
    for (int rx = 0; rx < kReceivers; ++rx) {
        TuningModel& tuning = m_state[std::size_t(rx)].tuning;
        tuning.setCentreLocked(false);
        const double listening = tuning.frequency();
        TuningModel::Change change = tuning.setCentre(hz);
        tuning.setCentreLocked(true);
        // Stay on the station when the recording holds it.
        const TuningModel::Change back = tuning.tuneTo(listening);
        change.offset = change.offset || back.offset;
        applyTuning(rx, change);
        emit changed(rx);
    }
}

void RadioController::unlockCentres()
{
    for (RadioState& s : m_state)
        s.tuning.setCentreLocked(false);
}

void RadioController::setMode(int mode)
{
    RadioState& s = edit();
    s.mode = mode;
    m_device.setMode(m_current, 0, mode);
    if (mode == kWfm)
        m_device.setWfmStereo(quint32(m_current), true);
    s.agc = catalogue().defaultAgc(uint(mode));
    m_device.setAgc(uint(m_current), 0, s.agc);
    setFilterPreset(catalogue().defaultFilter(uint(mode)));
}

void RadioController::setFilterPreset(int choice)
{
    RadioState& s = edit();
    if (choice < 0 || choice >= catalogue().filterCountForMode(s.mode))
        choice = 0;
    const FilterEdges edges = catalogue().filterEdges(s.mode, uint(choice));
    s.filter = choice;
    s.low = edges.first;
    s.high = edges.second;
    applyFilter(m_current);
    finish(m_current);
}

void RadioController::dragFilterEdge(bool high, double edgeHz)
{
    RadioState& s = edit();
    if (catalogue().filterFixed(s.mode) || !catalogue().filterAdjustable(s.mode))
        return;
    const FilterEdges limits = catalogue().filterEdgeLimits(uint(s.mode));
    if (catalogue().filterSymmetric(uint(s.mode))) {
        const double half = std::clamp(std::abs(edgeHz), kNarrowestPassband / 2.0,
                                       std::min(std::abs(limits.first), std::abs(limits.second)));
        s.low = -half;
        s.high = half;
    } else if (high) {
        s.high = std::clamp(edgeHz, s.low + kNarrowestPassband, limits.second);
    } else {
        s.low = std::clamp(edgeHz, limits.first, s.high - kNarrowestPassband);
    }
    s.filter = -1;
    applyFilter(m_current);
    finish(m_current);
}

void RadioController::setAgc(int index)
{
    edit().agc = index;
    m_device.setAgc(uint(m_current), 0, index);
    finish(m_current);
}

void RadioController::setNr(bool on)
{
    edit().nr = on;
    m_device.setNr(uint(m_current), on);
    finish(m_current);
}

void RadioController::setAnf(bool on)
{
    edit().anf = on;
    m_device.setAnf(uint(m_current), on);
    finish(m_current);
}

void RadioController::setNb1(bool on)
{
    edit().nb1 = on;
    m_device.setNb1(uint(m_current), on);
    finish(m_current);
}

void RadioController::setNb2(bool on)
{
    edit().nb2 = on;
    m_device.setNb2(uint(m_current), on);
    finish(m_current);
}

void RadioController::setSquelch(bool on, int levelDb)
{
    RadioState& s = edit();
    s.squelch = on;
    s.squelchDb = levelDb;
    m_device.setSqlLevel(uint(m_current), 0, levelDb);
    m_device.setSqlEnable(uint(m_current), 0, on);
    finish(m_current);
}

void RadioController::setCtcss(bool on, int tone)
{
    RadioState& s = edit();
    s.ctcss = on;
    s.ctcssTone = tone;
    m_device.setCtcssTone(m_current, tone);
    m_device.setCtcssEnable(m_current, on);
    finish(m_current);
}

void RadioController::setSub(bool on, double offsetHz)
{
    RadioState& s = edit();
    s.sub = on;
    s.subOffset = offsetHz;
    m_device.setChannelOffset(m_current, 1, 0, s.tuning.offset() + offsetHz);
    applyChannels();
    setVolume(m_volumeDb);
    finish(m_current);
}
