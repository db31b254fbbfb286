#include "ZorvaniControl/ZorvaniDriver/CommandQueue.h"

#include "ZorvaniControl/ZorvaniDriver/Packet.h"
#include "common/EventPause.h"

#include <algorithm>

using namespace zorvani::packet;

CommandQueue::CommandQueue()
{
    m_steady.start();
    m_clock = [this] { return m_steady.elapsed(); };
}

void CommandQueue::abandon()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& item : m_items)
        item->state = Item::Failed;
    m_items.erase(std::remove_if(m_items.begin(), m_items.end(), [](const auto& item) { return !item->waitAnswer; }),
                  m_items.end());
}

std::optional<QByteArray> CommandQueue::issue(const QByteArray& packet, quint32 timeoutMs, bool wait, quint32 retries,
                                              int replySize)
{
    if (!m_open.load())
        return std::nullopt;
    auto item = std::make_shared<Item>();
    item->retries = retries;
    item->timeoutMs = timeoutMs;
    item->id = m_nextId.fetch_add(1);
    item->packet = packet;
    item->waitAnswer = wait ? 1 : 0;
    item->replySize = std::max(replySize, kHeaderSize);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_items.append(item);
    }
    if (!wait)
        return QByteArray();
    auto done = waitFor(item->id);
    if (!done || done->state != Item::Answered)
        return std::nullopt;
    return done->packet;
}

std::optional<QByteArray> CommandQueue::issueChecked(const QByteArray& packet, quint32 timeoutMs, quint32 status,
                                                     quint32 retries, int replySize)
{
    auto reply = issue(packet, timeoutMs, true, retries, replySize);
    quint32 got = 0;
    if (!reply || !statusOf(*reply, got) || got != status)
        return std::nullopt;
    return reply;
}

std::shared_ptr<CommandQueue::Item> CommandQueue::waitFor(quint64 id)
{
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (int i = 0; i < m_items.size(); ++i) {
                const auto& item = m_items.at(i);
                if (item->id != id)
                    continue;
                if (item->state == Item::Answered || item->state == Item::Failed)
                    return m_items.takeAt(i);
                break;
            }
        }
        ox::ui::pauseProcessingEvents(kSliceMs);
    }
}

void CommandQueue::transmit(const std::function<void(const QByteArray&)>& send)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::optional<qint64> now;
    for (auto& item : m_items) {
        if (item->state != Item::ToSend)
            continue;
        if (!now)
            now = m_clock();
        item->state = Item::Sent;
        item->transmitted = true;
        item->sentMs = *now;
        send(item->packet);
    }
}

bool CommandQueue::match(const QByteArray& reply)
{
    quint16 command = 0;
    if (!commandOf(reply, command) || !wellFormedReply(reply.constData(), reply.size()))
        return false;
    const quint16 magic = get<quint16>(reply, 0);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& item : m_items) {
        const bool open = item->state == Item::Sent || item->state == Item::ToSend;
        if (!open || !item->transmitted || get<quint16>(item->packet, 0) != magic ||
            get<quint16>(item->packet, kOffCommand) != command || reply.size() < item->replySize)
            continue;
        item->state = Item::Answered;
        item->packet = reply;
        return true;
    }
    return false;
}

void CommandQueue::expire()
{
    const qint64 now = m_clock();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int i = m_items.size() - 1; i >= 0; --i) {
        auto& item = m_items[i];
        if (item->state == Item::ToSend)
            continue;
        const qint64 elapsed = now - item->sentMs;
        const bool exhausted = item->retries >= kMaxRetries && elapsed >= qint64(kMaxRetries * item->timeoutMs);
        if (!item->waitAnswer) {
            if (item->state == Item::Answered || exhausted) {
                m_items.removeAt(i);
                continue;
            }
        } else if (exhausted && item->state == Item::Sent) {
            item->state = Item::Failed;
            continue;
        }
        if (item->state == Item::Sent && item->retries < kMaxRetries &&
            elapsed > qint64((item->retries + 1) * item->timeoutMs)) {
            if (superseded(i)) {
                item->retries = kMaxRetries;
                continue;
            }
            ++item->retries;
            item->state = Item::ToSend;
        }
    }
}

bool CommandQueue::superseded(int index) const
{
    const Item& old = *m_items.at(index);
    if (old.waitAnswer)
        return false;
    // Same magic, code, length and param: the same setting, a newer value.
    const auto same = [&old](const Item& newer) {
        return !newer.waitAnswer && std::equal(old.packet.cbegin(), old.packet.cbegin() + kOffStatus, newer.packet.cbegin(),
                                               newer.packet.cbegin() + kOffStatus);
    };
    return std::any_of(m_items.cbegin() + index + 1, m_items.cend(), [&](const auto& item) { return same(*item); });
}

int CommandQueue::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_items.size();
}
