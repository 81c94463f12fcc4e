#pragma once
// The event scheduler over a dispatcher access it does not own; made on demand as a shared object. A non-zero
// flag is the dispatcher's option.

#include "host/IDispatcherHelper.h"
#include "scheduler/IEventScheduler.h"

class CEventScheduler : public IEventScheduler
{
public:
    // dispatcher must not be null.
    explicit CEventScheduler(IDispatcherHelper* dispatcher) : m_dispatcher(dispatcher) {}

    [[nodiscard]] bool ScheduleEvent(const std::wstring& text, std::int32_t flag) override;
    [[nodiscard]] bool ScheduleEvents(const std::vector<std::wstring>& texts, std::int32_t flag) override;

private:
    IDispatcherHelper* m_dispatcher;
};
