#pragma once
// Telemetry.dll as the agent's host holds it: loaded from a path, its two exports looked up. The library is
// freed with the object; lists obtained through it must be given back first. CLoadedPlugin also holds the list
// and gives it back before the library goes.

#include "ModuleExport.h"

#include "host/IPlugin.h"
#include "platform/CUniqueHandle.h"

#include <memory>
#include <string>

class CPluginLibrary
{
public:
    explicit CPluginLibrary(const std::wstring& path)
        : m_module(LoadLibraryAt(path))
    {
        if (m_module)
        {
            m_get = ModuleExport<GetPluginListFn>(m_module.Get(), "GetPluginList");
            m_free = ModuleExport<FreePluginListFn>(m_module.Get(), "FreePluginList");
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

class CLoadedPlugin
{
public:
    CLoadedPlugin() = default;
    CLoadedPlugin(const CLoadedPlugin&) = delete;
    CLoadedPlugin& operator=(const CLoadedPlugin&) = delete;
    ~CLoadedPlugin() { Unload(); }

    // True when the library loaded and its list holds exactly one plug-in; what was held before goes first.
    bool Load(const std::wstring& path)
    {
        Unload();
        m_library = std::make_unique<CPluginLibrary>(path);
        if (m_library->IsLoaded())
            m_list = m_library->Get();
        return m_list != nullptr && m_list->size() == 1;
    }
    IPlugin& Plugin() const { return *(*m_list)[0].plugin; }
    void Unload()
    {
        if (m_list != nullptr)
            m_library->Free(m_list);
        m_list = nullptr;
        m_library.reset();
    }

private:
    std::unique_ptr<CPluginLibrary> m_library;
    PluginList* m_list = nullptr;
};
