#include "CAgentLayout.h"

#include "AgentLayout.h"
#include "platform/Files.h"
#include "platform/FolderTree.h"
#include "platform/Path.h"

namespace devagent
{
namespace
{

constexpr char kDevelopmentConfig[] = R"json({
  "Register.Register.DeviceId": "dev-device-0001",
  "Register.Register.SiteId": "dev-site-0001",
  "Register.Register.Region": "dev",
  "Register.Agent.TestMode": "1",
  "Services.Defaults.DeviceId": "dev-device-0001",
  "Services.Defaults.SiteId": "dev-site-0001",
  "Services.Defaults.Product": "1",
  "Services.Defaults.ProductVersion": "1.0.0",
  "Services.Defaults.User-Agent": "Velnor Agent (development)",
  "Services.Authorization.AuthorizationId": "dev-authorization",
  "Services.Authorization.Secret": "dev-secret",
  "Services.Authorization.AuthorizationService": "KWS",
  "Services.Authorization.AuthorizationServiceVersion": "2",
  "Services.Service_TelemetryFileUpload.Type": "DataContainer",
  "Services.Service_TelemetryFileUpload.PathPrefix": "data",
  "Services.Service_TelemetryFileUpload.Service": "telemetry-files",
  "Services.Service_TelemetryFileUpload.Container": "uploads"
}
)json";

} // namespace

bool LayOutAgent(const std::wstring& folder, const std::wstring& from, std::wstring& error)
{
    const std::wstring root = WithTrailingBackslash(folder);
    std::wstring failed;
    if (MakeInstallFolders(root) != ERROR_SUCCESS)
    {
        error = L"cannot create the folders of " + root;
        return false;
    }
    if (CopyComponents(from, root, failed) != ERROR_SUCCESS)
    {
        error = L"cannot copy to " + failed;
        return false;
    }
    const std::wstring config = root + L"Utils\\config.json";
    if (::GetFileAttributesW(config.c_str()) == INVALID_FILE_ATTRIBUTES &&
        WriteWholeFile(config, kDevelopmentConfig) != ERROR_SUCCESS)
    {
        error = L"cannot write " + config;
        return false;
    }
    return true;
}

bool RegisterAgent(const std::wstring& folder, std::wstring& error)
{
    std::wstring failed;
    if (const DWORD status = RegisterDevelopmentAgent(folder, failed); status != ERROR_SUCCESS)
    {
        error = L"cannot write " + failed + L" of the agent's setup key: error " + std::to_wstring(status);
        return false;
    }
    // The launcher's configuration files go here; the plug-in expects the installer to have made it.
    std::wstring data;
    if (!GetAgentDataFolder(data))
    {
        error = L"no agent data folder";
        return false;
    }
    if (const DWORD status = MakeFolderTree(data + L"Config"); status != ERROR_SUCCESS)
    {
        error = L"cannot make " + data + L"Config: error " + std::to_wstring(status);
        return false;
    }
    return true;
}

} // namespace devagent
