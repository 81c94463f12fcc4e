#pragma once
// The event dispatcher component (Ostrel.dll): takes UTF-16 JSON event texts.
// Shared by the plug-in and the stand-in component; binary contract as in IPlugin.h.

#include "platform/Win.h"

class IDispatchEvent
{
public:
    virtual ~IDispatchEvent() = default;                          // slot 0
    [[nodiscard]] virtual DWORD Send(const wchar_t* text, bool option) = 0;     // slot 1: 0 on success
};

using GetIDispatchEventFn = IDispatchEvent* (*)();
using FreeIDispatchEventFn = void (*)(IDispatchEvent** dispatcher);
