#pragma once
// Runs jobs one at a time on a thread of its own while the caller goes on with the next piece of work. Run
// waits for the job before it, Wait for the last one, and the destructor waits too: whatever a job uses must
// outlive its CJobBehind. The thread is started by the first Run and kept for the next ones (starting one per
// job costs more under Wine than many a job does); the destructor ends it. When no thread can be had, Run runs
// the job itself. A job must not throw. Run and Wait belong to the thread that owns the object.

#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <condition_variable>
#include <functional>
#include <mutex>

class CJobBehind
{
public:
    CJobBehind() = default;
    ~CJobBehind();
    CJobBehind(const CJobBehind&) = delete;
    CJobBehind& operator=(const CJobBehind&) = delete;

    void Run(std::function<void()> job);
    void Wait();

private:
    static DWORD WINAPI Main(void* self);
    void Serve();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_job; // handed over, then run
    bool m_busy = false;         // a job is handed over or running
    bool m_ending = false;
    CHandle m_thread;
};
