#include "plugin/CEventControl.h"

bool CEventControl::TryEnter()
{
    switch (m_mode)
    {
    case AllowConcurrent:
        return true;
    case WaitForPrevious:
        m_mutex.lock();
        m_held = true;
        m_busy = true;
        return true;
    case RejectWhileBusy:
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy)
            return false;
        m_busy = true;
        return true;
    }
    default:
        return false;
    }
}

void CEventControl::Leave()
{
    // A held mutex is already ours: the admitted event has kept it locked since TryEnter.
    if (!m_held)
        m_mutex.lock();
    m_held = false;
    m_busy = false;
    m_mutex.unlock();
}
