#pragma once

#include "common/WakeSignal.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// A worker thread that repeats its step while the step finds work and sleeps
// until notify() when it finds none. start() and stop() may be called from any
// thread. The owner stops it in its own destructor, before the state the step
// uses goes away.
class SleepingWorker {
public:
    ~SleepingWorker() { stop(); }

    // AtOnce: the first step runs as soon as the thread starts; OnNotify: it
    // waits for the first notify() (a step that must see a whole block).
    enum class Begin { AtOnce, OnNotify };

    // Nothing when running; else `prepare` (if any), then the thread, both
    // under the start lock. The step returns whether it did work.
    void start(std::function<bool()> step, const std::function<void()>& prepare = {}, Begin begin = Begin::AtOnce)
    {
        std::lock_guard<std::mutex> guard(m_threadMutex);
        if (m_running.load(std::memory_order_acquire))
            return;
        if (m_thread.joinable())
            m_thread.join();
        if (prepare)
            prepare();
        m_running.store(true, std::memory_order_release);
        m_thread = std::thread([this, begin, step = std::move(step)] {
            if (begin == Begin::OnNotify)
                m_wake.wait();
            while (m_running.load(std::memory_order_acquire))
                if (!step())
                    m_wake.wait();
        });
    }

    // Clears the running flag, wakes the thread and joins it.
    void stop()
    {
        std::lock_guard<std::mutex> guard(m_threadMutex);
        m_running.store(false, std::memory_order_release);
        m_wake.notify();
        if (m_thread.joinable())
            m_thread.join();
    }

    bool isRunning() const { return m_running.load(std::memory_order_acquire); }
    // Any thread: there is work.
    void notify() { m_wake.notify(); }
    // For producers that notify the worker directly.
    WakeSignal* wakeSignal() { return &m_wake; }

private:
    WakeSignal m_wake;
    std::atomic<bool> m_running{false};
    std::mutex m_threadMutex;
    std::thread m_thread;
};
