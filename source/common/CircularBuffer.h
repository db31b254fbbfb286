#pragma once

#include "common/SpinLock.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

// Single-producer, single-consumer ring of trivially copyable items.
// Capacity is a power of two. A read of n items happens only when n are
// stored; a write of n only when n are free. Fill and free counts are atomic so
// either side may poll them without the lock; indices change under the lock.
// Optional watermarks: the below-low-mark flag is raised when a read leaves the
// fill at or below the low mark. Optional pre-fill for a consumer that reads
// at a steady pace (a sound card): see readyToRead().
template <typename T>
class CircularBuffer {
    static_assert(std::is_trivially_copyable_v<T>, "CircularBuffer holds plain data");

public:
    explicit CircularBuffer(uint32_t capacity = 4096) { resize(capacity); }

    CircularBuffer(const CircularBuffer&) = delete;
    CircularBuffer& operator=(const CircularBuffer&) = delete;

    // Rounds up to a power of two and empties the ring. Not for use while
    // producer or consumer run.
    void resize(uint32_t capacity)
    {
        uint32_t c = 1;
        while (c < capacity)
            c <<= 1;
        std::lock_guard<SpinLock> guard(m_lock);
        m_storage.assign(c, T{});
        m_capacity = c;
        m_mask = c - 1;
        resetLocked();
    }

    void reset()
    {
        std::lock_guard<SpinLock> guard(m_lock);
        resetLocked();
    }

    uint32_t capacity() const noexcept { return m_capacity; }
    uint32_t fill() const noexcept { return m_fill.load(std::memory_order_acquire); }
    uint32_t free() const noexcept { return m_free.load(std::memory_order_acquire); }

    void setWatermarks(bool enabled, uint32_t low, uint32_t high)
    {
        std::lock_guard<SpinLock> guard(m_lock);
        m_lowMark.store(low, std::memory_order_relaxed);
        m_highMark.store(high, std::memory_order_relaxed);
        m_watermarks.store(enabled, std::memory_order_release);
    }
    bool belowLowMark() const noexcept { return m_belowLow.load(std::memory_order_acquire); }
    // Polled without the lock by either side, so the marks are atomics too.
    bool aboveHighMark() const noexcept
    {
        return m_watermarks.load(std::memory_order_acquire) && fill() >= m_highMark.load(std::memory_order_relaxed);
    }

    // Items a steady consumer keeps in reserve against a late producer (0: none).
    void setPrefill(uint32_t reserve) noexcept { m_prefill.store(reserve, std::memory_order_release); }
    uint32_t prefill() const noexcept { return m_prefill.load(std::memory_order_acquire); }

    // Consumer side: whether a read of n should go ahead now. With a pre-fill,
    // reading starts (after a reset, and again after a call found fewer than
    // n) only once the ring holds the reserve beyond n, at most three quarters
    // full so that a producer's chunk still fits. A consumer that starts with
    // no reserve goes short at the producer's first late chunk, and again at
    // every one after it.
    bool readyToRead(uint32_t n) noexcept
    {
        const uint32_t f = fill();
        const uint32_t reserve = m_prefill.load(std::memory_order_acquire);
        if (m_prefilling.load(std::memory_order_acquire)) {
            if (f < std::max(n, std::min(n + reserve, m_capacity / 4 * 3)))
                return false;
            m_prefilling.store(false, std::memory_order_release);
        }
        if (f < n) {
            m_prefilling.store(reserve > 0, std::memory_order_release);
            return false;
        }
        return true;
    }

    // Writes all n items or nothing.
    bool write(const T* data, uint32_t n)
    {
        if (n == 0)
            return true;
        std::lock_guard<SpinLock> guard(m_lock);
        if (m_free.load(std::memory_order_acquire) < n)
            return false;
        copyIn(data, n);
        m_fill.fetch_add(n, std::memory_order_acq_rel);
        m_free.fetch_sub(n, std::memory_order_acq_rel);
        if (m_watermarks.load(std::memory_order_relaxed)
            && m_fill.load(std::memory_order_relaxed) > m_lowMark.load(std::memory_order_relaxed))
            m_belowLow.store(false, std::memory_order_release);
        return true;
    }

    // Reads exactly n items or nothing.
    bool read(T* data, uint32_t n)
    {
        if (n == 0)
            return true;
        std::lock_guard<SpinLock> guard(m_lock);
        if (m_fill.load(std::memory_order_acquire) < n)
            return false;
        copyOut(data, n);
        m_read = (m_read + n) & m_mask;
        m_fill.fetch_sub(n, std::memory_order_acq_rel);
        m_free.fetch_add(n, std::memory_order_acq_rel);
        if (m_watermarks.load(std::memory_order_relaxed)
            && m_fill.load(std::memory_order_relaxed) <= m_lowMark.load(std::memory_order_relaxed))
            m_belowLow.store(true, std::memory_order_release);
        return true;
    }

    // Copies the newest n items (oldest first) without consuming anything;
    // false when fewer than n are stored.
    bool peekLatest(T* data, uint32_t n)
    {
        std::lock_guard<SpinLock> guard(m_lock);
        if (n > m_capacity || m_fill.load(std::memory_order_acquire) < n)
            return false;
        const uint32_t start = (m_write - n) & m_mask;
        const uint32_t first = std::min(n, m_capacity - start);
        std::memcpy(data, m_storage.data() + start, first * sizeof(T));
        std::memcpy(data + first, m_storage.data(), (n - first) * sizeof(T));
        return true;
    }

private:
    void resetLocked()
    {
        m_read = 0;
        m_write = 0;
        m_fill.store(0, std::memory_order_release);
        m_free.store(m_capacity, std::memory_order_release);
        m_belowLow.store(true, std::memory_order_release);
        m_prefilling.store(true, std::memory_order_release);
    }

    void copyIn(const T* data, uint32_t n)
    {
        const uint32_t first = std::min(n, m_capacity - m_write);
        std::memcpy(m_storage.data() + m_write, data, first * sizeof(T));
        std::memcpy(m_storage.data(), data + first, (n - first) * sizeof(T));
        m_write = (m_write + n) & m_mask;
    }

    void copyOut(T* data, uint32_t n)
    {
        const uint32_t first = std::min(n, m_capacity - m_read);
        std::memcpy(data, m_storage.data() + m_read, first * sizeof(T));
        std::memcpy(data + first, m_storage.data(), (n - first) * sizeof(T));
    }

    std::vector<T> m_storage;
    uint32_t m_capacity = 0;
    uint32_t m_mask = 0;
    uint32_t m_read = 0;
    uint32_t m_write = 0;
    std::atomic<uint32_t> m_fill{0};
    std::atomic<uint32_t> m_free{0};
    std::atomic<bool> m_watermarks{false};
    std::atomic<uint32_t> m_lowMark{0};
    std::atomic<uint32_t> m_highMark{0};
    std::atomic<bool> m_belowLow{true};
    std::atomic<uint32_t> m_prefill{0};
    std::atomic<bool> m_prefilling{true}; // the consumer waits for the reserve
    SpinLock m_lock;
};
