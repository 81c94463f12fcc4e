#include "repository/DownloadFile.h"

#include "comms/CommsWrapperRequestDispatcher.h"
#include "comms/DownloadRequest.h"
#include "comms/WebApiResponse.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/CJobBehind.h"
#include "platform/FolderTree.h"
#include "platform/ScopeExit.h"

#include <exception>
#include <memory>

TRACE_UNIT("e3940424-11db-4f78-8eba-8e95ebc3f65e");

namespace Repository
{
namespace
{

constexpr wchar_t kTempFolder[] = L"Downloads\\Temp\\";
constexpr wchar_t kTempPrefix[] = L"RBD";
constexpr wchar_t kFallbackName[] = L"download.tmp";
constexpr wchar_t kIfModifiedSince[] = L"If-Modified-Since";
constexpr wchar_t kLastModified[] = L"Last-Modified";
constexpr DWORD kLogLevel = 30;
constexpr DWORD kHttpNotModified = 304;

bool ReadFreeSpace(const std::wstring& folder, ULONGLONG& freeBytes)
{
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &available, nullptr, nullptr))
        return false;
    freeBytes = available.QuadPart;
    return true;
}

std::wstring SystemTempFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    return length > 0 && length <= MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

// Statuses of a download that reached the server: the HTTP status then tells what happened.
bool ServerStatusDecides(DWORD status)
{
    return status == ERROR_INTERNAL_ERROR || status == ERROR_BAD_NET_RESP || status == ERROR_CONTINUE;
}

void VerifyAndCommit(IDownloadableFile& file, const std::wstring& tempPath, const std::wstring& url,
                     const std::wstring& serverDate)
{
    if (!file.VerifyDownload(tempPath))
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "download of %ls does not verify", url);
        file.SetLastError(ERROR_INVALID_DATA);
        return;
    }
    TRACE_INFO(kTraceFlagEvents, 19, "downloaded %ls", url);
    file.CommitDownload(tempPath, serverDate);
}

} // namespace

std::wstring DownloadTempFolder()
{
    std::wstring folder;
    if (!GetAgentDataFolder(folder))
    {
        TRACE_WARNING(kTraceFlagEvents, 10, "no agent data folder for downloads");
        return std::wstring();
    }
    folder += kTempFolder;
    // Without the folder neither its free space nor a temporary name could be had on a fresh install.
    const DWORD made = MakeFolderTree(folder);
    if (made != ERROR_SUCCESS)
        TRACE_WARNING(kTraceFlagEvents, 11, "cannot create %ls: error %u", folder, made);
    return folder;
}

void MakeDownloadTempPath(std::wstring& path)
{
    MakeDownloadTempPath(DownloadTempFolder(), path);
}

void MakeDownloadTempPath(std::wstring folder, std::wstring& path)
{
    if (folder.empty())
        folder = SystemTempFolder();
    wchar_t name[MAX_PATH] = {};
    if (::GetTempFileNameW(folder.c_str(), kTempPrefix, 0, name) != 0)
    {
        path = name;
        return;
    }
    TRACE_WARNING(kTraceFlagEvents, 12, "no unique temporary file in %ls: error %u", folder, ::GetLastError());
    path = folder + kFallbackName;
    ::DeleteFileW(path.c_str());
}

DownloadResult ClassifyDownloadResult(DWORD status, const IRequestResponse& response, DWORD& error,
                                      std::wstring& lastModified)
{
    const DWORD httpStatus = response.GetStatusCode();
    TRACE_VERBOSE(kTraceFlagEvents, 13, "download status %u, HTTP status %u", status, httpStatus);
    // Without an HTTP status nothing answered, whatever the component said.
    if (httpStatus == 0 || (status != ERROR_SUCCESS && !ServerStatusDecides(status)))
    {
        error = status != ERROR_SUCCESS ? status : ERROR_BAD_NET_RESP;
        return DownloadResult::TransportError;
    }
    if (httpStatus == kHttpNotModified)
    {
        error = kHttpNotModified;
        return DownloadResult::NotModified;
    }
    if (httpStatus / 100 == 5)
    {
        error = httpStatus;
        return DownloadResult::ServerError;
    }
    if (httpStatus / 100 != 2)
    {
        error = httpStatus;
        return DownloadResult::ClientError;
    }
    error = ERROR_SUCCESS;
    HeaderMap headers;
    response.GetHeaders(headers);
    const auto found = headers.find(kLastModified);
    if (found != headers.end())
    {
        lastModified = found->second;
        TRACE_VERBOSE(kTraceFlagEvents, 14, "Last-Modified %ls", lastModified);
    }
    return DownloadResult::Downloaded;
}

CFileDownloader::CFileDownloader(IConfigUtil* configUtil, const CLogWriter& log, IDispatcherHelper* actionHandler,
                                 IComponentAccess* components)
    : m_configUtil(configUtil), m_log(log), m_actionHandler(actionHandler), m_components(components),
      m_freeSpace(ReadFreeSpace)
{
}

DownloadResult CFileDownloader::DownloadFile(const std::wstring& url, IDownloadableFile& file, bool fromRepository,
                                             CJobBehind* checks) const
{
    DownloadResult result = DownloadResult::NotModified;

    // Asked once: each time is two registry reads and a look at the folder.
    const std::wstring tempFolder = DownloadTempFolder();
    ULONGLONG freeBytes = 0;
    if (!m_freeSpace(tempFolder, freeBytes))
        freeBytes = 0;
    const DWORD size = file.GetSize();
    if (freeBytes < size)
    {
        const std::wstring fileUrl = file.GetFullUrl();
        TRACE_ERROR(kTraceFlagEvents, 15, "disk full for %ls: %llu bytes free, %u needed", fileUrl,
                    static_cast<unsigned long long>(freeBytes), size);
        // "%ud" in the agent's own format: each number is followed by a literal "d".
        m_log.Write(kLogLevel, L"Disk is full. File. " + fileUrl + L" - Free space: " +
                                   std::to_wstring(static_cast<DWORD>(freeBytes)) + L"d - Required Size: " +
                                   std::to_wstring(size) + L"d");
        file.SetLastError(ERROR_DISK_FULL);
        return result;
    }

    std::shared_ptr<DownloadRequest> request;
    std::shared_ptr<WebApiResponse> response;
    std::unique_ptr<CommsWrapperRequestDispatcher> dispatcher;
    try
    {
        request = std::make_shared<DownloadRequest>(m_configUtil, url);
        response = std::make_shared<WebApiResponse>(m_actionHandler);
        int testMode = 0;
        const bool traceExchanges = GetTestMode(testMode, m_configUtil) && (testMode & 1) != 0;
        dispatcher = std::make_unique<CommsWrapperRequestDispatcher>(m_configUtil, traceExchanges, !fromRepository,
                                                                     m_components);
    }
    catch (const std::exception& failure)
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "download of %ls cannot start: %s", url, failure.what());
        return result;
    }

    const std::wstring storedDate = file.GetLastModified();
    if (!storedDate.empty())
    {
        TRACE_VERBOSE(kTraceFlagEvents, 17, "%ls modified since %ls?", url, storedDate);
        request->AddHeader(kIfModifiedSince, storedDate);
    }

    std::wstring tempPath;
    MakeDownloadTempPath(tempFolder, tempPath);
    // After a commit the file has moved away and this finds nothing.
    const auto removeTemp = ScopeExit([&tempPath] { ::DeleteFileW(tempPath.c_str()); });
    const DWORD status = dispatcher->Download(request, tempPath, response);

    DWORD error = ERROR_SUCCESS;
    std::wstring serverDate;
    result = ClassifyDownloadResult(status, *response, error, serverDate);
    switch (result)
    {
    case DownloadResult::Downloaded:
        if (checks == nullptr)
        {
            VerifyAndCommit(file, tempPath, url, serverDate);
            break;
        }
        // The check reads the whole file again: the caller's next download goes on meanwhile.
        checks->Run([&file, tempPath, url, serverDate] {
            const auto removeTemp = ScopeExit([&tempPath] { ::DeleteFileW(tempPath.c_str()); });
            try
            {
                VerifyAndCommit(file, tempPath, url, serverDate);
            }
            catch (...)
            {
                TRACE_ERROR(kTraceFlagEvents, 22, "download of %ls could not be checked", url);
                file.SetLastError(ERROR_INVALID_DATA);
            }
        });
        tempPath.clear();   // the check's now
        break;
    case DownloadResult::NotModified:
        TRACE_INFO(kTraceFlagEvents, 20, "%ls not modified", url);
        file.OnNotModified();
        break;
    default:
        TRACE_ERROR(kTraceFlagEvents, 21, "download error %u for %ls", error, url);
        file.SetLastError(error);
        if (!fromRepository)
            m_log.Write(kLogLevel, L"Download error. Url: " + url + L" - Error: " + std::to_wstring(error));
        break;
    }
    return result;
}

} // namespace Repository
