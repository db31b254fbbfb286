#pragma once

#include <QString>

namespace zorvani::sim {
class Simulator;
}

// Network faults the built-in emulator plays (--faults): IQ loss (the emulator
// re-sends what gets no answer, as a receiver does), reordering, duplication,
// and an IQ stream that stops after some seconds (the plug-in's watchdog then
// declares it lost).
struct EmulatorFaults {
    double loss = 0.0;         // probability per transmission, 0..1
    double reorder = 0.0;      // probability of swapping a packet with the next, 0..1
    double duplicate = 0.0;    // probability of sending a packet twice, 0..1
    double stallAfterS = -1.0; // seconds after the start; < 0: never

    bool any() const { return loss > 0.0 || reorder > 0.0 || duplicate > 0.0 || stallAfterS >= 0.0; }
    // "loss=P,reorder=P,duplicate=P,stall=S", any subset; false with *error
    // naming the bad item.
    static bool parse(const QString& text, EmulatorFaults* faults, QString* error);
    // The same form, for the summary.
    QString text() const;

    // Sets the probabilities (at the start), and stalls the stream once
    // `elapsedS` reaches the stall time.
    void start(zorvani::sim::Simulator& sim) const;
    void tick(zorvani::sim::Simulator& sim, double elapsedS) const;
};
