#pragma once
// The client of the agent's scheduler service, which is driven by "SchedulerTask*" events sent through the
// event dispatcher and keeps each registered task as JSON under "Scheduler.Tasks.<schedule id>".
//
// Results are Windows error numbers; a dispatch failure is the dispatcher's own, passed back unchanged.

#include "message/CMessageObject.h"
#include "platform/Win.h"
#include "scheduler/ScheduleInfo.h"

#include <cstdint>
#include <string>

class ISchedulerHelper
{
public:
    virtual ~ISchedulerHelper() = default; // slot 0
    // Sends the event again after the delay under its retry id, or at once (itself) for a delay of 0.
    [[nodiscard]] virtual DWORD ScheduleRetry(const CMessageObject& event, std::uint32_t delay,
                                              const std::wstring& eventSource) = 0;
    // Removes the event's retry task when it is registered; success when it is not.
    [[nodiscard]] virtual DWORD CancelRetry(const CMessageObject& event) = 0;
    // MD5 of the event's JSON without the delivery stamps "EventId" and "EventSource" (top level and one
    // level down): 32 lower-case hex digits. On failure (ERROR_INVALID_PARAMETER, ERROR_BAD_FORMAT) hash is
    // left as it was.
    [[nodiscard]] virtual DWORD GetEventHash(const CMessageObject& event, std::wstring& hash) = 0;
    // Appends a "SchedulerTaskAdd" object to request (replacing one already there) without dispatching it.
    // An empty schedule id gets a new braced UUID; an empty start time means "%Now()%". On failure
    // (ERROR_INVALID_PARAMETER: the event cannot be written; ERROR_NOT_ENOUGH_MEMORY: no new id) request is
    // left unchanged.
    [[nodiscard]] virtual DWORD AddTask(CMessageObject& request, const CMessageObject& event,
                                        const std::wstring& offset, const std::wstring& startTime,
                                        const std::wstring& eventSource, const std::wstring& scheduleId,
                                        const ScheduleInfo& info) = 0;
    // Appends a "SchedulerTaskRemove" object to request; false, with nothing added, for an empty id.
    [[nodiscard]] virtual bool BuildRemoveTask(const std::wstring& scheduleId, CMessageObject& request) = 0;
    // Whether the configuration holds the task as JSON. False without a configuration utility.
    [[nodiscard]] virtual bool TaskExists(const std::wstring& scheduleId) = 0;
    // Dispatches a removal only for a registered task; success without dispatching otherwise.
    [[nodiscard]] virtual DWORD RemoveTask(const std::wstring& scheduleId) = 0;
    // Dispatch whether or not the task is registered; success without dispatching for an empty id.
    [[nodiscard]] virtual DWORD EnableTask(const std::wstring& scheduleId) = 0;
    [[nodiscard]] virtual DWORD DisableTask(const std::wstring& scheduleId) = 0;
};
