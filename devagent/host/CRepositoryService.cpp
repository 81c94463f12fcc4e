#include "CRepositoryService.h"

#include "HostOutput.h"

#include "host/IRepositoryManager.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"
#include "platform/ModuleFolder.h"
#include "platform/Path.h"
#include "repository/CRepositoryServer.h"
#include "repository/CRepositoryServerConfig.h"

#include <stdexcept>

namespace devagent
{

CRepositoryService::CRepositoryService(const std::wstring& managerFolder) : m_loader(managerFolder) {}

CRepositoryService::~CRepositoryService()
{
    if (m_manager == nullptr)
        return;
    m_manager->Stop();
    m_loader.FreeRepositoryManager(m_manager);
}

bool CRepositoryService::Start(const std::wstring& folder, unsigned long port, std::wstring& error)
{
    if (m_manager == nullptr && m_loader.Load())
        m_manager = m_loader.GetRepositoryManager();
    if (m_manager == nullptr)
    {
        error = L"the repository manager (Merrow.dll) cannot be loaded";
        return false;
    }
    CMessageObject settings;
    settings.AddString(L"RepositoryDir", folder);
    settings.AddUInt32(L"Port", port);
    std::wstring text;
    if (!settings.Serialize(text))
        return false;
    const DWORD result = m_manager->Start(text.c_str());
    if (result != ERROR_SUCCESS)
        error = L"the repository server does not start: " + Meaning(result);
    return result == ERROR_SUCCESS;
}

unsigned long CRepositoryService::Port()
{
    return m_manager != nullptr ? m_manager->GetPort() : 0;
}

std::unique_ptr<CRepositoryService> StartConfiguredRepository(const std::wstring& install, std::wstring& error)
{
    try
    {
        Repository::CRepositoryServer server;
        if (!server.IsEnabled())
            return nullptr;
        if (!server.IsReady())
        {
            error = L"the repository folder or its Merrow.dll is missing";
            return nullptr;
        }
        const Repository::CRepositoryServerConfig config;
        const std::wstring repository = WithTrailingBackslash(install) + L"Repository\\";
        const std::wstring folder = config.RepositoryPath().empty() ? repository : config.RepositoryPath();
        auto service = std::make_unique<CRepositoryService>(repository);
        if (!service->Start(folder, config.Port(), error))
            return nullptr;
        return service;
    }
    catch (const std::invalid_argument&)
    {
        error = L"no configuration for the repository server";
        return nullptr;
    }
}

namespace
{

CHandle g_stop;

BOOL WINAPI OnConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    ::SetEvent(g_stop.Get());
    return TRUE;
}

} // namespace

int RunPeerRepository(const std::wstring& folder, unsigned long port)
{
    std::wstring error;
    CRepositoryService service(ThisModuleFolder());
    if (!service.Start(folder, port, error))
    {
        PrintLine(L"agent-host: " + error);
        return 1;
    }
    g_stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!g_stop || !::SetConsoleCtrlHandler(OnConsoleControl, TRUE))
        return 1;
    PrintLine(L"peer repository " + folder + L" on http://127.0.0.1:" + std::to_wstring(service.Port()) +
              L"/ (Ctrl+C stops it)");
    ::WaitForSingleObject(g_stop.Get(), INFINITE);
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    PrintLine(L"peer repository stopped");
    return 0;
}

} // namespace devagent
