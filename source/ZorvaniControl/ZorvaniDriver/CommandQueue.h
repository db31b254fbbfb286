#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

// The requests to the receiver and their replies. Any thread issues; a waited
// request blocks its caller (processing the caller's events in 20 ms slices)
// until the reply or the expiry. The driver thread transmits, matches and
// expires. One mutex guards the list; times are ms on the queue's clock.
//
// One reply completes the oldest transmitted request of its magic and code
// that it is long enough for. A request is sent again after (retries + 1)
// timeouts, at most 4 times; a setting is not sent again once a newer value
// for it is queued, since it would undo that value at the receiver.
class CommandQueue {
public:
    struct Item {
        enum : quint32 { ToSend = 0, Sent = 1, Answered = 2, Failed = 0xFFFFFFFFu };
        quint32 retries = 0;
        quint32 timeoutMs = 0;
        quint64 id = 0;
        QByteArray packet; // the request, the reply once answered
        qint64 sentMs = 0; // queue clock at the latest transmission
        quint32 state = ToSend;
        quint8 waitAnswer = 0;
        bool transmitted = false; // a reply can only answer what went out
        int replySize = 0;        // shortest reply datagram that answers it
    };
    // Transmissions of one request before it fails: the first and 4 re-sends.
    static constexpr quint32 kMaxRetries = 4;
    // Slice in which a waiting caller processes its events, ms.
    static constexpr int kSliceMs = 20;

    CommandQueue();

    // Milliseconds for re-sends and expiries; a steady clock by default. Set
    // while the driver thread is not running.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Requests are accepted between open() and close().
    void open() { m_open.store(true); }
    void close() { m_open.store(false); }
    bool isOpen() const { return m_open.load(); }
    // Once nothing transmits or expires any more: fails the requests still
    // waited for and drops the others.
    void abandon();

    // Queues a request; for waited ones returns the reply datagram, or nothing
    // when it failed or the queue is closed. Fire-and-forget requests return
    // an empty array. Only a reply of at least `replySize` bytes answers it
    // (default: the header).
    std::optional<QByteArray> issue(const QByteArray& packet, quint32 timeoutMs, bool wait, quint32 retries = 0,
                                    int replySize = 0);
    // Waited request whose reply must carry `status`; the reply, or nothing.
    std::optional<QByteArray> issueChecked(const QByteArray& packet, quint32 timeoutMs, quint32 status,
                                           quint32 retries = 0, int replySize = 0);

    // Driver thread: hands the requests due to `send`.
    void transmit(const std::function<void(const QByteArray&)>& send);
    // Driver thread: completes the request a well-formed reply answers; false when none.
    bool match(const QByteArray& reply);
    // Driver thread: schedules re-sends, fails or drops the requests out of time.
    void expire();

    // Requests currently queued (for diagnostics and tests).
    int size() const;

private:
    std::shared_ptr<Item> waitFor(quint64 id);
    // Whether a newer fire-and-forget request for the same setting follows
    // the queued one at `index` (under the mutex).
    bool superseded(int index) const;

    QList<std::shared_ptr<Item>> m_items;
    mutable std::mutex m_mutex;
    std::atomic<bool> m_open{false};
    std::atomic<quint64> m_nextId{0};
    QElapsedTimer m_steady;
    Clock m_clock;
};
