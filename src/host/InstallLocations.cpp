#include "host/InstallLocations.h"

#include "host/CConfigHelper.h"
#include "host/Trace.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/TextUtil.h"

#include <shlobj.h>

#include <algorithm>
#include <mutex>
#include <vector>

TRACE_UNIT("98a80af4-0768-421f-9b5a-63364ab8c3a7");

namespace
{

constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kLegacySoftwareKey[] = L"SOFTWARE\\Korvo Software\\Setup";
constexpr wchar_t kLegacySecurityKey[] = L"SOFTWARE\\Korvo Security\\Setup";
constexpr wchar_t kAgentUninstallEntry[] = L"Korvo Velnor Agent";
constexpr wchar_t kDefaultCompanyFolder[] = L"Korvo Security";
constexpr wchar_t kDefaultProductName[] = L"Korvo Endpoint Agent";

constexpr wchar_t kDeviceIdKey[] = L"Register.Register.DeviceId";
constexpr wchar_t kSiteIdKey[] = L"Register.Register.SiteId";
constexpr wchar_t kTestModeKey[] = L"Register.Agent.TestMode";

// The shell's answer, kept once it was had: asking costs half a millisecond under Wine, and every download and
// "PluginExecute" asks more than once.
std::mutex g_commonDataMutex;
std::wstring g_commonDataFolder;

CHeldRegistryKey g_agentSetupKey(kAgentSetupKey);
CHeldRegistryKey g_legacySoftwareKey(kLegacySoftwareKey);
CHeldRegistryKey g_legacySecurityKey(kLegacySecurityKey);

bool Succeeded(LONG status, const wchar_t* keyPath, const wchar_t* valueName)
{
    if (status != ERROR_SUCCESS)
        TRACE_VERBOSE(kTraceFlagGeneral, 12, "cannot read %ls of HKLM\\%ls: error %d", valueName, keyPath, status);
    return status == ERROR_SUCCESS;
}

bool ReadHeldText(CHeldRegistryKey& key, const wchar_t* keyPath, const wchar_t* valueName, std::wstring& out)
{
    return Succeeded(key.Text(valueName, out), keyPath, valueName);
}

// A name from the registry that is empty would give a folder without a name ("...\\\\"): treat it as unset.
bool AcceptName(bool read, std::wstring& text, std::wstring& out)
{
    if (!read || text.empty())
        return false;
    out = std::move(text);
    return true;
}

bool ReadName(const wchar_t* keyPath, const wchar_t* valueName, std::wstring& out)
{
    std::wstring text;
    return AcceptName(Succeeded(ReadRegistryText(HKEY_LOCAL_MACHINE, keyPath, valueName, text), keyPath, valueName),
                      text, out);
}

bool ReadSetupName(const wchar_t* valueName, std::wstring& out)
{
    std::wstring text;
    return AcceptName(ReadAgentSetupString(valueName, text), text, out);
}

// A version with exactly two "." gets ".0000" appended.
bool ReadVersion(CHeldRegistryKey& key, const wchar_t* keyPath, const wchar_t* valueName, std::wstring& out)
{
    std::wstring text;
    if (!ReadHeldText(key, keyPath, valueName, text))
        return false;
    if (std::count(text.begin(), text.end(), L'.') == 2)
        text += L".0000";
    out = std::move(text);
    return true;
}

bool GetInstallSubfolder(const wchar_t* name, std::wstring& out)
{
    std::wstring folder;
    if (!GetInstallFolder(folder))
        return false;
    out = folder + name + L'\\';
    return true;
}

// Gives a QueryValue result back to its component on every path.
class CQueriedValue
{
public:
    explicit CQueriedValue(IConfigUtil* util) : m_util(util) {}
    ~CQueriedValue()
    {
        if (m_value != nullptr)
            m_util->ReleaseValue(&m_value);
    }
    CQueriedValue(const CQueriedValue&) = delete;
    CQueriedValue& operator=(const CQueriedValue&) = delete;

    wchar_t** Put() { return &m_value; }
    const wchar_t* Get() const { return m_value; }

private:
    IConfigUtil* m_util;
    wchar_t* m_value = nullptr;
};

bool GetRegisteredValue(const wchar_t* key, std::wstring& out, IConfigUtil* util)
{
    std::wstring value;
    const DWORD result = ReadConfigValue(key, value, util);
    if (result != ERROR_SUCCESS || value.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "registration value %ls missing: error %u, length %zu", key, result,
                    value.size());
        return false;
    }
    out = std::move(value);
    return true;
}

} // namespace

CHeldRegistryKey& AgentSetupKey()
{
    return g_agentSetupKey;
}

CHeldRegistryKey& LegacySoftwareSetupKey()
{
    return g_legacySoftwareKey;
}

CHeldRegistryKey& LegacySecuritySetupKey()
{
    return g_legacySecurityKey;
}

bool ReadAgentSetupString(const wchar_t* valueName, std::wstring& out)
{
    return ReadHeldText(g_agentSetupKey, kAgentSetupKey, valueName, out);
}

bool GetInstallFolder(std::wstring& out)
{
    // An empty "Path" would make the root of the current drive the install folder.
    std::wstring folder;
    if (!ReadSetupName(L"Path", folder))
    {
        TRACE_WARNING(kTraceFlagGeneral, 14, "no install path in HKLM\\%ls", kAgentSetupKey);
        return false;
    }
    out = WithTrailingBackslash(folder);
    return true;
}

bool GetUtilsFolder(std::wstring& out)
{
    return GetInstallSubfolder(L"Utils", out);
}

bool GetPluginsFolder(std::wstring& out)
{
    return GetInstallSubfolder(L"Plugins", out);
}

bool GetAdditionalFilesFolder(std::wstring& out)
{
    return GetInstallSubfolder(L"Additional files", out);
}

bool GetRepositoryFolder(std::wstring& out)
{
    return GetInstallSubfolder(L"Repository", out);
}

bool GetCommonDataFolder(std::wstring& out)
{
    {
        const std::lock_guard<std::mutex> lock(g_commonDataMutex);
        if (!g_commonDataFolder.empty())
        {
            out = g_commonDataFolder;
            return true;
        }
    }
    wchar_t path[MAX_PATH] = {};
    const HRESULT result = ::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, path);
    if (FAILED(result))
    {
        TRACE_ERROR(kTraceFlagGeneral, 15, "no common application data folder: 0x%x", static_cast<DWORD>(result));
        return false;
    }
    path[MAX_PATH - 1] = L'\0';
    out = WithTrailingBackslash(path);
    const std::lock_guard<std::mutex> lock(g_commonDataMutex);
    g_commonDataFolder = out;
    return true;
}

bool GetCompanyDataFolder(std::wstring& out)
{
    std::wstring folder;
    if (!GetCommonDataFolder(folder))
        return false;
    std::wstring company;
    if (!ReadSetupName(L"InitialCompanyName", company))
        company = kDefaultCompanyFolder;
    out = folder + company + L'\\';
    return true;
}

bool GetAgentDataFolder(std::wstring& out)
{
    std::wstring folder;
    if (!GetCompanyDataFolder(folder))
        return false;
    std::wstring product;
    if (!ReadSetupName(L"InitialProductName", product))
        GetProductDisplayName(product);
    out = folder + product + L'\\';
    return true;
}

void GetProductDisplayName(std::wstring& out)
{
    if (ReadName((std::wstring(kUninstallKey) + kAgentUninstallEntry).c_str(), L"DisplayName", out))
        return;
    std::wstring productCode;
    if (ReadSetupName(L"ProductCodeMSI", productCode) &&
        ReadName((kUninstallKey + productCode).c_str(), L"DisplayName", out))
        return;
    if (ReadSetupName(L"LProductName", out))
        return;
    out = kDefaultProductName;
}

bool GetMainProductId(DWORD& out)
{
    return g_legacySoftwareKey.Dword(L"MainProductID", out) == ERROR_SUCCESS ||
           g_legacySecurityKey.Dword(L"MainProductID", out) == ERROR_SUCCESS;
}

bool GetLegacyProductVersion(std::wstring& out, const std::vector<DWORD>& allowedIds)
{
    DWORD id = 0;
    if (!GetMainProductId(id))
        return false;
    if (!allowedIds.empty() && std::find(allowedIds.begin(), allowedIds.end(), id) == allowedIds.end())
        return false;
    return ReadVersion(g_legacySoftwareKey, kLegacySoftwareKey, L"Normal", out) ||
           ReadVersion(g_legacySecurityKey, kLegacySecurityKey, L"Normal", out);
}

bool GetAgentVersion(std::wstring& out)
{
    return ReadVersion(g_agentSetupKey, kAgentSetupKey, L"Normal", out);
}

std::wstring FolderOrEmpty(bool (*read)(std::wstring&))
{
    std::wstring folder;
    if (!read(folder))
        folder.clear();
    return folder;
}

DWORD ReadConfigValue(const wchar_t* key, std::wstring& out, IConfigUtil* util)
{
    util = CConfigHelper::Resolve(util);
    if (util == nullptr)
        return ERROR_DLL_NOT_FOUND;
    CQueriedValue value(util);
    const DWORD result = util->QueryValue(key, value.Put(), 0);
    if (result == ERROR_SUCCESS && value.Get() != nullptr)
        out.assign(value.Get());
    return result;
}

bool GetRegisteredDeviceId(std::wstring& out, IConfigUtil* util)
{
    return GetRegisteredValue(kDeviceIdKey, out, util);
}

bool GetRegisteredSiteId(std::wstring& out, IConfigUtil* util)
{
    return GetRegisteredValue(kSiteIdKey, out, util);
}

bool GetTestMode(int& out, IConfigUtil* util)
{
    std::wstring text;
    if (ReadConfigValue(kTestModeKey, text, util) != ERROR_SUCCESS)
        return false;
    std::int32_t mode = 0;
    static_cast<void>(ReadLeadingInt32(text, mode));   // no digits read as 0
    out = mode;
    return true;
}
