#pragma once
// When a scheduler task runs. The default value is all zero with empty lists: a task that runs once.
// The numbers are the scheduler service's own and are passed to it untouched.

#include <cstdint>
#include <vector>

struct ScheduleInfo
{
    std::int32_t Repetition = 0;
    std::int32_t Position = 0; // 0: none
    std::vector<std::uint32_t> Days;
    std::vector<std::uint32_t> DaysOfWeek;
    std::uint64_t Every = 0; // 0: none
    bool LocalTime = false;  // only passed on with a given start time
};

// True for an interval (Repetition 0 with Every set), for Repetition 1, and for Repetition 2 or 3 with days,
// weekdays or a Position from 1 to 5. Every other combination is a one-shot task.
[[nodiscard]] bool HasRepetition(const ScheduleInfo& info);
