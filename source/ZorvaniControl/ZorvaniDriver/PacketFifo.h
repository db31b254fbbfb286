#pragma once

#include "common/SpinLock.h"

#include <QByteArray>
#include <QList>
#include <QSemaphore>

#include <atomic>
#include <limits>
#include <mutex>

// A datagram queue between two threads: the list is guarded by a spin flag,
// the semaphore counts the elements so that the consumer can block briefly.
// A full queue drops what comes and counts it, so a flood cannot grow it.
class PacketFifo {
public:
    explicit PacketFifo(int capacity = std::numeric_limits<int>::max()) : m_capacity(capacity) {}

    // False (and counted) when the queue is full.
    bool push(const QByteArray& packet)
    {
        {
            std::lock_guard<SpinLock> guard(m_lock);
            if (m_list.size() >= m_capacity) {
                ++m_dropped;
                return false;
            }
            m_list.append(packet);
        }
        ++m_count;
        m_available.release();
        return true;
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
    int capacity() const { return m_capacity; }
    quint64 dropped() const { return m_dropped.load(); }

    void clear()
    {
        QByteArray dropped;
        while (pop(dropped))
            ;
    }

private:
    const int m_capacity;
    SpinLock m_lock;
    QList<QByteArray> m_list;
    std::atomic<quint64> m_dropped{0};
    std::atomic<int> m_count{0};
    QSemaphore m_available;
};
