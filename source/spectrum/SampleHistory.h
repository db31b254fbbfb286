#pragma once

#include "common/SpinLock.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

// The most recent samples of a stream: writes never block and overwrite the
// oldest samples. Storage is allocated once for the largest capacity;
// resize() only changes the power-of-two capacity in use.
template <typename T>
class SampleHistory {
    static_assert(std::is_trivially_copyable_v<T>, "SampleHistory holds plain data");

public:
    explicit SampleHistory(uint32_t maxCapacity) : m_storage(roundUp(maxCapacity)) { resize(maxCapacity); }

    // Capacity becomes the smallest power of two >= capacity (at most the
    // maximum); contents are cleared and the write position restarts at 0.
    void resize(uint32_t capacity)
    {
        std::lock_guard<SpinLock> guard(m_lock);
        m_capacity = std::min<uint32_t>(roundUp(capacity), uint32_t(m_storage.size()));
        m_mask = m_capacity - 1;
        m_write = 0;
        std::fill(m_storage.begin(), m_storage.begin() + m_capacity, T{});
    }

    uint32_t capacity() const { return m_capacity; }

    // Appends n samples; when more than the capacity arrive, only the newest
    // capacity() of them are kept.
    void write(const T* data, uint32_t n)
    {
        std::lock_guard<SpinLock> guard(m_lock);
        if (n > m_capacity) {
            data += n - m_capacity;
            n = m_capacity;
        }
        const uint32_t first = std::min(n, m_capacity - m_write);
        std::memcpy(m_storage.data() + m_write, data, first * sizeof(T));
        std::memcpy(m_storage.data(), data + first, (n - first) * sizeof(T));
        m_write = (m_write + n) & m_mask;
    }

    // Calls f(segment, count, offset) under the lock for the newest n samples
    // (n <= capacity), oldest first, in at most two contiguous pieces; offset
    // is the position of the piece within the n. Lets the reader convert
    // while copying.
    template <typename F>
    void visitLatest(uint32_t n, F&& f)
    {
        std::lock_guard<SpinLock> guard(m_lock);
        n = std::min(n, m_capacity);
        const uint32_t start = (m_write - n) & m_mask;
        const uint32_t first = std::min(n, m_capacity - start);
        f(m_storage.data() + start, first, 0u);
        if (n > first)
            f(m_storage.data(), n - first, first);
    }

private:
    static uint32_t roundUp(uint32_t n)
    {
        uint32_t c = 1;
        while (c < n)
            c <<= 1;
        return c;
    }

    std::vector<T> m_storage;
    uint32_t m_capacity = 0;
    uint32_t m_mask = 0;
    uint32_t m_write = 0;
    SpinLock m_lock;
};
