#include "CAgentInstall.h"

#include "AgentLayout.h"
#include "platform/Path.h"

CAgentInstall::CAgentInstall()
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"agent-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(::GetTickCount64()) + L"\\";
    devagent::MakeInstallFolders(m_folder);
    devagent::RemoveSetupKey();
    devagent::WriteSetupValue(L"Path", m_folder);
}

CAgentInstall::~CAgentInstall()
{
    devagent::RemoveSetupKey();
    RemoveTree(m_folder);
}

bool CAgentInstall::Add(const std::wstring& builtFile, const std::wstring& subfolder, const std::wstring& asName)
{
    std::wstring failed;
    return devagent::CopyIntoInstall(BuildFolder(), builtFile, m_folder, subfolder, asName, failed) == ERROR_SUCCESS;
}

bool CAgentInstall::AddComponents()
{
    std::wstring failed;
    return devagent::CopyComponents(BuildFolder(), m_folder, failed) == ERROR_SUCCESS;
}

bool CAgentInstall::Remove(const std::wstring& subfolder, const std::wstring& name)
{
    return ::DeleteFileW((m_folder + WithTrailingBackslash(subfolder) + name).c_str()) != FALSE;
}

bool CAgentInstall::SetSetupValue(const wchar_t* name, const std::wstring& value)
{
    return devagent::WriteSetupValue(name, value) == ERROR_SUCCESS;
}

bool CAgentInstall::RemoveSetupValue(const wchar_t* name)
{
    return devagent::RemoveSetupValue(name) == ERROR_SUCCESS;
}

ChildResult CAgentInstall::RunHost(const std::wstring& options) const
{
    // Without its trailing backslash, which would escape the closing quote.
    const std::wstring install = m_folder.substr(0, m_folder.size() - 1);
    return RunChild(L"\"" + BuildFolder() + L"agent-host.exe\" --install \"" + install + L"\" " + options);
}

std::wstring CAgentInstall::BuildFolder()
{
    // The build folder as Windows programs under Wine see it: Wine maps / to drive Z:.
    std::wstring folder = L"Z:";
    for (const char* at = TELEMETRY_BIN_DIR; *at != '\0'; ++at)
        folder += *at == '/' ? L'\\' : static_cast<wchar_t>(*at);
    return folder + L"\\";
}
