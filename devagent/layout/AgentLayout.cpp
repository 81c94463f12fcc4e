#include "AgentLayout.h"

#include "platform/Path.h"
#include "platform/Registry.h"

#include <utility>

namespace devagent
{
namespace
{

DWORD MakeFolder(const std::wstring& folder)
{
    if (::CreateDirectoryW(folder.c_str(), nullptr))
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS ? ERROR_SUCCESS : error;
}

} // namespace

DWORD MakeInstallFolders(const std::wstring& folder)
{
    const std::wstring root = WithTrailingBackslash(folder);
    if (const DWORD error = MakeFolder(root); error != ERROR_SUCCESS)
        return error;
    for (const wchar_t* sub : kInstallSubfolders)
        if (const DWORD error = MakeFolder(root + sub); error != ERROR_SUCCESS)
            return error;
    return ERROR_SUCCESS;
}

DWORD CopyIntoInstall(const std::wstring& from, const std::wstring& file, const std::wstring& install,
                      const std::wstring& subfolder, const std::wstring& asName, std::wstring& failed)
{
    const std::wstring target =
        WithTrailingBackslash(install) + WithTrailingBackslash(subfolder) + (asName.empty() ? file : asName);
    if (::CopyFileW((WithTrailingBackslash(from) + file).c_str(), target.c_str(), FALSE))
        return ERROR_SUCCESS;
    failed = target;
    return ::GetLastError();
}

DWORD CopyComponents(const std::wstring& from, const std::wstring& install, std::wstring& failed)
{
    for (const ComponentPlace& place : kComponentPlaces)
        if (const DWORD error = CopyIntoInstall(from, place.file, install, place.subfolder, {}, failed);
            error != ERROR_SUCCESS)
            return error;
    return ERROR_SUCCESS;
}

DWORD WriteSetupValue(const wchar_t* name, const std::wstring& value)
{
    return WriteRegistryText(HKEY_LOCAL_MACHINE, kAgentSetupKey, name, value);
}

DWORD RemoveSetupValue(const wchar_t* name)
{
    return DeleteRegistryValue(HKEY_LOCAL_MACHINE, kAgentSetupKey, name);
}

DWORD RemoveSetupKey()
{
    return ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAgentSetupKey);
}

DWORD RegisterDevelopmentAgent(const std::wstring& folder, std::wstring& failed)
{
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"Path", WithTrailingBackslash(folder)},
        {L"InitialCompanyName", L"Korvo Security"},
        {L"InitialProductName", L"Velnor Agent"},
        {L"LProductName", L"Korvo Velnor Agent"},
        {L"Normal", L"1.0.0"},
    };
    for (const auto& [name, value] : values)
    {
        if (const DWORD error = WriteSetupValue(name, value); error != ERROR_SUCCESS)
        {
            failed = name;
            return error;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace devagent
