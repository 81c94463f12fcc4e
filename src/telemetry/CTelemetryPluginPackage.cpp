#include "telemetry/CTelemetryPluginPackage.h"

#include "host/CommsUrlComponents.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/Digest.h"
#include "platform/Path.h"
#include "repository/CRepositoryBatchDownloader.h"
#include "telemetry/CTelemetryDownloadablePlugin.h"
#include "telemetry/ProcessorCollaborators.h"

#include <memory>
#include <stdexcept>

TRACE_UNIT("8c2f4e71-5a09-4b3d-9e86-1f7a2d3c4b50");

namespace
{

constexpr wchar_t kPluginExecuteEvent[] = L"PluginExecute";
constexpr wchar_t kDownloadsFolder[] = L"Downloads\\";
constexpr wchar_t kRepositoryScope[] = L"Telemetry";
// Fetched from its own URL on the attempt even when a repository was asked to fetch it too.
constexpr std::uint32_t kDirectEveryAttempt = 1;
// ERROR_WINHTTP_INVALID_URL: a source that the communications component cannot split, when it gave no error.
constexpr DWORD kInvalidUrl = 12005;

} // namespace

CTelemetryPluginPackage::CTelemetryPluginPackage(const std::wstring& pluginId, const std::wstring& pluginName,
                                                 const std::wstring& launcherPath,
                                                 const CartridgeDescriptor& cartridge, IConfigUtil* configUtil,
                                                 IDispatcherHelper* dispatcherHelper, ILogService* logService,
                                                 PluginPackageServices services)
    : m_pluginId(pluginId), m_pluginName(pluginName), m_launcherPath(launcherPath), m_descriptor(cartridge),
      m_configUtil(RequireConfigUtil(configUtil, kPluginExecuteEvent)),
      m_dispatcherHelper(RequireDispatcherHelper(dispatcherHelper, kPluginExecuteEvent)), m_logService(logService),
      m_services(std::move(services))
{
}

DWORD CTelemetryPluginPackage::GetPackageFileName(std::wstring& name) const
{
    const std::wstring& source = m_descriptor.source;
    if (source.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "the plug-in package has no source");
        return ERROR_INVALID_DATA;
    }
    CComponentUse<ICommsWrapper> comms;
    if (!m_services.components->UseComms(comms))
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "no communications component to split %ls", source);
        return ERROR_DLL_INIT_FAILED;
    }
    if (!comms)
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "the communications component gave no interface");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    CommsUrlComponents parts{};
    if (!comms->SplitUrl(source.c_str(), &parts))
    {
        DWORD error = ::GetLastError();
        if (error == ERROR_SUCCESS)
            error = kInvalidUrl;
        TRACE_ERROR(kTraceFlagEvents, 13, "cannot split the package source %ls: error %u", source, error);
        return error;
    }
    const std::wstring path = parts.m_path != nullptr ? std::wstring(parts.m_path, parts.m_pathLength) : L"";
    const std::size_t slash = path.find_last_of(L"/\\");
    name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    // A segment that would name something outside "Downloads" takes the name an empty path gets.
    if (!IsPlainFileName(name))
    {
        std::wstring md5;
        if (const DWORD error = Md5HexOfString(source.c_str(), md5); error != ERROR_SUCCESS)
        {
            TRACE_ERROR(kTraceFlagEvents, 14, "no MD5 name for %ls: error %u", source, error);
            return error;
        }
        name = md5;
    }
    return ERROR_SUCCESS;
}

DWORD CTelemetryPluginPackage::GetPlaces(Places& places)
{
    // Worked out once for the event: Cleanup needs the same places as Prepare, and their name takes a use of
    // the communications component.
    if (m_places)
    {
        places = *m_places;
        return ERROR_SUCCESS;
    }
    std::wstring name;
    if (const DWORD status = GetPackageFileName(name); status != ERROR_SUCCESS)
        return status;
    std::wstring data;
    if (!GetAgentDataFolder(data))
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "no agent data folder for the plug-in package");
        return ERROR_NOT_FOUND;
    }
    places.unpackedFolder = data + kDownloadsFolder + m_pluginId + L'\\';
    places.packageFile = data + kDownloadsFolder + name;
    m_places = places;
    return ERROR_SUCCESS;
}

CCartridge CTelemetryPluginPackage::MakeCartridge(const Places& places) const
{
    return CCartridge(places.packageFile, (m_descriptor.flags & 1) != 0, m_pluginName, places.unpackedFolder,
                      m_services);
}

DWORD CTelemetryPluginPackage::Prepare(std::wstring& pluginPath, std::wstring& launcherPath)
{
    Places places;
    if (const DWORD status = GetPlaces(places); status != ERROR_SUCCESS)
        return status;
    // The package's MD5s, its catalog's and every catalogued file's share the provider's context.
    const CDigestProviders digests;
    CCartridge cartridge = MakeCartridge(places);
    if (cartridge.IsInstalled(m_descriptor.sourceMd5, m_descriptor.catalogMd5))
    {
        TRACE_INFO(kTraceFlagEvents, 16, "package %ls in place and intact", places.packageFile);
    }
    else
    {
        if (cartridge.IsDownloaded(m_descriptor.sourceMd5))
        {
            TRACE_INFO(kTraceFlagEvents, 17, "package %ls downloaded before: unpacked again", places.packageFile);
            cartridge.Remove(false);
        }
        else
        {
            cartridge.Remove(true);
            if (const DWORD status = Download(places); status != ERROR_SUCCESS)
            {
                cartridge.Remove(true);
                return status;
            }
        }
        if (!cartridge.Unpack())
        {
            TRACE_ERROR(kTraceFlagEvents, 18, "cannot unpack %ls", places.packageFile);
            cartridge.Remove(true);
            return kUnpackFailed;
        }
        if (!cartridge.IsInstalled(m_descriptor.sourceMd5, m_descriptor.catalogMd5))
        {
            TRACE_ERROR(kTraceFlagEvents, 19, "unpacked %ls does not verify", places.packageFile);
            cartridge.Remove(true);
            return ERROR_INSTALL_PACKAGE_INVALID;
        }
    }
    std::wstring path;
    static_cast<void>(cartridge.GetPluginPath(path));   // an empty path is the caller's missing file
    pluginPath = path;
    if (!m_launcherPath.empty())
        launcherPath = places.unpackedFolder + m_launcherPath;
    return ERROR_SUCCESS;
}

DWORD CTelemetryPluginPackage::Download(const Places& places) const
{
    CTelemetryDownloadablePlugin file(m_descriptor.source, m_descriptor.sourceMd5, places.packageFile);
    const std::vector<IDownloadableFile*> files{&file};
    const bool attempted = m_services.fetch(files, m_configUtil, m_dispatcherHelper, m_logService);
    if (attempted && file.IsDownloaded())
        return ERROR_SUCCESS;
    // Nothing arrived although no error was recorded (a 304 to an unconditional request): still a failure.
    const DWORD status = file.GetLastError() != ERROR_SUCCESS ? file.GetLastError() : ERROR_REQUEST_REFUSED;
    TRACE_ERROR(kTraceFlagEvents, 20, "download of %ls failed: error %u", m_descriptor.source, status);
    return status;
}

bool FetchFromRepositories(const std::vector<IDownloadableFile*>& files, IConfigUtil* configUtil,
                           IDispatcherHelper* dispatcherHelper, ILogService* logService)
{
    std::shared_ptr<Repository::CRepositoryBatchDownloader> downloader;
    try
    {
        downloader = std::make_shared<Repository::CRepositoryBatchDownloader>(
            &files, logService, dispatcherHelper, configUtil, kDirectEveryAttempt, kRepositoryScope);
    }
    catch (const std::exception& e)
    {
        TRACE_ERROR(kTraceFlagEvents, 22, "no batch downloader for the plug-in package: %s", e.what());
        for (IDownloadableFile* file : files)
            file->SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    // One attempt: nothing here waits for files requested into a repository or tries again.
    return downloader->Download();
}

DWORD CTelemetryPluginPackage::Cleanup()
{
    Places places;
    if (const DWORD status = GetPlaces(places); status != ERROR_SUCCESS)
        return status;
    if (!MakeCartridge(places).Remove(true))
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "package %ls not wholly removed", places.packageFile);
        return ERROR_UNABLE_TO_CLEAN;
    }
    return ERROR_SUCCESS;
}
