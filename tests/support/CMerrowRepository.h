#pragma once
// One agent's repository in the test process: Merrow.dll loaded from a folder of its own, so that several
// repositories (the agent's and its peers') run side by side.

#include "JsonEscaped.h"
#include "ModuleExport.h"

#include "host/ComponentExports.h"
#include "host/IRepositoryManager.h"
#include "platform/CUniqueHandle.h"

#include <string>

// Serves folder on a port the system picks.
class CMerrowRepository
{
public:
    using CountFn = DWORD (*)();
    using WaitIdleFn = BOOL (*)(DWORD);

    CMerrowRepository(const std::wstring& libraryFolder, const std::wstring& folder)
        : m_module(::LoadLibraryExW((libraryFolder + L"Merrow.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)),
          m_folder(folder)
    {
        if (!m_module)
            return;
        m_free = ModuleExport<FreeIRepositoryManagerFn>(m_module.Get(), "FreeIRepositoryManager");
        waitIdle = ModuleExport<WaitIdleFn>(m_module.Get(), "MerrowWaitIdle");
        outstanding = ModuleExport<CountFn>(m_module.Get(), "MerrowOutstandingObjects");
        refused = ModuleExport<CountFn>(m_module.Get(), "MerrowRefusedFiles");
        if (const auto get = ModuleExport<GetIRepositoryManagerFn>(m_module.Get(), "GetIRepositoryManager"))
            manager = get();
        const std::wstring settings = L"{\"Port\":0,\"RepositoryDir\":\"" + JsonEscaped(folder) + L"\"}";
        if (manager != nullptr && manager->Start(settings.c_str()) == ERROR_SUCCESS)
            port = static_cast<int>(manager->GetPort());
    }
    ~CMerrowRepository()
    {
        if (manager != nullptr)
            m_free(manager);
    }

    HMODULE Module() const { return m_module.Get(); }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    IRepositoryManager* manager = nullptr;
    int port = 0;
    WaitIdleFn waitIdle = nullptr;
    CountFn outstanding = nullptr;
    CountFn refused = nullptr;

private:
    CModule m_module;
    std::wstring m_folder;
    FreeIRepositoryManagerFn m_free = nullptr;
};
