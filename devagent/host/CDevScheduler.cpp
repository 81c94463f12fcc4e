#include "CDevScheduler.h"

#include "ScheduleTime.h"

#include "platform/TextUtil.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

namespace
{
constexpr wchar_t kTaskAdd[] = L"SchedulerTaskAdd";
constexpr wchar_t kTaskRemove[] = L"SchedulerTaskRemove";
constexpr wchar_t kTaskEnable[] = L"SchedulerTaskEnable";
constexpr wchar_t kTaskDisable[] = L"SchedulerTaskDisable";
constexpr wchar_t kTaskKeyPrefix[] = L"Scheduler.Tasks.";
constexpr wchar_t kIndexKey[] = L"Scheduler.TaskIds";
// A wait for a task due in centuries would overflow the clock's nanoseconds; waking hourly costs nothing.
constexpr std::uint64_t kLongestWaitMs = 3600000;

const CMessageObject* Request(const CMessageObject& event, const wchar_t* kind)
{
    const CMessageItem* item = nullptr;
    if (!event.FindItem(kind, item) || item->m_type != Object || item->m_value.object == nullptr)
        return nullptr;
    return item->m_value.object;
}
} // namespace

CDevScheduler::CDevScheduler(IConfigUtil* config, std::set<std::wstring> handled, double scale,
                             SchedulerCallbacks callbacks)
    : m_config(config), m_handled(std::move(handled)), m_scale(scale), m_callbacks(std::move(callbacks))
{}

CDevScheduler::~CDevScheduler()
{
    Stop();
}

void CDevScheduler::Start()
{
    Load();
    m_thread = std::thread(&CDevScheduler::Run, this);
}

void CDevScheduler::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CDevScheduler::OnEvent(const std::wstring& text)
{
    CMessageObject event;
    if (!event.FromJson(text))
        return; // the dispatcher takes any text; only JSON events concern the scheduler
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!event.IsArray())
            Route(event);
        else
        {
            for (const CMessageItem& item : event.Items())
            {
                if (item.m_type == Object && item.m_value.object != nullptr)
                    Route(*item.m_value.object);
            }
        }
    }
    m_changed.notify_all();
}

void CDevScheduler::Route(const CMessageObject& event)
{
    if (const CMessageObject* request = Request(event, kTaskAdd))
        return Add(*request);
    for (const wchar_t* kind : {kTaskRemove, kTaskEnable, kTaskDisable})
    {
        if (const CMessageObject* request = Request(event, kind))
            return Act(kind, *request);
    }
    std::wstring name;
    if (event.GetMessageName(name) && m_handled.count(name) != 0)
        m_immediate.push_back(event);
}

void CDevScheduler::Add(const CMessageObject& request)
{
    ScheduledTask task;
    std::wstring why;
    CMessageObject members = request;
    members.RemoveItem(L"NextRun"); // the scheduler's own member, never the sender's
    if (!ReadScheduledTask(members, UtcNowMs(), m_scale, task, why))
    {
        m_callbacks.note(L"task refused: " + why);
        return;
    }
    bool failIfExists = false;
    request.GetBool(L"FailIfExists", failIfExists);
    if (failIfExists && m_tasks.count(task.id) != 0)
    {
        m_callbacks.note(L"task " + task.id + L" refused: it exists and \"FailIfExists\" is true");
        return;
    }
    task.registration = ++m_registrations;
    Store(task);
    const std::wstring id = task.id;
    m_tasks[id] = std::move(task);
    StoreIndex();
}

void CDevScheduler::Act(const std::wstring& kind, const CMessageObject& request)
{
    std::wstring id;
    request.GetString(L"ScheduleId", id);
    const auto task = m_tasks.find(id);
    if (task == m_tasks.end())
    {
        m_callbacks.note(kind + L": no task " + id);
        return;
    }
    if (kind == kTaskRemove)
        return Forget(id);
    SetTaskEnabled(task->second, kind == kTaskEnable);
    Store(task->second);
}

void CDevScheduler::Store(const ScheduledTask& task)
{
    std::wstring text;
    if (m_config == nullptr || !task.stored.Serialize(text))
        return;
    if (const DWORD status = m_config->SetValue((kTaskKeyPrefix + task.id).c_str(), text.c_str(), 0))
        m_callbacks.note(L"task " + task.id + L" not stored: error " + std::to_wstring(status));
}

void CDevScheduler::Forget(const std::wstring& id)
{
    m_tasks.erase(id);
    if (m_config == nullptr)
        return;
    if (const DWORD status = m_config->RemoveValue((kTaskKeyPrefix + id).c_str());
        status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        m_callbacks.note(L"task " + id + L" not removed from the configuration: error " + std::to_wstring(status));
    StoreIndex();
}

void CDevScheduler::StoreIndex()
{
    CMessageObject ids;
    ids.SetArray(true);
    for (const auto& entry : m_tasks)
        ids.AddString(std::wstring(), entry.first);
    std::wstring text;
    if (m_config == nullptr || !ids.Serialize(text))
        return;
    if (const DWORD status = m_config->SetValue(kIndexKey, text.c_str(), 0))
        m_callbacks.note(L"task list not stored: error " + std::to_wstring(status));
}

void CDevScheduler::Load()
{
    std::wstring text;
    CMessageObject ids;
    if (m_config == nullptr || m_config->GetValue(kIndexKey, text, 0) != ERROR_SUCCESS || !ids.FromJson(text))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::uint64_t now = UtcNowMs();
    for (const CMessageItem& item : ids.Items())
    {
        CMessageObject stored;
        ScheduledTask task;
        std::wstring why = L"not in the configuration";
        if (item.m_type != String)
            continue;
        if (m_config->GetValue((kTaskKeyPrefix + item.m_string).c_str(), text, 0) == ERROR_SUCCESS &&
            stored.FromJson(text) && ReadScheduledTask(stored, now, m_scale, task, why))
        {
            task.registration = ++m_registrations;
            m_tasks[task.id] = std::move(task);
        }
        else
            m_callbacks.note(L"stored task " + item.m_string + L" skipped: " + why);
    }
}

bool CDevScheduler::Settled(std::uint64_t until) const
{
    if (m_delivering || !m_immediate.empty())
        return false;
    for (const auto& entry : m_tasks)
    {
        const ScheduledTask& task = entry.second;
        if (task.enabled && task.runs && task.due <= until)
            return false;
    }
    return true;
}

bool CDevScheduler::WaitForDue(unsigned long milliseconds)
{
    const std::uint64_t until = UtcNowMs() + milliseconds;
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return Settled(until); });
}

void CDevScheduler::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop)
    {
        const std::uint64_t now = UtcNowMs();
        const ScheduledTask* next = nullptr;
        for (const auto& entry : m_tasks)
        {
            const ScheduledTask& task = entry.second;
            if (task.enabled && task.runs && (next == nullptr || task.due < next->due))
                next = &task;
        }
        if (m_immediate.empty() && (next == nullptr || next->due > now))
        {
            if (next == nullptr)
                m_changed.wait(lock);
            else
                m_changed.wait_for(lock, std::chrono::milliseconds(std::min(next->due - now, kLongestWaitMs)));
            continue;
        }
        std::wstring id;
        unsigned long registration = 0;
        CMessageObject event;
        if (!m_immediate.empty())
        {
            event = std::move(m_immediate.front());
            m_immediate.pop_front();
        }
        else
        {
            id = next->id;
            registration = next->registration;
            event = next->actions;
        }
        m_delivering = true;
        lock.unlock();
        try
        {
            m_callbacks.deliver(id, event);
        }
        catch (const std::exception& e)
        {
            m_callbacks.note(L"delivery of " + id + L" failed: " + Utf8ToWide(e.what()));
        }
        lock.lock();
        m_delivering = false;
        // Removed, or registered again while it ran (a retry that schedules the next one): nothing more to do.
        const auto task = m_tasks.find(id);
        if (!id.empty() && task != m_tasks.end() && task->second.registration == registration)
        {
            if (task->second.every == 0)
                Forget(id);
            else
            {
                AdvanceScheduledTask(task->second, UtcNowMs());
                Store(task->second);
            }
        }
        m_changed.notify_all();
    }
}
