#pragma once
// The logging component (Hollin.dll): the agent's log.
// Shared by the plug-in and the stand-in component; binary contract as in IPlugin.h.

#include "platform/Win.h"

class ILogService
{
public:
    virtual ~ILogService() = default;                           // slot 0
    virtual void Write(DWORD level, const wchar_t* text) = 0;   // slot 1: level as the trace levels (2..5)
};

using GetILogServiceFn = ILogService* (*)();
using FreeILogServiceFn = void (*)(ILogService** service);
