#include "plugin/PluginList.h"

#include "host/Trace.h"
#include "plugin/CTelemetry.h"

#include <exception>
#include <memory>
#include <mutex>

TRACE_UNIT("c3d85e21-7f04-4b9a-a6e2-1d5c8b3f9e70");

namespace
{

std::mutex g_listMutex;
PluginList* g_list = nullptr;
DWORD g_listCount = 0;

} // namespace

extern "C" PluginList* GetPluginList()
{
    const std::lock_guard<std::mutex> lock(g_listMutex);
    if (g_list != nullptr)
    {
        ++g_listCount;
        return g_list;
    }
    g_list = new (std::nothrow) PluginList;
    if (g_list == nullptr)
    {
        TRACE_ERROR(kTraceFlagGeneral, 12, "no memory for the plug-in list");
        return nullptr;
    }
    // A plug-in that cannot be built leaves the list empty. Its constructor's exception stops here: thrown
    // on through this C export it could not reach a host of another module or compiler, and the host
    // process would be ended instead.
    try
    {
        std::unique_ptr<IPlugin> plugin(new CTelemetry);
        g_list->push_back(PluginListEntry{plugin->GetName(), plugin.get()});
        plugin.release();
    }
    catch (const std::exception& e)
    {
        TRACE_ERROR(kTraceFlagGeneral, 10, "the plug-in cannot be built: %s", e.what());
    }
    g_listCount = 1;
    return g_list;
}

extern "C" void FreePluginList(PluginList* list)
{
    if (list == nullptr)
    {
        TRACE_ERROR(kTraceFlagGeneral, 11, "FreePluginList called with no list");
        return;
    }
    const std::lock_guard<std::mutex> lock(g_listMutex);
    if (list != g_list || g_listCount == 0)
        return;
    if (--g_listCount > 0)
        return;
    for (PluginListEntry& entry : *g_list)
        delete entry.plugin;
    delete g_list;
    g_list = nullptr;
}
