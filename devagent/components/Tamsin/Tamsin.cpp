// The development agent's configuration component: "config.json" beside this library.

#include "CJsonConfigUtil.h"

#include "platform/ModuleFolder.h"

#include <string>

extern "C" __declspec(dllexport) IConfigUtil* GetUtil()
{
    static CJsonConfigUtil util(ThisModuleFolder() + L"config.json");
    return &util;
}
