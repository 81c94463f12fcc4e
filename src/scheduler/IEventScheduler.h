#pragma once
// Hands ready JSON event texts to the event dispatcher. True exactly when the dispatcher took them all.

#include <cstdint>
#include <string>
#include <vector>

class IEventScheduler
{
public:
    virtual ~IEventScheduler() = default; // slot 0
    [[nodiscard]] virtual bool ScheduleEvent(const std::wstring& text, std::int32_t flag) = 0;
    // In order, stopping at the first text the dispatcher refuses.
    [[nodiscard]] virtual bool ScheduleEvents(const std::vector<std::wstring>& texts, std::int32_t flag) = 0;
};
