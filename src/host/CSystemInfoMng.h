#pragma once
// The system information component (Anvara.dll in the folder given, the utilities folder). Its library is
// loaded by Load() and stays loaded for the wrapper's lifetime; an interface obtained here is given back
// through FreeHardware.

#include "host/CLoader.h"
#include "host/ComponentExports.h"

#include <string>

class CSystemInfoMng : private CComponentLibrary
{
public:
    explicit CSystemInfoMng(const std::wstring& folder);
    using CComponentLibrary::Load;

    // Null without the library, its export or an interface.
    IHardware* GetHardware();
    // Clears *hardware through the component; nothing happens without the library or its export.
    void FreeHardware(IHardware** hardware) { Call<FreeIHardwareFn>("FreeIHardware", hardware); }
};
