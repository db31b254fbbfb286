#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// A 32-bit spin flag taken by exchange. The waiter yields its time slice on the
// first failure and after every further 100 failed attempts, so a holder that
// was pre-empted gets the processor back quickly.
class SpinLock {
public:
    void lock() noexcept
    {
        if (m_flag.exchange(1, std::memory_order_acquire) == 0)
            return;
        std::this_thread::yield();
        uint32_t attempts = 0;
        while (m_flag.exchange(1, std::memory_order_acquire) != 0) {
            if (++attempts % 100 == 0)
                std::this_thread::yield();
        }
    }

    bool try_lock() noexcept { return m_flag.exchange(1, std::memory_order_acquire) == 0; }

    void unlock() noexcept { m_flag.store(0, std::memory_order_release); }

private:
    std::atomic<uint32_t> m_flag{0};
};
