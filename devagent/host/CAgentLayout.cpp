#include "CAgentLayout.h"

#include "host/InstallLocations.h"
#include "platform/CUniqueHandle.h"

#include <fstream>

namespace devagent
{
namespace
{

constexpr char kDevelopmentConfig[] = R"({
  "Register.Register.DeviceId": "dev-device-0001",
  "Register.Register.SiteId": "dev-site-0001",
  "Register.Register.Region": "dev",
  "Register.Agent.TestMode": "1"
}
)";

bool MakeFolder(const std::wstring& folder)
{
    return ::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring WithBackslash(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder;
}

} // namespace

bool LayOutAgent(const std::wstring& folder, const std::wstring& from, std::wstring& error)
{
    const std::wstring root = WithBackslash(folder);
    if (!MakeFolder(root))
    {
        error = L"cannot create " + root;
        return false;
    }
    for (const wchar_t* sub : {L"Utils", L"Plugins", L"Additional files", L"Repository"})
    {
        if (!MakeFolder(root + sub))
        {
            error = L"cannot create " + root + sub;
            return false;
        }
    }
    const struct
    {
        const wchar_t* file;
        const wchar_t* subfolder;
    } components[] = {
        {L"Telemetry.dll", L"Plugins\\"}, {L"Tamsin.dll", L"Utils\\"},   {L"Hollin.dll", L"Utils\\"},
        {L"Quillon.dll", L"Utils\\"},    {L"QuillonLC.dll", L"Utils\\"}, {L"Anvara.dll", L"Utils\\"},
        {L"Ostrel.dll", L""}};
    for (const auto& component : components)
    {
        const std::wstring source = WithBackslash(from) + component.file;
        const std::wstring target = root + component.subfolder + component.file;
        if (!::CopyFileW(source.c_str(), target.c_str(), FALSE))
        {
            error = L"cannot copy " + source + L" to " + target;
            return false;
        }
    }
    const std::wstring config = root + L"Utils\\config.json";
    if (::GetFileAttributesW(config.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        CFileHandle file(::CreateFileW(config.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD written = 0;
        if (!file || !::WriteFile(file.Get(), kDevelopmentConfig, sizeof(kDevelopmentConfig) - 1, &written, nullptr))
        {
            error = L"cannot write " + config;
            return false;
        }
    }
    return true;
}

bool RegisterAgent(const std::wstring& folder, std::wstring& error)
{
    CRegKey key;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentSetupKey, 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS)
    {
        error = L"cannot create the agent's setup key: error " + std::to_wstring(status);
        return false;
    }
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"Path", WithBackslash(folder)},
        {L"InitialCompanyName", L"Korvo Security"},
        {L"InitialProductName", L"Velnor Agent"},
        {L"LProductName", L"Korvo Velnor Agent"},
        {L"Normal", L"1.0.0"},
    };
    for (const auto& [name, value] : values)
    {
        if (::RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        {
            error = std::wstring(L"cannot write ") + name;
            return false;
        }
    }
    return true;
}

} // namespace devagent
