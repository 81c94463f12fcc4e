#pragma once
// Where the agent is installed and who it is. Every call reads the registry (HKEY_LOCAL_MACHINE, query access,
// the view Windows gives this process) or the configuration again: the agent's setup keys stay open between
// calls, but their values are read anew each time. Only the common application data folder, which does not move
// while a process runs, is asked of the system once. Every folder ends in a backslash. On failure an output is
// left as it was, unless said otherwise.

#include "host/IConfigUtil.h"
#include "platform/Registry.h"

#include <string>
#include <vector>

// The agent's setup key.
constexpr wchar_t kAgentSetupKey[] = L"SOFTWARE\\Korvo Security\\SetupEx\\Velnor Agent";
// It, held open; and the two setup keys of the products before the agent, where a value is looked for in the
// software key first, then in the security key.
[[nodiscard]] CHeldRegistryKey& AgentSetupKey();
[[nodiscard]] CHeldRegistryKey& LegacySoftwareSetupKey();
[[nodiscard]] CHeldRegistryKey& LegacySecuritySetupKey();

// A REG_SZ or REG_EXPAND_SZ text of the agent's setup key (platform/Registry.h: ReadRegistryText).
[[nodiscard]] bool ReadAgentSetupString(const wchar_t* valueName, std::wstring& out);

// False when "Path" cannot be read.
[[nodiscard]] bool GetInstallFolder(std::wstring& out);
[[nodiscard]] bool GetUtilsFolder(std::wstring& out);
[[nodiscard]] bool GetPluginsFolder(std::wstring& out);
[[nodiscard]] bool GetAdditionalFilesFolder(std::wstring& out);
[[nodiscard]] bool GetRepositoryFolder(std::wstring& out);
// What read (one of the above) gives, or empty when it fails: a component library refuses the empty folder, so
// that nothing is loaded by its bare name. The caller traces an empty result in its own words.
[[nodiscard]] std::wstring FolderOrEmpty(bool (*read)(std::wstring&));

// False when the common application data folder cannot be obtained.
[[nodiscard]] bool GetCommonDataFolder(std::wstring& out);
[[nodiscard]] bool GetCompanyDataFolder(std::wstring& out);
[[nodiscard]] bool GetAgentDataFolder(std::wstring& out);

// Always fills out (last resort "Korvo Endpoint Agent").
void GetProductDisplayName(std::wstring& out);
[[nodiscard]] bool GetMainProductId(DWORD& out);
[[nodiscard]] bool GetLegacyProductVersion(std::wstring& out, const std::vector<DWORD>& allowedIds);
[[nodiscard]] bool GetAgentVersion(std::wstring& out);

// util may be null: the module's configuration utility is used. ERROR_DLL_NOT_FOUND without one.
[[nodiscard]] DWORD ReadConfigValue(const wchar_t* key, std::wstring& out, IConfigUtil* util);
[[nodiscard]] bool GetRegisteredDeviceId(std::wstring& out, IConfigUtil* util);
[[nodiscard]] bool GetRegisteredSiteId(std::wstring& out, IConfigUtil* util);
// "Register.Agent.TestMode" as a decimal number (0 without digits, saturated beyond 32 bits).
[[nodiscard]] bool GetTestMode(int& out, IConfigUtil* util = nullptr);
