#include "repository/CRepositoryServerConfig.h"

#include "host/CConfigHelper.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "platform/Path.h"

#include <stdexcept>

TRACE_UNIT("11a2db64-6b9e-4f68-9ee5-f5b2aa1e3720");

namespace
{
constexpr wchar_t kSettingsKey[] = L"Repository.Server.Settings";
constexpr wchar_t kVersionKey[] = L"Repository.Server.Version";
constexpr wchar_t kRepositoryValue[] = L"Repository";
constexpr wchar_t kEnabled[] = L"Enabled";
constexpr wchar_t kPort[] = L"Port";
constexpr wchar_t kRepositoryPath[] = L"RepositoryPath";
constexpr wchar_t kMaxLogSize[] = L"MaxLogSize";
constexpr wchar_t kDriveLetter[] = L"DriveLetter";
} // namespace

namespace Repository
{

IConfigUtil* RequireConfigUtil(IConfigUtil* util)
{
    util = CConfigHelper::Resolve(util);
    if (util == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "no configuration utility for the repository settings");
        throw std::invalid_argument("configUtil");
    }
    return util;
}

CRepositoryServerConfig::CRepositoryServerConfig(IConfigUtil* util) : CConfigReader(RequireConfigUtil(util))
{
    Reload();
}

bool CRepositoryServerConfig::Reload()
{
    CMessageObject settings;
    const bool parsed = ReadObject(kSettingsKey, settings);
    if (parsed)
    {
        settings.GetBool(kEnabled, m_enabled);
        if (!settings.GetUInt32(kPort, m_port))
            m_port = kDefaultServerPort;
        settings.GetString(kRepositoryPath, m_repositoryPath);
        settings.GetString(kDriveLetter, m_driveLetter);
        settings.GetUInt32(kMaxLogSize, m_maxLogSize);
    }
    else
    {
        TRACE_WARNING(kTraceFlagEvents, 11, "no usable %ls: defaults apply", kSettingsKey);
    }

    std::wstring version;
    if (m_configUtil->GetValue(kVersionKey, version, 0) == ERROR_SUCCESS)
        m_version = version;

    if (m_repositoryPath.empty())
    {
        if (!ReadAgentSetupString(kRepositoryValue, m_repositoryPath))
            TRACE_VERBOSE(kTraceFlagEvents, 12, "no %ls value in the setup key", kRepositoryValue);
    }
    else
    {
        m_repositoryPath = WithTrailingBackslash(m_repositoryPath);
    }
    if (m_driveLetter.empty() && !m_repositoryPath.empty())
        m_driveLetter = DrivePart(m_repositoryPath);
    return parsed;
}

bool CRepositoryServerConfig::SetVersion(const std::wstring& version)
{
    const DWORD result = version.empty() ? m_configUtil->RemoveValue(kVersionKey)
                                         : m_configUtil->SetValue(kVersionKey, version.c_str(), 0);
    if (result != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 13, "cannot write %ls: error %u", kVersionKey, result);
        return false;
    }
    m_version = version;
    return true;
}

} // namespace Repository
