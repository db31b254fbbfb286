#include "ZorvaniControl/ZorvaniDriver/SocketSleep.h"

#include <QDebug>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

SocketSleep::SocketSleep() : m_event(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_event < 0)
        qWarning() << Q_FUNC_INFO << "no eventfd:" << std::strerror(errno);
}

SocketSleep::~SocketSleep()
{
    if (m_event >= 0)
        close(m_event);
}

void SocketSleep::wake()
{
    const uint64_t one = 1;
    if (m_event >= 0 && write(m_event, &one, sizeof one) < 0 && errno != EAGAIN)
        qWarning() << Q_FUNC_INFO << std::strerror(errno);
}

void SocketSleep::sleep(qintptr socket, int timeoutMs)
{
    pollfd fds[2] = {{int(socket), POLLIN, 0}, {m_event, POLLIN, 0}};
    // Without an eventfd the thread still wakes for its socket, and at
    // least every 20 ms for the rest.
    const int timeout = m_event >= 0 ? timeoutMs : (timeoutMs < 0 || timeoutMs > 20 ? 20 : timeoutMs);
    if (poll(fds, m_event >= 0 ? 2 : 1, timeout) > 0 && (fds[1].revents & POLLIN) != 0) {
        uint64_t count = 0;
        if (read(m_event, &count, sizeof count) < 0 && errno != EAGAIN)
            qWarning() << Q_FUNC_INFO << std::strerror(errno);
    }
}
