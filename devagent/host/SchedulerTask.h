#pragma once
// One task of the development scheduler: what a "SchedulerTaskAdd" request registers and what the
// configuration keeps of it. The stored form is the request's own members plus "NextRun", the UTC time of the
// next delivery, so that a restarted scheduler continues where it stopped.
//
// "StartTime" is "%Now()%" (the registration) or a time ScheduleTime.h reads, local with "LocalTime" true;
// "Offset" and "Every" are seconds, both multiplied by the time scale. "Repetition" 1 without "Every" repeats
// daily; other repetition kinds are kept but never run.

#include "message/CMessageObject.h"

#include <cstdint>
#include <string>

struct ScheduledTask
{
    std::wstring id;
    CMessageObject stored;  // the members kept in the configuration, "NextRun" and "Enabled" current
    CMessageObject actions; // what is delivered: the "Actions" members
    bool enabled = true;
    bool runs = true;               // false for a repetition this scheduler cannot follow
    std::uint64_t due = 0;          // UtcNowMs() time of the next delivery
    std::uint64_t every = 0;        // milliseconds between deliveries; 0 for a one-shot task
    unsigned long registration = 0; // the scheduler's count, to tell a task registered again from the one run
};

// From the members of a "SchedulerTaskAdd" request registered at now, or of a stored task (whose "NextRun"
// wins). False with the reason in why for a task without "ScheduleId" or an "Actions" object, or with a time
// or offset that cannot be read; task is then unspecified.
[[nodiscard]] bool ReadScheduledTask(const CMessageObject& members, std::uint64_t now, double scale,
                                     ScheduledTask& task, std::wstring& why);

// Moves the task to its next delivery after the one due now at now, keeping "NextRun" in step.
void AdvanceScheduledTask(ScheduledTask& task, std::uint64_t now);
void SetTaskEnabled(ScheduledTask& task, bool enabled);
