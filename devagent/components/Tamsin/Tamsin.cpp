// The development agent's configuration component: "config.json" beside this library.

#include "CJsonConfigUtil.h"

#include "platform/ModuleFolder.h"

#include <string>

// At namespace scope, built while the library loads (why: src/host/ModuleComponents.h).
static CJsonConfigUtil g_util(ThisModuleFolder() + L"config.json");

extern "C" __declspec(dllexport) IConfigUtil* GetUtil()
{
    return &g_util;
}
