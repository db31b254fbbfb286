#pragma once

#include "ThreadPoolAbstract.h"

#include <QSemaphore>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// The host's thread pool: one bounded job queue per worker. A job submitted
// from a worker goes to that worker's queue; any other submitter picks a queue
// round-robin. Each queue is a fixed ring of cells with sequence numbers: a
// producer claims a cell by compare-and-swap on the enqueue position when the
// cell's sequence equals it, and publishes it by storing position + 1.
class HostThreadPool : public ThreadPoolAbstract {
public:
    explicit HostThreadPool(unsigned workers = 2, unsigned queueCapacity = 64);
    ~HostThreadPool() override;

    bool submit(ThreadPoolItemAbstract* job) override;
    unsigned workerCount() const { return unsigned(m_workers.size()); }
    // Waits until every queued job has run; jobs must not outlive their owners.
    void waitIdle();
    std::uint64_t refused() const { return m_refused.load(); }

private:
    struct Cell {
        std::atomic<std::size_t> sequence;
        ThreadPoolItemAbstract* job = nullptr;
    };
    struct Queue {
        explicit Queue(std::size_t capacity);
        bool push(ThreadPoolItemAbstract* job);
        ThreadPoolItemAbstract* pop();
        std::vector<Cell> cells;
        std::size_t mask;
        std::atomic<std::size_t> enqueue{0};
        std::atomic<std::size_t> dequeue{0};
        QSemaphore available;
    };
    struct Worker {
        std::unique_ptr<Queue> queue;
        std::thread thread;
    };

    void runWorker(unsigned index);

    std::vector<Worker> m_workers;
    std::atomic<unsigned> m_next{0};
    std::atomic<bool> m_running{true};
    std::atomic<std::uint64_t> m_refused{0};
    std::atomic<std::uint64_t> m_pending{0};
};
