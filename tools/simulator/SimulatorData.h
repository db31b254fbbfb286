#pragma once

#include "Simulator.h"

#include <QElapsedTimer>
#include <QPair>
#include <QVector>

#include <condition_variable>
#include <mutex>

namespace zorvani::sim {

// What the emulator thread and the API share. Everything but the wait
// members is guarded by `mutex`; call notify() after every change so that
// waiters re-check their condition.
struct Simulator::Data {
    mutable std::mutex mutex;
    State state;
    Counters counters;
    Faults faults;
    QVector<QPair<int, double>> levelChanges; // (emitter, dBFS) not yet taken by the engine
    std::shared_ptr<IqPlayback> playback;     // streamed instead of the scene when set
    quint64 packetLimit = ~quint64(0);        // unpaced streams send no packet beyond this count
    QVector<LoggedCommand> log;
    QVector<qint32> capture;
    QByteArray fpga;
    QByteArray flash;
    QMap<int, QByteArray> dataFlash;
    QElapsedTimer clock; // started by start()

    std::mutex waitMutex;
    std::condition_variable changed;
    quint64 generation = 0;

    void notify()
    {
        {
            std::lock_guard<std::mutex> lock(waitMutex);
            ++generation;
        }
        changed.notify_all();
    }
};

inline constexpr int kMaxLoggedCommands = 200000;
inline constexpr int kMaxCaptureValues = 2 * 39063 * 600; // ten minutes of stereo frames

} // namespace zorvani::sim
