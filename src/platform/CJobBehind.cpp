#include "platform/CJobBehind.h"

#include <utility>

void CJobBehind::Run(std::function<void()> job)
{
    Wait();
    m_job = std::move(job);
    m_thread.Reset(::CreateThread(nullptr, 0, Main, this, 0, nullptr));
    if (!m_thread)
        m_job();
}

void CJobBehind::Wait()
{
    if (!m_thread)
        return;
    ::WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Reset();
}

DWORD WINAPI CJobBehind::Main(void* self)
{
    static_cast<CJobBehind*>(self)->m_job();
    return 0;
}
