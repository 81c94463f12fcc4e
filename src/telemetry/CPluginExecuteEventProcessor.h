#pragma once
// The "PluginExecute" event: the plug-in's package is made ready (CTelemetryPluginPackage), a configuration file
// "<data>\Config\<plug-in id>[_<operation>]_<uuid>.cfg" is written for the launcher (the package's own, else
// "Additional files\Wexler.exe" of the install), the launcher runs in the install folder as
// "<launcher>" -cfg "<configuration file>" once its publisher passes the check, and its exit code answers the
// event. The configuration file is deleted after the run; the package is removed unless "Reuse" is true.
//
// Results besides the launcher's exit code: ERROR_INVALID_NAME a "PluginId" that is not a plain file name, an
// "OperationId" with a character that file names refuse, a "PluginName" or "PluginLauncher" that is not a path
// inside the unpacked folder (nothing on disk touched); ERROR_INVALID_DATA no payload; ERROR_FILE_NOT_FOUND no
// main file or launcher; ERROR_PATH_NOT_FOUND an install or data folder that cannot be read;
// ERROR_NOT_ENOUGH_MEMORY no package or launcher object; CRYPT_E_NO_TRUSTED_SIGNER the launcher's publisher is
// not trusted (no configuration file written); ERROR_CAN_NOT_COMPLETE / ERROR_FILE_INVALID the configuration
// cannot be serialised / written (nothing left); ERROR_TIMEOUT the launcher still runs after the wait (it is
// left running); the system's error (or ERROR_PROCESS_ABORTED) when it cannot be started; any status of the
// package's Prepare.
// The host runs one PluginExecute at a time; the processor keeps nothing between events.

#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "host/ILogService.h"
#include "platform/Files.h"
#include "telemetry/CTelemetryPluginPackage.h"
#include "telemetry/ITelemetryEventProcessor.h"

#include <string>
#include <utility>
#include <vector>

// What one event asks for; a field missing or of another type keeps its default.
struct PluginExecuteRequest
{
    std::wstring pluginId;
    std::wstring pluginName;   // "LauncherPluginName" when that is not empty
    std::wstring launcherPath;
    CartridgeDescriptor cartridge;   // its source resolved through the agent's download source
    std::vector<std::pair<std::wstring, std::wstring>> parameters;   // in array order
    bool reuse = true;
    std::wstring operationId;
    std::wstring owner;
};

[[nodiscard]] PluginExecuteRequest ReadPluginExecuteRequest(const CMessageObject& payload, IConfigUtil* configUtil);

// The seams of a run, the package's and the cartridge's among them; the defaults are the product's. The
// publisher check (isTrusted) checks the launcher as well as the package.
struct PluginExecuteServices : PluginPackageServices
{
    static constexpr DWORD kLauncherWaitMs = 3600000;

    DWORD launcherWaitMs = kLauncherWaitMs;
};

class CPluginExecuteEventProcessor : public ITelemetryEventProcessor
{
public:
    // A null configUtil takes the module's; without one, std::logic_error("configUtil is nullptr"). A null
    // dispatcherHelper throws std::logic_error("dispatcherHelper is nullptr"). All borrowed.
    CPluginExecuteEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper, ILogService* logService,
                                 PluginExecuteServices services = {});
    [[nodiscard]] DWORD Process(CMessageObject* payload) override;

private:
    [[nodiscard]] static bool HasNamesInsideTheirFolders(const PluginExecuteRequest& request);
    [[nodiscard]] DWORD Run(const PluginExecuteRequest& request, ITelemetryPluginPackage& package);
    [[nodiscard]] DWORD RunLauncher(const PluginExecuteRequest& request, const std::wstring& pluginPath,
                                    const std::wstring& launcherPath);
    [[nodiscard]] DWORD CheckLauncher(const std::wstring& launcherPath) const;
    [[nodiscard]] static DWORD WriteConfiguration(const PluginExecuteRequest& request, const std::wstring& pluginPath,
                                                  COwnedFile& config);
    [[nodiscard]] DWORD RunToEnd(const PluginExecuteRequest& request, const std::wstring& launcherPath,
                                 const std::wstring& workingFolder, const std::wstring& configPath) const;

    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
    ILogService* m_logService;
    PluginExecuteServices m_services;
};
