#include "scheduler/ScheduleInfo.h"

bool HasRepetition(const ScheduleInfo& info)
{
    switch (info.Repetition)
    {
    case 0: return info.Every != 0;
    case 1: return true;
    case 2:
    case 3: return !info.DaysOfWeek.empty() || !info.Days.empty() || (info.Position >= 1 && info.Position <= 5);
    default: return false;
    }
}
