#include "scheduler/CEventScheduler.h"

bool CEventScheduler::ScheduleEvent(const std::wstring& text, std::int32_t flag)
{
    return m_dispatcher->SendText(text, flag != 0) == ERROR_SUCCESS;
}

bool CEventScheduler::ScheduleEvents(const std::vector<std::wstring>& texts, std::int32_t flag)
{
    return m_dispatcher->SendEach(texts, flag != 0) == ERROR_SUCCESS;
}
