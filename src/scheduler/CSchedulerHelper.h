#pragma once
// The scheduler client over the module's dispatcher access. It keeps no state: every call builds its
// messages afresh, so one instance may serve several threads as far as the dispatcher and the configuration
// utility allow.

#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "scheduler/ISchedulerHelper.h"

class CSchedulerHelper : public ISchedulerHelper
{
public:
    // Neither pointer is owned. dispatcher must not be null. A null configUtil means the module's utility,
    // asked for at each lookup.
    explicit CSchedulerHelper(IDispatcherHelper* dispatcher, IConfigUtil* configUtil = nullptr);

    [[nodiscard]] DWORD ScheduleRetry(const CMessageObject& event, std::uint32_t delay,
                                      const std::wstring& eventSource) override;
    [[nodiscard]] DWORD CancelRetry(const CMessageObject& event) override;
    [[nodiscard]] DWORD GetEventHash(const CMessageObject& event, std::wstring& hash) override;
    [[nodiscard]] DWORD AddTask(CMessageObject& request, const CMessageObject& event, const std::wstring& offset,
                                const std::wstring& startTime, const std::wstring& eventSource,
                                const std::wstring& scheduleId, const ScheduleInfo& info) override;
    [[nodiscard]] bool BuildRemoveTask(const std::wstring& scheduleId, CMessageObject& request) override;
    [[nodiscard]] bool TaskExists(const std::wstring& scheduleId) override;
    [[nodiscard]] DWORD RemoveTask(const std::wstring& scheduleId) override;
    [[nodiscard]] DWORD EnableTask(const std::wstring& scheduleId) override;
    [[nodiscard]] DWORD DisableTask(const std::wstring& scheduleId) override;

    // "Retry <event name> <event hash>": the same payload always gets the same id. The id is built even when
    // the hash fails (it then ends in a blank); the result is the hash's.
    [[nodiscard]] DWORD BuildRetryScheduleId(const CMessageObject& event, std::wstring& scheduleId);

private:
    [[nodiscard]] DWORD SendIdTask(const wchar_t* kind, const std::wstring& scheduleId);

    IDispatcherHelper* m_dispatcher;
    IConfigUtil* m_configUtil;
};
