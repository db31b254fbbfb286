#pragma once

#include "discovery/Receiver.h"
#include "discovery/Searcher.h"

#include <QMutex>
#include <QObject>

// The process-wide discovery state: the current receiver and the searcher.
class ZorvaniSearcher : public QObject {
    Q_OBJECT
public:
    static ZorvaniSearcher& instance();

    Receiver current() const;
    void setCurrent(const Receiver& receiver);
    Searcher& searcher() { return m_searcher; }

signals:
    void update();

private:
    ZorvaniSearcher();

    mutable QMutex m_mutex;
    Receiver m_current;
    Searcher m_searcher;
};
