#include "discovery/ZorvaniSearcher.h"

#include <QMutexLocker>

ZorvaniSearcher::ZorvaniSearcher()
{
    m_current.port = 50001;
}

ZorvaniSearcher& ZorvaniSearcher::instance()
{
    static ZorvaniSearcher searcher;
    return searcher;
}

Receiver ZorvaniSearcher::current() const
{
    QMutexLocker lock(&m_mutex);
    return m_current;
}

void ZorvaniSearcher::setCurrent(const Receiver& receiver)
{
    {
        QMutexLocker lock(&m_mutex);
        m_current = receiver;
    }
    emit update();
}
