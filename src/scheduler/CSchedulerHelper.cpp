#include "scheduler/CSchedulerHelper.h"

#include "host/CConfigHelper.h"
#include "host/Trace.h"
#include "platform/Digest.h"
#include "platform/Uuid.h"

TRACE_UNIT("bb909361-9612-4957-a930-69c25dddcbe6");

namespace
{
constexpr wchar_t kTaskAdd[] = L"SchedulerTaskAdd";
constexpr wchar_t kTaskRemove[] = L"SchedulerTaskRemove";
constexpr wchar_t kTaskEnable[] = L"SchedulerTaskEnable";
constexpr wchar_t kTaskDisable[] = L"SchedulerTaskDisable";
constexpr wchar_t kScheduleId[] = L"ScheduleId";
constexpr wchar_t kTaskKeyPrefix[] = L"Scheduler.Tasks.";
constexpr wchar_t kNow[] = L"%Now()%";

// The dispatcher stamps these on every delivery: without them the hash depends on the payload alone.
void RemoveDeliveryStamps(CMessageObject& object)
{
    object.RemoveItem(L"EventId");
    object.RemoveItem(L"EventSource");
}

CMessageObject IdTask(const wchar_t* kind, const std::wstring& scheduleId)
{
    CMessageObject task(kind);
    task.AddString(kScheduleId, scheduleId);
    return task;
}

void AddNumbers(CMessageObject& info, const wchar_t* name, const std::vector<std::uint32_t>& numbers)
{
    CMessageObject* array = info.AddArray(name);
    for (const std::uint32_t number : numbers)
        array->AddUInt32(std::wstring(), number);
}

// An interval is the only repetition key written; weekdays win over days; a position only goes with weekdays.
void AddRepetition(CMessageObject& info, const ScheduleInfo& schedule)
{
    if (!HasRepetition(schedule))
        return;
    if (schedule.Every != 0)
    {
        info.AddUInt64(L"Every", schedule.Every);
        return;
    }
    info.AddInt32(L"Repetition", schedule.Repetition);
    if (!schedule.DaysOfWeek.empty())
    {
        if (schedule.Position != 0)
            info.AddInt32(L"Position", schedule.Position);
        AddNumbers(info, L"DaysOfWeek", schedule.DaysOfWeek);
    }
    else if (!schedule.Days.empty())
    {
        AddNumbers(info, L"Days", schedule.Days);
    }
}
} // namespace

CSchedulerHelper::CSchedulerHelper(IDispatcherHelper* dispatcher, IConfigUtil* configUtil)
    : m_dispatcher(dispatcher), m_configUtil(configUtil)
{}

DWORD CSchedulerHelper::ScheduleRetry(const CMessageObject& event, std::uint32_t delay, const std::wstring& eventSource)
{
    if (delay == 0)
        return m_dispatcher->SendObject(event, true);
    std::wstring scheduleId;
    static_cast<void>(BuildRetryScheduleId(event, scheduleId)); // a failed hash is traced where it fails
    CMessageObject request;
    const DWORD status =
        AddTask(request, event, std::to_wstring(delay), std::wstring(), eventSource, scheduleId, ScheduleInfo());
    if (status != ERROR_SUCCESS)
        return status;
    return m_dispatcher->SendObject(request, true);
}

DWORD CSchedulerHelper::CancelRetry(const CMessageObject& event)
{
    std::wstring scheduleId;
    const DWORD status = BuildRetryScheduleId(event, scheduleId);
    if (status != ERROR_SUCCESS)
        return status;
    return RemoveTask(scheduleId);
}

DWORD CSchedulerHelper::GetEventHash(const CMessageObject& event, std::wstring& hash)
{
    CMessageObject content(event);
    RemoveDeliveryStamps(content);
    // One level down only; the items are our copy's, reached through their owning pointers.
    for (const CMessageItem& item : content.Items())
    {
        if (item.m_type == Object && item.m_value.object != nullptr)
            RemoveDeliveryStamps(*item.m_value.object);
    }
    std::wstring text;
    static_cast<void>(content.Serialize(text)); // an unwritable event leaves the text empty: the digest refuses it
    const DWORD status = Md5HexOfString(text.c_str(), hash);
    if (status != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagEvents, 10, "no event hash: error %u", status);
    return status;
}

DWORD CSchedulerHelper::AddTask(CMessageObject& request, const CMessageObject& event, const std::wstring& offset,
                                const std::wstring& startTime, const std::wstring& eventSource,
                                const std::wstring& scheduleId, const ScheduleInfo& info)
{
    std::wstring eventText;
    if (!event.Serialize(eventText))
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "scheduler task %ls: the event cannot be written as JSON", scheduleId);
        return ERROR_INVALID_PARAMETER;
    }
    CMessageObject task(kTaskAdd);
    if (!eventSource.empty())
        task.AddString(L"EventSource", eventSource);
    std::wstring id = scheduleId;
    if (!id.empty())
    {
        task.AddBool(L"FailIfExists", false);
    }
    else if (const RPC_STATUS status = NewUuidText(id, true); status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY)
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "no new schedule id: error %d", status);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    task.AddString(kScheduleId, id);
    task.AddBool(L"Enabled", true);

    CMessageObject* schedule = task.AddObject(L"ScheduleInfo", true);
    if (startTime.empty())
    {
        schedule->AddString(L"StartTime", kNow);
    }
    else
    {
        if (info.LocalTime)
            schedule->AddBool(L"LocalTime", true);
        schedule->AddString(L"StartTime", startTime);
    }
    if (!offset.empty() && offset != L"0")
        schedule->AddString(L"Offset", offset);
    AddRepetition(*schedule, info);

    // The event's own name gives way to "Actions"; an unnamed event keeps the names of its items.
    CMessageObject* actions = task.AddObject(L"Actions", true);
    *actions = event;
    actions->m_name = L"Actions";

    request.AddObjectCopy(task);
    return ERROR_SUCCESS;
}

bool CSchedulerHelper::BuildRemoveTask(const std::wstring& scheduleId, CMessageObject& request)
{
    if (scheduleId.empty())
        return false;
    request.AddObjectCopy(IdTask(kTaskRemove, scheduleId));
    return true;
}

bool CSchedulerHelper::TaskExists(const std::wstring& scheduleId)
{
    if (scheduleId.empty())
        return false;
    IConfigUtil* util = CConfigHelper::Resolve(m_configUtil);
    if (util == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 13, "no configuration utility to look up scheduler task %ls", scheduleId);
        return false;
    }
    std::wstring text;
    if (util->GetValue((kTaskKeyPrefix + scheduleId).c_str(), text, 0) != ERROR_SUCCESS)
        return false;
    // An empty text does not parse: such a task counts as absent.
    CMessageObject task;
    return task.FromJson(text);
}

DWORD CSchedulerHelper::RemoveTask(const std::wstring& scheduleId)
{
    if (!TaskExists(scheduleId))
        return ERROR_SUCCESS;
    CMessageObject request;
    if (!BuildRemoveTask(scheduleId, request))
        return ERROR_NOT_ENOUGH_MEMORY;
    return m_dispatcher->SendObject(request, true);
}

DWORD CSchedulerHelper::EnableTask(const std::wstring& scheduleId)
{
    return SendIdTask(kTaskEnable, scheduleId);
}

DWORD CSchedulerHelper::DisableTask(const std::wstring& scheduleId)
{
    return SendIdTask(kTaskDisable, scheduleId);
}

DWORD CSchedulerHelper::BuildRetryScheduleId(const CMessageObject& event, std::wstring& scheduleId)
{
    std::wstring hash;
    const DWORD status = GetEventHash(event, hash);
    std::wstring name;
    if (!event.GetMessageName(name))
        name.clear();
    scheduleId = L"Retry " + name + L" " + hash;
    return status;
}

DWORD CSchedulerHelper::SendIdTask(const wchar_t* kind, const std::wstring& scheduleId)
{
    if (scheduleId.empty())
        return ERROR_SUCCESS;
    CMessageObject request;
    request.AddObjectCopy(IdTask(kind, scheduleId));
    return m_dispatcher->SendObject(request, true);
}
