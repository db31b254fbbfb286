#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace ox::memory {

// A shared holder of a T and a mutex of type M. Every access from outside goes
// through the mutex: `p->f()` locks for that one call; `auto a = p.lock();`
// keeps the lock for several steps. Copies share the object and the mutex.
template <typename T, typename M = std::recursive_mutex>
class safe_ptr {
public:
    class Access {
    public:
        Access(T* object, M& mutex) : m_object(object), m_lock(mutex) {}
        T* operator->() const { return m_object; }
        T& operator*() const { return *m_object; }
        T* get() const { return m_object; }

    private:
        T* m_object;
        std::unique_lock<M> m_lock;
    };

    safe_ptr() : m_object(std::make_shared<T>()), m_mutex(std::make_shared<M>()) {}
    safe_ptr(std::shared_ptr<T> object, std::shared_ptr<M> mutex)
        : m_object(std::move(object)), m_mutex(std::move(mutex))
    {
    }

    Access operator->() const { return Access(m_object.get(), *m_mutex); }
    Access lock() const { return Access(m_object.get(), *m_mutex); }
    M& mutex() const { return *m_mutex; }
    explicit operator bool() const { return bool(m_object); }

private:
    std::shared_ptr<T> m_object;
    std::shared_ptr<M> m_mutex;
};

} // namespace ox::memory
