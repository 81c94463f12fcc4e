// The plug-in library built from the product's own parts, for the tests of what happens when it is unloaded.
// Its GetPluginList also reads a setting, raises one event through the dispatcher component and makes the
// compression helper: the module-wide helpers that hold a component until unload, in that order.
#include "host/CCompressionHelper.h"
#include "host/CDispatcherHelper.h"
#include "host/InstallLocations.h"
#include "plugin/PluginList.h"

extern "C" PluginList* ProbeGetPluginList()
{
    PluginList* list = GetPluginList();
    std::wstring mode;
    static_cast<void>(ReadConfigValue(L"Register.Agent.TestMode", mode, nullptr));
    static_cast<void>(CDispatcherHelper::Instance().SendText(L"{\"Probe\":{}}", false));
    CCompressionHelper::Instance();
    return list;
}
