#pragma once

#include <QtGlobal>

// Where the socket thread sleeps: until its socket has a datagram, another
// thread wakes it (a request to send, the watchdog armed, shutdown) or a
// deadline passes. Linux: poll(2) on the socket and an eventfd.
class SocketSleep {
public:
    SocketSleep();
    ~SocketSleep();
    SocketSleep(const SocketSleep&) = delete;
    SocketSleep& operator=(const SocketSleep&) = delete;

    // Any thread: ends the current sleep, or the next one at once.
    void wake();
    // Sleeps until `socket` (a descriptor) can be read, wake() was called or
    // timeoutMs passed (negative: no limit).
    void sleep(qintptr socket, int timeoutMs);

private:
    int m_event = -1;
};
