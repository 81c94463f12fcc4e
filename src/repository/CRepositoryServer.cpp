#include "repository/CRepositoryServer.h"

#include "host/CRepositoryManagerLoader.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/Files.h"
#include "repository/CRepositoryServerConfig.h"

#include <stdexcept>

TRACE_UNIT("1475a6c0-d2ca-4636-ae64-a97d5915ac67");

namespace Repository
{

std::mutex& RepositoryMutex()
{
    static std::mutex mutex;
    return mutex;
}

CRepositoryServer::CRepositoryServer(IConfigUtil* util) : m_configUtil(util)
{
    if (!GetRepositoryFolder(m_repositoryFolder))
        TRACE_WARNING(kTraceFlagEvents, 10, "no repository folder: the install path cannot be read");
    if (!ReadAgentSetupString(L"Repository", m_registryRepository))
        m_registryRepository.clear();
}

bool CRepositoryServer::IsEnabled()
{
    try
    {
        return CRepositoryServerConfig(m_configUtil).Enabled();
    }
    catch (const std::invalid_argument&)
    {
        return false;
    }
}

bool CRepositoryServer::IsReady()
{
    const std::lock_guard<std::mutex> lock(RepositoryMutex());
    if (m_repositoryFolder.empty())
        return false;
    if (!IsFolder(m_repositoryFolder))
    {
        TRACE_INFO(kTraceFlagEvents, 11, "repository folder %ls is missing", m_repositoryFolder);
        return false;
    }
    const bool available = CRepositoryManagerLoader(m_repositoryFolder).IsAvailable();
    if (!available)
        TRACE_INFO(kTraceFlagEvents, 12, "no repository manager in %ls", m_repositoryFolder);
    return available;
}

std::wstring CRepositoryServer::GetVersion()
{
    if (!IsReady())
        return std::wstring();
    try
    {
        return CRepositoryServerConfig(m_configUtil).Version();
    }
    catch (const std::invalid_argument&)
    {
        return std::wstring();
    }
}

} // namespace Repository
