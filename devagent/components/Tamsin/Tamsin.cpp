// The development agent's configuration component: "config.json" beside this library.

#include "CJsonConfigUtil.h"

#include "platform/ModuleFolder.h"

#include <string>

// Built while the library loads: a function-local static would take the threads library's once-lock,
// which leaves a thread handle and an event behind for every load.
static CJsonConfigUtil g_util(ThisModuleFolder() + L"config.json");

extern "C" __declspec(dllexport) IConfigUtil* GetUtil()
{
    return &g_util;
}
