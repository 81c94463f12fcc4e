#include "CAgentInstall.h"

#include "host/InstallLocations.h"
#include "platform/CUniqueHandle.h"

#include <cwchar>

namespace
{

bool WriteSetupValue(const wchar_t* name, const std::wstring& value)
{
    CRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentSetupKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Put(),
                          nullptr) != ERROR_SUCCESS)
        return false;
    return ::RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

} // namespace

CAgentInstall::CAgentInstall()
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    m_folder = std::wstring(temp) + L"agent-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(::GetTickCount64()) + L"\\";
    ::CreateDirectoryW(m_folder.c_str(), nullptr);
    for (const wchar_t* sub : {L"Utils", L"Plugins", L"Additional files", L"Repository"})
        ::CreateDirectoryW((m_folder + sub).c_str(), nullptr);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAgentSetupKey);
    WriteSetupValue(L"Path", m_folder);
}

CAgentInstall::~CAgentInstall()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAgentSetupKey);
    RemoveTree(m_folder);
}

bool CAgentInstall::Add(const std::wstring& builtFile, const std::wstring& subfolder, const std::wstring& asName)
{
    std::wstring target = m_folder;
    if (!subfolder.empty())
        target += subfolder + L"\\";
    target += asName.empty() ? builtFile : asName;
    return ::CopyFileW((BuildFolder() + builtFile).c_str(), target.c_str(), FALSE) != FALSE;
}

bool CAgentInstall::Remove(const std::wstring& subfolder, const std::wstring& name)
{
    const std::wstring path = m_folder + (subfolder.empty() ? L"" : subfolder + L"\\") + name;
    return ::DeleteFileW(path.c_str()) != FALSE;
}

bool CAgentInstall::SetSetupValue(const wchar_t* name, const std::wstring& value)
{
    return WriteSetupValue(name, value);
}

bool CAgentInstall::RemoveSetupValue(const wchar_t* name)
{
    CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentSetupKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
        return false;
    return ::RegDeleteValueW(key.Get(), name) == ERROR_SUCCESS;
}

std::wstring CAgentInstall::BuildFolder()
{
    // The build folder as Windows programs under Wine see it: Wine maps / to drive Z:.
    std::wstring folder = L"Z:";
    for (const char* at = TELEMETRY_BIN_DIR; *at != '\0'; ++at)
        folder += *at == '/' ? L'\\' : static_cast<wchar_t>(*at);
    return folder + L"\\";
}

bool RemoveTree(const std::wstring& folder)
{
    std::wstring base = folder;
    if (!base.empty() && base.back() == L'\\')
        base.pop_back();
    WIN32_FIND_DATAW found;
    CFindHandle find(::FindFirstFileW((base + L"\\*").c_str(), &found));
    if (find)
    {
        do
        {
            if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0)
                continue;
            const std::wstring path = base + L"\\" + found.cFileName;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
            {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(find.Get(), &found));
    }
    find.Reset();
    return ::RemoveDirectoryW(base.c_str()) != FALSE || ::GetFileAttributesW(base.c_str()) == INVALID_FILE_ATTRIBUTES;
}
