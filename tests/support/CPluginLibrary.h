#pragma once
// Telemetry.dll as the agent's host holds it: loaded from a path, its two exports looked up. The library is
// freed with the object; lists obtained through it must be given back first.

#include "host/IPlugin.h"
#include "platform/CUniqueHandle.h"

#include <string>

class CPluginLibrary
{
public:
    explicit CPluginLibrary(const std::wstring& path)
        : m_module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
    {
        if (m_module)
        {
            m_get = reinterpret_cast<GetPluginListFn>(
                reinterpret_cast<void (*)()>(::GetProcAddress(m_module.Get(), "GetPluginList")));
            m_free = reinterpret_cast<FreePluginListFn>(
                reinterpret_cast<void (*)()>(::GetProcAddress(m_module.Get(), "FreePluginList")));
        }
    }
    bool IsLoaded() const { return m_module && m_get != nullptr && m_free != nullptr; }
    PluginList* Get() const { return m_get(); }
    void Free(PluginList* list) const { m_free(list); }

private:
    CModule m_module;
    GetPluginListFn m_get = nullptr;
    FreePluginListFn m_free = nullptr;
};
