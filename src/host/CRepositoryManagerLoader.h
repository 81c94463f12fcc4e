#pragma once
// The repository manager component (Merrow.dll in the folder given). Its library is loaded by Load() and stays
// loaded for the wrapper's lifetime; an interface obtained here is given back through FreeRepositoryManager.

#include "host/CLoader.h"
#include "host/ComponentExports.h"

#include <string>

class CRepositoryManagerLoader : private CComponentLibrary
{
public:
    explicit CRepositoryManagerLoader(const std::wstring& folder);

    // True when Merrow.dll exists in the folder; nothing is loaded.
    [[nodiscard]] bool IsAvailable() const;
    using CComponentLibrary::Load;

    // Null without the library, its export or an interface.
    IRepositoryManager* GetRepositoryManager();
    void FreeRepositoryManager(IRepositoryManager* manager)
    {
        Call<FreeIRepositoryManagerFn>("FreeIRepositoryManager", manager);
    }
    // Both outputs are 0 unless the component sets them; false when the export cannot be called.
    [[nodiscard]] bool GetSupportedApiVersions(DWORD& lowest, DWORD& highest);
};
