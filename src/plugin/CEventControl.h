#pragma once
// Admission of one kind of event. In WaitForPrevious mode an admitted event keeps the control's mutex
// locked while it runs, so the next one waits for it; RejectWhileBusy refuses instead of waiting;
// AllowConcurrent admits everything. TryEnter and Leave run on the same thread: CAutoEventControl
// brackets them.

#include "platform/Win.h"

#include <mutex>

enum EventControlMode : DWORD
{
    AllowConcurrent = 1,
    WaitForPrevious = 2,
    RejectWhileBusy = 4,
};

class CEventControl
{
public:
    explicit CEventControl(EventControlMode mode) : m_mode(mode) {}
    CEventControl(const CEventControl&) = delete;
    CEventControl& operator=(const CEventControl&) = delete;

    [[nodiscard]] bool TryEnter();
    void Leave();

private:
    std::mutex m_mutex;
    bool m_held = false;
    bool m_busy = false;
    EventControlMode m_mode;
};

class CAutoEventControl
{
public:
    explicit CAutoEventControl(CEventControl& control) : m_control(&control), m_entered(control.TryEnter()) {}
    virtual ~CAutoEventControl()
    {
        if (m_entered)
            m_control->Leave();
    }
    CAutoEventControl(const CAutoEventControl&) = delete;
    CAutoEventControl& operator=(const CAutoEventControl&) = delete;

    [[nodiscard]] bool Entered() const { return m_entered; }

private:
    CEventControl* m_control;
    bool m_entered;
};
