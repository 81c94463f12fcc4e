#include "telemetry/CPluginExecuteEventProcessor.h"

#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Uuid.h"
#include "repository/CDownloadSource.h"
#include "telemetry/CProcessLauncher.h"
#include "telemetry/ProcessorCollaborators.h"

#include <io.h>

#include <algorithm>
#include <memory>

TRACE_UNIT("e70bc369-3db0-49c5-994d-7a06853b5eb3");

namespace
{

constexpr wchar_t kPluginExecuteEvent[] = L"PluginExecute";
constexpr wchar_t kPluginId[] = L"PluginId";
constexpr wchar_t kPluginName[] = L"PluginName";
constexpr wchar_t kLauncherPluginName[] = L"LauncherPluginName";
constexpr wchar_t kFlags[] = L"Flags";
constexpr wchar_t kPluginLauncher[] = L"PluginLauncher";
constexpr wchar_t kCartridge[] = L"Cartridge";
constexpr wchar_t kSourcePath[] = L"SourcePath";
constexpr wchar_t kSourceRelativePath[] = L"SourceRelativePath";
constexpr wchar_t kSourceMd5[] = L"SourceMd5";
constexpr wchar_t kCatalogMd5[] = L"CatalogMd5";
constexpr wchar_t kCatalogType[] = L"CatalogType";
constexpr wchar_t kParameters[] = L"Parameters";
constexpr wchar_t kName[] = L"Name";
constexpr wchar_t kValue[] = L"Value";
constexpr wchar_t kReuse[] = L"Reuse";
constexpr wchar_t kOperationId[] = L"OperationId";
constexpr wchar_t kOwner[] = L"Owner";
constexpr wchar_t kPlugin[] = L"Plugin";

constexpr wchar_t kStandardLauncher[] = L"Wexler.exe";
constexpr wchar_t kConfigFolder[] = L"Config\\";

CartridgeDescriptor ReadCartridge(const CMessageObject& cartridge, IConfigUtil* configUtil)
{
    CartridgeDescriptor descriptor;
    std::wstring sourcePath;
    std::wstring relativePath;
    cartridge.GetString(kSourcePath, sourcePath);
    cartridge.GetString(kSourceRelativePath, relativePath);
    static_cast<void>(CDownloadSource(configUtil).ResolveUrl(sourcePath, relativePath, descriptor.source));
    cartridge.GetString(kSourceMd5, descriptor.sourceMd5);
    cartridge.GetString(kCatalogMd5, descriptor.catalogMd5);
    cartridge.GetUInt32(kCatalogType, descriptor.catalogType);
    return descriptor;
}

// The launcher's configuration: "Plugin", "Parameters" (only when there are any), "Reuse", "OperationId",
// "Owner", in that order.
bool SerializeConfiguration(const PluginExecuteRequest& request, const std::wstring& pluginPath, std::string& text)
{
    CMessageObject config;
    config.AddString(kPlugin, pluginPath);
    if (!request.parameters.empty())
    {
        CMessageObject* parameters = config.AddArray(kParameters);
        for (const auto& [name, value] : request.parameters)
        {
            CMessageObject* parameter = parameters->AddObject(std::wstring(), false);
            parameter->AddString(kName, name);
            parameter->AddString(kValue, value);
        }
    }
    config.AddBool(kReuse, request.reuse);
    config.AddString(kOperationId, request.operationId);
    config.AddString(kOwner, request.owner);
    return config.SerializeUtf8(text) && !text.empty();
}

} // namespace

PluginExecuteRequest ReadPluginExecuteRequest(const CMessageObject& payload, IConfigUtil* configUtil)
{
    PluginExecuteRequest request;
    payload.GetString(kPluginId, request.pluginId);
    payload.GetString(kPluginName, request.pluginName);
    std::wstring launcherPluginName;
    if (payload.GetString(kLauncherPluginName, launcherPluginName) && !launcherPluginName.empty())
        request.pluginName = launcherPluginName;
    payload.GetUInt32(kFlags, request.cartridge.flags);
    payload.GetString(kPluginLauncher, request.launcherPath);
    if (const CMessageObject* cartridge = ChildObject(payload, kCartridge))
    {
        const std::uint32_t flags = request.cartridge.flags;   // the event's, not the package description's
        request.cartridge = ReadCartridge(*cartridge, configUtil);
        request.cartridge.flags = flags;
    }
    request.parameters = ReadNameValuePairs(payload, kParameters, true);
    payload.GetBool(kReuse, request.reuse);
    payload.GetString(kOperationId, request.operationId);
    payload.GetString(kOwner, request.owner);
    return request;
}

CPluginExecuteEventProcessor::CPluginExecuteEventProcessor(IConfigUtil* configUtil,
                                                           IDispatcherHelper* dispatcherHelper,
                                                           ILogService* logService, PluginExecuteServices services)
    : m_configUtil(RequireConfigUtil(configUtil, kPluginExecuteEvent)),
      m_dispatcherHelper(RequireDispatcherHelper(dispatcherHelper, kPluginExecuteEvent)), m_logService(logService),
      m_services(std::move(services))
{
}

DWORD CPluginExecuteEventProcessor::Process(CMessageObject* payload)
{
    if (payload == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "PluginExecute without event data");
        return ERROR_INVALID_DATA;
    }
    const PluginExecuteRequest request = ReadPluginExecuteRequest(*payload, m_configUtil);
    if (!HasNamesInsideTheirFolders(request))
        return ERROR_INVALID_NAME;
    TRACE_VERBOSE(kTraceFlagEvents, 13, "PluginExecute of %ls from %ls (operation %ls)", request.pluginId,
                  request.cartridge.source, request.operationId);

    std::unique_ptr<CTelemetryPluginPackage> package;
    try
    {
        package = std::make_unique<CTelemetryPluginPackage>(request.pluginId, request.pluginName,
                                                            request.launcherPath, request.cartridge, m_configUtil,
                                                            m_dispatcherHelper, m_logService, m_services);
    }
    catch (const std::exception& e)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "no package object for %ls: %s", request.pluginId, e.what());
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const DWORD result = Run(request, *package);
    if (!request.reuse)
    {
        const DWORD cleaned = package->Cleanup();
        if (cleaned != ERROR_SUCCESS)
            TRACE_WARNING(kTraceFlagEvents, 15, "package of %ls not removed: error %u", request.pluginId, cleaned);
    }
    return result;
}

// Every name from the event becomes part of a path: the id names the folder that Cleanup removes and the
// configuration file, the operation id the configuration file too, the plug-in's and the launcher's names
// files inside the unpacked folder. None may lead anywhere else, or name a device.
bool CPluginExecuteEventProcessor::HasNamesInsideTheirFolders(const PluginExecuteRequest& request)
{
    if (!IsPlainFileName(request.pluginId))
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "PluginExecute refused: plug-in id \"%ls\" is not a plain name",
                    request.pluginId);
        return false;
    }
    if (std::any_of(request.operationId.begin(), request.operationId.end(), IsRefusedInFileName))
    {
        TRACE_ERROR(kTraceFlagEvents, 32, "PluginExecute refused: operation id \"%ls\" cannot be part of a file name",
                    request.operationId);
        return false;
    }
    for (const std::wstring* path : {&request.pluginName, &request.launcherPath})
    {
        if (!path->empty() && !IsPlainRelativePath(*path))
        {
            TRACE_ERROR(kTraceFlagEvents, 33, "PluginExecute refused: \"%ls\" is not a path inside the package",
                        *path);
            return false;
        }
    }
    return true;
}

DWORD CPluginExecuteEventProcessor::Run(const PluginExecuteRequest& request, ITelemetryPluginPackage& package)
{
    std::wstring pluginPath;
    std::wstring launcherPath;
    if (const DWORD status = package.Prepare(pluginPath, launcherPath); status != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "package of %ls not ready: error %u", request.pluginId, status);
        return status;
    }
    if (launcherPath.empty())
    {
        std::wstring folder;
        if (!GetAdditionalFilesFolder(folder))
        {
            TRACE_ERROR(kTraceFlagEvents, 17, "no additional-files folder for the standard launcher");
            return ERROR_PATH_NOT_FOUND;
        }
        launcherPath = folder + kStandardLauncher;
    }
    if (pluginPath.empty() || ::_waccess(pluginPath.c_str(), 0) != 0)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "plug-in main file %ls does not exist", pluginPath);
        return ERROR_FILE_NOT_FOUND;
    }
    return RunLauncher(request, pluginPath, launcherPath);
}

DWORD CPluginExecuteEventProcessor::RunLauncher(const PluginExecuteRequest& request, const std::wstring& pluginPath,
                                                const std::wstring& launcherPath)
{
    if (const DWORD status = CheckLauncher(launcherPath); status != ERROR_SUCCESS)
        return status;
    std::wstring install;
    if (!GetInstallFolder(install))
    {
        TRACE_ERROR(kTraceFlagEvents, 27, "no install folder to run %ls in", launcherPath);
        return ERROR_PATH_NOT_FOUND;
    }
    COwnedFile config;
    if (const DWORD status = WriteConfiguration(request, pluginPath, config); status != ERROR_SUCCESS)
        return status;
    const DWORD result = RunToEnd(request, launcherPath, WithTrailingBackslash(install), config.Path());
    // Also after a time-out: the launcher has had its hour to read it.
    if (const DWORD error = config.Remove(); error != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagEvents, 25, "cannot delete %ls: error %u", config.Path(), error);
    return result;
}

DWORD CPluginExecuteEventProcessor::CheckLauncher(const std::wstring& launcherPath) const
{
    if (::_waccess(launcherPath.c_str(), 0) != 0)
    {
        TRACE_ERROR(kTraceFlagEvents, 19, "launcher %ls does not exist", launcherPath);
        return ERROR_FILE_NOT_FOUND;
    }
    if (!m_services.isTrusted(launcherPath.c_str()))
    {
        TRACE_ERROR(kTraceFlagEvents, 20, "launcher %ls is not from a trusted publisher", launcherPath);
        return static_cast<DWORD>(CRYPT_E_NO_TRUSTED_SIGNER);
    }
    return ERROR_SUCCESS;
}

// "<data>\Config\<plug-in id>[_<operation id>]_<uuid>.cfg"; the "Config" folder is the agent's to make.
DWORD CPluginExecuteEventProcessor::WriteConfiguration(const PluginExecuteRequest& request,
                                                       const std::wstring& pluginPath, COwnedFile& config)
{
    std::wstring data;
    if (!GetAgentDataFolder(data))
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "no agent data folder for the launcher's configuration");
        return ERROR_PATH_NOT_FOUND;
    }
    std::wstring uuid;
    if (NewUuidText(uuid, false) != RPC_S_OK)
    {
        TRACE_ERROR(kTraceFlagEvents, 22, "no unique name for the launcher's configuration");
        return ERROR_CAN_NOT_COMPLETE;
    }
    std::wstring path = data + kConfigFolder + request.pluginId;
    if (!request.operationId.empty())
        path += L"_" + request.operationId;
    path += L"_" + uuid + L".cfg";

    std::string text;
    if (!SerializeConfiguration(request, pluginPath, text))
    {
        TRACE_ERROR(kTraceFlagEvents, 23, "cannot serialise the configuration for %ls", request.pluginId);
        return ERROR_CAN_NOT_COMPLETE;
    }
    if (const DWORD error = config.Write(path, text); error != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 24, "cannot write %ls: error %u", path, error);
        return ERROR_FILE_INVALID;
    }
    return ERROR_SUCCESS;
}

// "<launcher>" -cfg "<configuration file>" in the install folder, waited for; a launcher that outlasts the wait
// is left running.
DWORD CPluginExecuteEventProcessor::RunToEnd(const PluginExecuteRequest& request, const std::wstring& launcherPath,
                                             const std::wstring& workingFolder, const std::wstring& configPath) const
{
    CProcessLauncher launcher;
    launcher.SetExecutable(std::wstring(), launcherPath);
    launcher.SetWorkingDirectory(workingFolder);
    launcher.SetArguments(L"-cfg \"" + configPath + L"\"");
    if (!launcher.Start())
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 28, "cannot start %ls: error %u", launcherPath, error);
        return error != ERROR_SUCCESS ? error : ERROR_PROCESS_ABORTED;
    }
    if (!launcher.Wait(m_services.launcherWaitMs))
    {
        TRACE_ERROR(kTraceFlagEvents, 29, "launcher %ls still runs after %u ms: left running", launcherPath,
                    m_services.launcherWaitMs);
        return ERROR_TIMEOUT;
    }
    const DWORD exitCode = launcher.GetExitCode();
    if (exitCode != 0)
        TRACE_WARNING(kTraceFlagEvents, 30, "launcher %ls for %ls exited with %u", launcherPath, request.pluginId,
                      exitCode);
    else
        TRACE_INFO(kTraceFlagEvents, 31, "launcher %ls for %ls exited with 0", launcherPath, request.pluginId);
    return exitCode;
}
