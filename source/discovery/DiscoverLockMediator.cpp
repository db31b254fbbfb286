#include "discovery/DiscoverLockMediator.h"

void DiscoverLockMediator::setStart(bool state)
{
    if (state == m_announced)
        return;
    m_locked = state;
    m_announced = state;
    emit lockChanged(state);
}
