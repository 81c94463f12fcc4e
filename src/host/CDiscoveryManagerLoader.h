#pragma once
// The discovery component (Yarran.dll in the folder given, the utilities folder). Its library is loaded by
// Load() and stays loaded for the wrapper's lifetime; the interface belongs to the component.

#include "host/CLoader.h"
#include "host/ComponentExports.h"

#include <string>

class CDiscoveryManagerLoader : private CComponentLibrary
{
public:
    explicit CDiscoveryManagerLoader(const std::wstring& folder);
    using CComponentLibrary::Load;

    // Null without the library, its export or an interface (the component's error code is traced).
    IDiscoveryInterface* GetDiscoveryInterface();
};
