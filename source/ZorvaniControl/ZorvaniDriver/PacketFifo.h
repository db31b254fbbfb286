#pragma once

#include "zorvaniDsp/SpinLock.h"

#include <QByteArray>
#include <QList>
#include <QSemaphore>

#include <atomic>
#include <mutex>

// A datagram queue between two threads: the list is guarded by a spin flag,
// the semaphore counts the elements so that the consumer can block briefly.
class PacketFifo {
public:
    void push(const QByteArray& packet)
    {
        {
            std::lock_guard<SpinLock> guard(m_lock);
            m_list.append(packet);
        }
        ++m_count;
        m_available.release();
    }

    // Takes the oldest datagram, waiting up to `timeoutMs` for one (0: no wait).
    bool pop(QByteArray& packet, int timeoutMs = 0)
    {
        if (!m_available.tryAcquire(1, timeoutMs))
            return false;
        std::lock_guard<SpinLock> guard(m_lock);
        packet = m_list.takeFirst();
        --m_count;
        return true;
    }

    int count() const { return m_count.load(); }

    void clear()
    {
        QByteArray dropped;
        while (pop(dropped))
            ;
    }

private:
    SpinLock m_lock;
    QList<QByteArray> m_list;
    std::atomic<int> m_count{0};
    QSemaphore m_available;
};
