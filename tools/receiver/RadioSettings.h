#pragma once

class QSettings;
struct RadioState;

// One receiver's state in the window's settings, in the current group:
// centre and listening frequency, mode, filter, AGC, noise switches, squelch
// and CTCSS, sub-channel. Missing keys leave the state's own values.
void readRadioState(QSettings& settings, RadioState* state);
void writeRadioState(QSettings& settings, const RadioState& state);
