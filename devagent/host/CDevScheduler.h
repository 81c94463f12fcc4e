#pragma once
// The development agent's scheduler service. It takes "SchedulerTaskAdd", "SchedulerTaskRemove",
// "SchedulerTaskEnable" and "SchedulerTaskDisable" as they are dispatched (OnEvent), keeps every registered task
// as JSON under "Scheduler.Tasks." + id in the configuration, and the ids under "Scheduler.TaskIds", since the
// configuration cannot list its keys. Events named in handled are queued for delivery at once.
//
// Deliveries happen on the scheduler's own thread, one at a time, never inside OnEvent: the task's "Actions"
// as an event message, or the raised event itself (with an empty task id). A one-shot task is dropped from
// memory and configuration after its delivery, unless it was registered again meanwhile. Without a
// configuration utility tasks live in memory only. Task times are in SchedulerTask.h.

#include "SchedulerTask.h"

#include "host/IConfigUtil.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

// Both must be set.
struct SchedulerCallbacks
{
    // Called on the scheduler thread without its lock held: it may raise events that reach OnEvent.
    std::function<void(const std::wstring& taskId, CMessageObject& event)> deliver;
    // What the scheduler refused or could not store; called with its lock held, so it must not call back.
    std::function<void(const std::wstring& text)> note;
};

class CDevScheduler
{
public:
    // scale multiplies every offset and interval (0.01: a second takes 10 ms).
    CDevScheduler(IConfigUtil* config, std::set<std::wstring> handled, double scale, SchedulerCallbacks callbacks);
    ~CDevScheduler(); // Stop()
    CDevScheduler(const CDevScheduler&) = delete;
    CDevScheduler& operator=(const CDevScheduler&) = delete;

    // Loads the stored tasks (overdue ones run first) and starts the thread.
    void Start();
    // Lets a delivery in progress finish, then ends the thread; tasks stay stored.
    void Stop();

    // Any JSON event text (an object or an array of them); from any thread.
    void OnEvent(const std::wstring& text);

    // Waits at most milliseconds for every delivery due within them; true when none is left.
    bool WaitForDue(unsigned long milliseconds);

private:
    void Route(const CMessageObject& event);                           // under m_mutex
    void Add(const CMessageObject& request);                           // under m_mutex
    void Act(const std::wstring& kind, const CMessageObject& request); // under m_mutex
    void Store(const ScheduledTask& task);                             // under m_mutex
    void Forget(const std::wstring& id);                               // under m_mutex
    void StoreIndex();                                                 // under m_mutex
    void Load();
    void Run();
    bool Settled(std::uint64_t until) const; // under m_mutex

    IConfigUtil* const m_config;
    const std::set<std::wstring> m_handled;
    const double m_scale;
    const SchedulerCallbacks m_callbacks;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::wstring, ScheduledTask> m_tasks;
    unsigned long m_registrations = 0;
    std::deque<CMessageObject> m_immediate;
    bool m_delivering = false;
    bool m_stop = false;
    std::thread m_thread;
};
