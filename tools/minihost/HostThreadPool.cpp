#include "HostThreadPool.h"

#include <thread>

namespace {
thread_local int currentWorker = -1;

std::size_t roundUpPowerOfTwo(std::size_t n)
{
    std::size_t p = 2;
    while (p < n)
        p <<= 1;
    return p;
}
} // namespace

HostThreadPool::Queue::Queue(std::size_t capacity) : cells(roundUpPowerOfTwo(capacity)), mask(cells.size() - 1)
{
    for (std::size_t i = 0; i < cells.size(); ++i)
        cells[i].sequence.store(i, std::memory_order_relaxed);
}

bool HostThreadPool::Queue::push(ThreadPoolItemAbstract* job)
{
    std::size_t pos = enqueue.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells[pos & mask];
        const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
        const auto diff = static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos);
        if (diff == 0) {
            if (enqueue.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                cell.job = job;
                cell.sequence.store(pos + 1, std::memory_order_release);
                available.release();
                return true;
            }
        } else if (diff < 0) {
            return false; // full
        } else {
            pos = enqueue.load(std::memory_order_relaxed);
        }
    }
}

ThreadPoolItemAbstract* HostThreadPool::Queue::pop()
{
    std::size_t pos = dequeue.load(std::memory_order_relaxed);
    for (;;) {
        Cell& cell = cells[pos & mask];
        const std::size_t seq = cell.sequence.load(std::memory_order_acquire);
        const auto diff = static_cast<std::ptrdiff_t>(seq) - static_cast<std::ptrdiff_t>(pos + 1);
        if (diff == 0) {
            if (dequeue.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                ThreadPoolItemAbstract* job = cell.job;
                cell.sequence.store(pos + mask + 1, std::memory_order_release);
                return job;
            }
        } else if (diff < 0) {
            return nullptr; // empty
        } else {
            pos = dequeue.load(std::memory_order_relaxed);
        }
    }
}

HostThreadPool::HostThreadPool(unsigned workers, unsigned queueCapacity)
{
    m_workers.resize(workers ? workers : 1);
    for (auto& w : m_workers)
        w.queue = std::make_unique<Queue>(queueCapacity);
    for (unsigned i = 0; i < m_workers.size(); ++i)
        m_workers[i].thread = std::thread([this, i] { runWorker(i); });
}

HostThreadPool::~HostThreadPool()
{
    m_running = false;
    for (auto& w : m_workers)
        w.queue->available.release();
    for (auto& w : m_workers)
        w.thread.join();
}

bool HostThreadPool::submit(ThreadPoolItemAbstract* job)
{
    const unsigned index = currentWorker >= 0 ? unsigned(currentWorker)
                                              : m_next.fetch_add(1, std::memory_order_relaxed) % m_workers.size();
    ++m_pending;
    if (m_workers[index].queue->push(job))
        return true;
    --m_pending;
    ++m_refused;
    return false;
}

void HostThreadPool::runWorker(unsigned index)
{
    currentWorker = int(index);
    Queue& queue = *m_workers[index].queue;
    for (;;) {
        queue.available.acquire();
        if (!m_running)
            return;
        if (ThreadPoolItemAbstract* job = queue.pop()) {
            job->run();
            --m_pending;
        }
    }
}

void HostThreadPool::waitIdle()
{
    while (m_pending.load() != 0)
        std::this_thread::yield();
}
