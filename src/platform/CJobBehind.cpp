#include "platform/CJobBehind.h"

#include <utility>

CJobBehind::~CJobBehind()
{
    Wait();
    if (!m_thread)
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
    }
    m_changed.notify_all();
    ::WaitForSingleObject(m_thread.Get(), INFINITE);
}

void CJobBehind::Run(std::function<void()> job)
{
    Wait();
    if (!m_thread)
    {
        m_thread.Reset(::CreateThread(nullptr, 0, Main, this, 0, nullptr));
        if (!m_thread)
        {
            job();
            return;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_job = std::move(job);
        m_busy = true;
    }
    m_changed.notify_all();
}

void CJobBehind::Wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_busy; });
}

DWORD WINAPI CJobBehind::Main(void* self)
{
    static_cast<CJobBehind*>(self)->Serve();
    return 0;
}

void CJobBehind::Serve()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;)
    {
        m_changed.wait(lock, [this] { return m_busy || m_ending; });
        if (!m_busy)
            return;
        std::function<void()> job = std::move(m_job);
        lock.unlock();
        job();
        job = nullptr; // what it holds goes before the job counts as done
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}
