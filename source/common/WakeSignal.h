#pragma once

#include <condition_variable>
#include <mutex>

// The wake-up of a worker thread that sleeps until there is work: producers
// call notify() once they have made work available, the worker calls wait()
// when it found none. A notify() before the wait() is kept, so no wake-up is
// lost; several before one wait() count as one. To stop the worker, clear its
// running flag, then notify().
class WakeSignal {
public:
    // Any thread.
    void notify()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_pending = true;
        }
        m_condition.notify_one();
    }

    // The worker: returns once notify() was called since the last return.
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_condition.wait(lock, [this] { return m_pending; });
        m_pending = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_pending = false;
};
