#pragma once
// Runs jobs one at a time on a thread of their own while the caller goes on with the next piece of work. Run
// waits for the job before it, Wait for the last one, and the destructor waits too: whatever a job uses must
// outlive its CJobBehind. When no thread can be had, Run runs the job itself. A job must not throw.

#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <functional>

class CJobBehind
{
public:
    CJobBehind() = default;
    ~CJobBehind() { Wait(); }
    CJobBehind(const CJobBehind&) = delete;
    CJobBehind& operator=(const CJobBehind&) = delete;

    void Run(std::function<void()> job);
    void Wait();

private:
    static DWORD WINAPI Main(void* self);

    std::function<void()> m_job;
    CHandle m_thread;
};
