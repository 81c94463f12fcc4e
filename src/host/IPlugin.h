#pragma once
// What the agent's host sees of a plug-in library: the plug-in list that GetPluginList hands out and the
// IPlugin interface of each entry.
//
// Shared by the plug-in and the host. Virtual tables and std::wstring are compiler-specific: the binary
// contract holds between modules built by this toolchain (GCC, mingw-w64), which share msvcrt's heap.

#include "platform/Win.h"

#include <string>
#include <vector>

class CMessageObject;

class IPlugin
{
public:
    virtual ~IPlugin() = default;                                // slot 0
    [[nodiscard]] virtual DWORD Initialize() = 0;                              // slot 1
    virtual void Uninitialize() = 0;                             // slot 2
    virtual std::wstring GetName() = 0;                          // slot 3
    virtual void GetEvents(std::vector<std::wstring>& events) = 0;   // slot 4
    [[nodiscard]] virtual DWORD ProcessEvent(CMessageObject* event) = 0;       // slot 5
};

// The host reads an entry as the standard wide string followed by the pointer.
struct PluginListEntry
{
    std::wstring name;
    IPlugin* plugin;
};

using PluginList = std::vector<PluginListEntry>;

// The library's exports (C names, C calling convention).
using GetPluginListFn = PluginList* (*)();
using FreePluginListFn = void (*)(PluginList* list);
