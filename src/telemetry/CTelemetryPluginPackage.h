#pragma once
// The package of one "PluginExecute" run, under the agent's data folder:
//
//   package file     Downloads\<name>            name: the last segment of the source URL's path; the MD5 text of
//                                                the whole source when the path is empty or its last segment
//                                                would leave the folder (empty, ".", "..", refused characters)
//   unpacked folder  Downloads\<plug-in id>\     where it is unpacked; the launcher path is relative to it
//
// Prepare reuses what an earlier run left when it still verifies, unpacks again a package file whose MD5 still
// matches, and otherwise fetches the package afresh: one attempt of the repository batch downloader (the
// agent's own repository and its peers first, then the package's own URL), nothing waited for or retried.
// After a failed download, unpack or verification nothing of the package is left on disk.
//
// Statuses: ERROR_INVALID_DATA no source; ERROR_DLL_INIT_FAILED no communications component;
// ERROR_NOT_ENOUGH_MEMORY no interface from it, or no batch downloader; the system's error when the source URL
// cannot be split (ERROR_WINHTTP_INVALID_URL when the system gave none); ERROR_NOT_FOUND no data folder; the
// file's own error, or ERROR_REQUEST_REFUSED when it has none, for a failed download; kUnpackFailed (605)
// unpacking failed; ERROR_INSTALL_PACKAGE_INVALID the unpacked package does not verify; from Cleanup,
// ERROR_UNABLE_TO_CLEAN when something stayed. Every failure is traced.
// The plug-in id must already be a plain file name (the processor refuses others).

#include "host/CInstalledComponents.h"
#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "host/ILogService.h"
#include "repository/IDownloadableFile.h"
#include "telemetry/CCartridge.h"
#include "telemetry/ITelemetryPluginPackage.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Where a package comes from: the URL resolved from the event, the MD5 texts the server gave, the flags
// (bit 0: a self-extracting program) and the catalog type (carried, not used).
constexpr DWORD kUnpackFailed = 605;

struct CartridgeDescriptor
{
    std::wstring source;
    std::wstring sourceMd5;
    std::wstring catalogMd5;
    std::uint32_t flags = 0;
    std::uint32_t catalogType = 0;
};

// Fetches the files into place in one attempt, without waiting or retrying; each file records its own outcome.
// False when the attempt could not be made at all.
using PackageFetch = std::function<bool(const std::vector<IDownloadableFile*>& files, IConfigUtil* configUtil,
                                        IDispatcherHelper* dispatcherHelper, ILogService* logService)>;

// The product's fetch: one attempt of the repository batch downloader, scope "Telemetry", the agent's
// repository and its peers first, then each file's own URL.
[[nodiscard]] bool FetchFromRepositories(const std::vector<IDownloadableFile*>& files, IConfigUtil* configUtil,
                                         IDispatcherHelper* dispatcherHelper, ILogService* logService);

// What a package reaches outside itself, the cartridge's services among them; the defaults are the product's.
struct PluginPackageServices : CartridgeServices
{
    // The communications component, for SplitUrl.
    IComponentAccess* components = &CInstalledComponents::Instance();
    PackageFetch fetch = FetchFromRepositories;
};

class CTelemetryPluginPackage : public ITelemetryPluginPackage
{
public:
    // A null configUtil takes the module's; without one, std::logic_error("configUtil is nullptr"). A null
    // dispatcherHelper throws std::logic_error("dispatcherHelper is nullptr"). All borrowed.
    CTelemetryPluginPackage(const std::wstring& pluginId, const std::wstring& pluginName,
                            const std::wstring& launcherPath, const CartridgeDescriptor& cartridge,
                            IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper, ILogService* logService,
                            PluginPackageServices services = {});

    [[nodiscard]] DWORD Prepare(std::wstring& pluginPath, std::wstring& launcherPath) override;
    [[nodiscard]] DWORD Cleanup() override;

private:
    struct Places
    {
        std::wstring packageFile;
        std::wstring unpackedFolder;
    };
    [[nodiscard]] DWORD GetPackageFileName(std::wstring& name) const;
    [[nodiscard]] DWORD GetPlaces(Places& places);
    [[nodiscard]] CCartridge MakeCartridge(const Places& places) const;
    [[nodiscard]] DWORD Download(const Places& places) const;

    std::wstring m_pluginId;
    std::wstring m_pluginName;
    std::wstring m_launcherPath;
    CartridgeDescriptor m_descriptor;
    IConfigUtil* m_configUtil;
    IDispatcherHelper* m_dispatcherHelper;
    ILogService* m_logService;
    PluginPackageServices m_services;
    std::optional<Places> m_places;
};
