#pragma once
// One event's processor: made for the event, run once, released.

#include "platform/Win.h"

class CMessageObject;

class ITelemetryEventProcessor
{
public:
    virtual ~ITelemetryEventProcessor() = default;
    // The payload object of the event; the result is a Windows error number.
    [[nodiscard]] virtual DWORD Process(CMessageObject* payload) = 0;
};
