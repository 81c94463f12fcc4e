#include "SchedulerTask.h"

#include "ScheduleTime.h"

#include <cwchar>

namespace
{
constexpr wchar_t kNow[] = L"%Now()%";
constexpr std::uint64_t kDaySeconds = 86400;

const CMessageObject* NestedObject(const CMessageObject& parent, const wchar_t* name)
{
    const CMessageItem* item = nullptr;
    if (!parent.FindItem(name, item) || item->m_type != Object || item->m_value.object == nullptr ||
        item->m_value.object->IsArray())
        return nullptr;
    return item->m_value.object;
}

bool ReadCount(const CMessageItem& item, std::uint64_t& value)
{
    if (item.m_type == Integer)
    {
        value = item.m_value.u64;
        return item.m_unsigned || item.m_value.i64 >= 0;
    }
    if (item.m_type != String || item.m_string.empty() || item.m_string[0] < L'0' || item.m_string[0] > L'9')
        return false;
    wchar_t* end = nullptr;
    value = std::wcstoull(item.m_string.c_str(), &end, 10);
    return *end == L'\0';
}

// A member given in seconds, as scaled milliseconds (at least 1 for a non-zero count, so that no scale makes a
// repeating task fire without pause); an absent member is 0.
bool ReadScaledSeconds(const CMessageObject& info, const wchar_t* name, double scale, std::uint64_t& ms)
{
    ms = 0;
    const CMessageItem* item = nullptr;
    std::uint64_t seconds = 0;
    if (!info.FindItem(name, item))
        return true;
    if (!ReadCount(*item, seconds))
        return false;
    ms = static_cast<std::uint64_t>(static_cast<double>(seconds) * scale * 1000.0 + 0.5);
    if (seconds != 0 && ms == 0)
        ms = 1;
    return true;
}
} // namespace

bool ReadScheduledTask(const CMessageObject& members, std::uint64_t now, double scale, ScheduledTask& task,
                       std::wstring& why)
{
    task = ScheduledTask();
    const CMessageObject* actions = NestedObject(members, L"Actions");
    if (!members.GetString(L"ScheduleId", task.id) || task.id.empty() || actions == nullptr)
    {
        why = L"a task needs a \"ScheduleId\" and an \"Actions\" object";
        return false;
    }
    task.actions = *actions;
    task.actions.m_name.clear();
    members.GetBool(L"Enabled", task.enabled);

    const CMessageObject none;
    const CMessageObject* info = NestedObject(members, L"ScheduleInfo");
    if (info == nullptr)
        info = &none;
    std::uint64_t offset = 0;
    if (!ReadScaledSeconds(*info, L"Offset", scale, offset) || !ReadScaledSeconds(*info, L"Every", scale, task.every))
    {
        why = L"\"Offset\" and \"Every\" are whole seconds";
        return false;
    }
    const CMessageItem* repetition = nullptr;
    if (task.every == 0 && info->FindItem(L"Repetition", repetition))
    {
        task.runs = repetition->m_type == Integer && repetition->m_value.i64 == 1;
        task.every = static_cast<std::uint64_t>(static_cast<double>(kDaySeconds) * scale * 1000.0) + 1;
    }

    std::wstring next, start = kNow;
    bool local = false;
    info->GetString(L"StartTime", start);
    info->GetBool(L"LocalTime", local);
    if (members.GetString(L"NextRun", next))
    {
        if (!ParseScheduleTime(next, false, task.due))
        {
            why = L"unreadable \"NextRun\" " + next;
            return false;
        }
    }
    else
    {
        std::uint64_t startMs = now;
        if (start != kNow && !ParseScheduleTime(start, local, startMs))
        {
            why = L"unreadable \"StartTime\" " + start;
            return false;
        }
        task.due = startMs + offset;
    }
    task.stored = members;
    task.stored.m_name.clear();
    task.stored.AddString(L"NextRun", FormatScheduleTime(task.due));
    return true;
}

void AdvanceScheduledTask(ScheduledTask& task, std::uint64_t now)
{
    task.due = task.due + task.every > now ? task.due + task.every : now + task.every;
    task.stored.AddString(L"NextRun", FormatScheduleTime(task.due));
}

void SetTaskEnabled(ScheduledTask& task, bool enabled)
{
    task.enabled = enabled;
    task.stored.AddBool(L"Enabled", enabled);
}
