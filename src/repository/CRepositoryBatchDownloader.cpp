#include "repository/CRepositoryBatchDownloader.h"

#include "host/CAgentServiceClient.h"
#include "host/CCommsWrapperLoader.h"
#include "host/CDispatcherHelper.h"
#include "host/CNetworkService.h"
#include "host/ComponentUse.h"
#include "host/IAgentServiceProvidersList.h"
#include "host/IRemoteEndpointControlClient.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/CJobBehind.h"
#include "platform/Digest.h"
#include "platform/TextUtil.h"
#include "repository/CDiscoveryManagerClient.h"
#include "repository/CRepositoryServerConfig.h"
#include "repository/DownloadFile.h"
#include "scheduler/CEventScheduler.h"

#include <new>

TRACE_UNIT("059c1651-6fdd-4669-b56d-18fa370ad13b");

namespace Repository
{
namespace
{

constexpr wchar_t kRetryCount[] = L"RetryCount";
constexpr wchar_t kRepository[] = L"Repository";

// A key's decimal value truncated to 32 bits; false (value untouched) when it is missing or no number.
bool ReadNumber(IConfigUtil& util, const wchar_t* key, std::uint32_t& value)
{
    std::wstring text;
    std::int64_t number = 0;
    if (util.GetValue(key, text, 0) != ERROR_SUCCESS || !ReadLeadingInt64(text, number))
        return false;
    value = static_cast<std::uint32_t>(number);
    return true;
}

} // namespace

CRepositoryBatchDownloader::CRepositoryBatchDownloader(const Files* files, ILogService* log,
                                                       IDispatcherHelper* dispatcher, IConfigUtil* configUtil,
                                                       std::uint32_t directEveryAttempt, std::wstring scope)
    : CRepositoryConsumer(RequireConfigUtil(configUtil)), CLogWriter(log), m_scope(std::move(scope)), m_files(files),
      m_directEveryAttempt(directEveryAttempt),
      m_dispatcher(dispatcher != nullptr ? dispatcher : &CDispatcherHelper::Instance())
{
    std::uint32_t value = 0;
    // A base wait of 0 would retry at once while a repository is still fetching: it keeps the default.
    if (ReadNumber(*ConfigUtil(), L"Repository.BatchDownload.WaitForRequestedFiles", value) && value != 0)
        m_waitForRequestedFiles = value;
    ReadNumber(*ConfigUtil(), L"Repository.BatchDownload.WaitSizeFactor", m_waitSizeFactor);
    ReadNumber(*ConfigUtil(), L"Repository.BatchDownload.WaitOnRetry", m_waitOnRetry);
    ReadNumber(*ConfigUtil(), L"Repository.BatchDownload.MaxRetries", m_maxRetries);
    TRACE_INFO(kTraceFlagEvents, 10, "batch download of %ls: wait %u after requests (+1 per %u KiB), %u otherwise, %u retries",
               m_scope, m_waitForRequestedFiles, m_waitSizeFactor, m_waitOnRetry, m_maxRetries);
}

CRepositoryBatchDownloader::~CRepositoryBatchDownloader() = default;

std::unique_ptr<IAgentServiceClient> CRepositoryBatchDownloader::MakeAgentServiceClient()
{
    try
    {
        return std::make_unique<CAgentServiceClient>();
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

bool CRepositoryBatchDownloader::PollCancel()
{
    if (!m_cancelled && m_cancelCallback)
        m_cancelled = m_cancelCallback();
    return m_cancelled;
}

bool CRepositoryBatchDownloader::HasPendingFiles() const
{
    for (const IDownloadableFile* file : *m_files)
        if (file != nullptr && !file->IsDownloaded())
            return true;
    return false;
}

bool CRepositoryBatchDownloader::Download()
{
    if (m_files == nullptr || m_files->empty())
        return true;
    const std::unique_ptr<IAgentServiceClient> client = MakeAgentServiceClient();
    if (!client)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "no agent services client: no download of %ls", m_scope);
        return false;
    }

    // Every file is a request of the communications component: one use held for the attempt keeps it from
    // being loaded and freed again for each file.
    CCommsWrapperLoader comms(FolderOrEmpty(GetUtilsFolder));
    if (!comms.Load())
        TRACE_WARNING(kTraceFlagEvents, 22, "the communications component cannot be loaded for the attempt");
    // Files check what arrived by its digest, as a rule: the digest providers are kept for the attempt likewise.
    const CDigestProviders digests;

    const bool first = m_attempts == 0;
    if (first)
        DownloadFromProviders(*client);
    else if (m_workingProvider)
        DownloadFromProvider(*m_workingProvider);

    if (PollCancel() || !HasPendingFiles())
    {
        ++m_attempts;
        return true;
    }

    bool requested = false;
    if (m_workingProvider)
    {
        if (first)
        {
            requested = RequestFilesFromRepository();
            if (!requested)
                TRACE_WARNING(kTraceFlagEvents, 12, "no repository took the request for the files of %ls",
                              m_scope);
        }
        else
        {
            // Requested on the first attempt: they may still be arriving.
            requested = m_attempts < m_maxRetries;
        }
    }

    if (!PollCancel() && (!requested || m_directEveryAttempt == 1))
    {
        TRACE_INFO(kTraceFlagEvents, 13, "downloading the files of %ls directly", m_scope);
        DownloadDirect();
        m_directDone = true;
    }
    ++m_attempts;
    return true;
}

void CRepositoryBatchDownloader::DownloadFromProviders(IAgentServiceClient& client)
{
    const UINT_PTR name = reinterpret_cast<UINT_PTR>(kRepositoryServiceName);
    const CComponentUse<IAgentServiceProvidersList> list(
        reinterpret_cast<IAgentServiceProvidersList*>(client.GetProvidersList(name)),
        [&client, name](IAgentServiceProvidersList* given) {
            client.FreeProvidersList(name, reinterpret_cast<UINT_PTR>(given));
        });
    if (!list)
    {
        TRACE_WARNING(kTraceFlagEvents, 14, "no providers list for the repository service");
        return;
    }
    // The providers are the component's: they are given up before the list is.
    RepositoryProviders providers;
    AddLocalRepositoryProvider(providers);
    if (!list->AppendRepositoryProviders(providers))
    {
        TRACE_WARNING(kTraceFlagEvents, 15, "the repository providers could not be listed");
        return;
    }
    for (const auto& provider : providers)
    {
        if (PollCancel() || !HasPendingFiles())
            break;
        if (provider)
            DownloadFromProvider(*provider);
    }
}

std::wstring CRepositoryBatchDownloader::ProviderUrl(const CAgentServiceProvider& provider,
                                                     const std::wstring& scope, const IDownloadableFile& file)
{
    const std::wstring source = file.GetRepositoryUrl();
    const std::size_t schemeEnd = source.find(L"://");
    const std::size_t hostStart = schemeEnd == std::wstring::npos ? 0 : schemeEnd + 3;
    const std::size_t slash = source.find(L'/', hostStart);
    const std::wstring path = slash == std::wstring::npos ? std::wstring() : source.substr(slash + 1);

    std::wstring url = L"http://" + provider.Address();
    if (provider.Port() != 0)
        url += L":" + UInt32ToText(provider.Port());
    url += L"/";
    if (!file.IsUnscoped())
        url += scope + L"/";
    return url + path;
}

DownloadResult CRepositoryBatchDownloader::DownloadOne(const std::wstring& url, IDownloadableFile& file,
                                                       bool fromRepository, CJobBehind& checks)
{
    const CFileDownloader downloader(ConfigUtil(), *this, m_dispatcher);
    return downloader.DownloadFile(url, file, fromRepository, &checks);
}

void CRepositoryBatchDownloader::DownloadFromProvider(const CAgentServiceProvider& provider)
{
    // Every file's outcome is known when this returns.
    CJobBehind checks;
    for (IDownloadableFile* file : *m_files)
    {
        if (PollCancel())
            return;
        if (file == nullptr || file->IsDownloaded())
            continue;
        const DownloadResult result = DownloadOne(ProviderUrl(provider, m_scope, *file), *file, true, checks);
        if (ServerAnswered(result) && !m_workingProvider)
        {
            m_workingProvider = std::make_unique<CAgentServiceProvider>(provider.Address(), provider.Port());
            TRACE_INFO(kTraceFlagEvents, 16, "working repository provider %ls:%u", provider.Address(),
                       provider.Port());
        }
    }
}

void CRepositoryBatchDownloader::DownloadDirect()
{
    CJobBehind checks;
    for (IDownloadableFile* file : *m_files)
    {
        if (PollCancel())
            return;
        if (file == nullptr || file->IsDownloaded() || !file->CanDownloadDirect())
            continue;
        const std::wstring url = file->GetFullUrl();
        TRACE_INFO(kTraceFlagEvents, 17, "direct download of %ls", url);
        DownloadOne(url, *file, false, checks);
    }
}

bool CRepositoryBatchDownloader::RequestFilesFromRepository()
{
    if (!m_workingProvider || m_workingProvider->Address().empty())
        return false;
    m_requestedBytes = 0;
    Batch batch;
    std::size_t length = 0;
    bool accepted = false;
    for (const IDownloadableFile* file : *m_files)
    {
        if (file == nullptr || file->IsDownloaded() || !file->CanRequestFromRepository())
            continue;
        std::wstring url = file->GetFullUrl();
        if (url.empty())
            continue;
        const DWORD size = file->GetSize();
        length += url.size() + UInt32ToText(size).size();
        m_requestedBytes += size;
        batch.emplace_back(std::move(url), size);
        if (length > kMaxBatchText)
        {
            accepted = SendAddRepositoryContent(batch) || accepted;
            batch.clear();
            length = 0;
        }
    }
    if (!batch.empty())
        accepted = SendAddRepositoryContent(batch) || accepted;
    if (!accepted)
        m_requestedBytes = 0;
    return accepted;
}

std::wstring CRepositoryBatchDownloader::ContentRequest(const std::wstring& scope, const Batch& batch)
{
    if (batch.empty())
        return std::wstring();
    CMessageObject request;
    CMessageObject* content = request.AddObject(L"AddRepositoryContent", true)->AddArray(L"Content");
    CMessageObject* entry = content->AddObject(std::wstring(), false);
    entry->AddString(L"Scope", scope);
    CMessageObject* files = entry->AddArray(L"Files");
    for (const auto& [url, size] : batch)
    {
        CMessageObject* file = files->AddObject(std::wstring(), false);
        file->AddString(L"Url", url);
        file->AddUInt64(L"Size", size);
    }
    std::wstring text;
    if (!request.Serialize(text))
        text.clear();
    return text;
}

bool CRepositoryBatchDownloader::SendAddRepositoryContent(const Batch& batch)
{
    const std::wstring text = ContentRequest(m_scope, batch);
    if (text.empty())
        return false;
    if (IsLocalProvider(*m_workingProvider))
    {
        CEventScheduler scheduler(m_dispatcher);
        return scheduler.ScheduleEvent(text, 0);
    }
    return SendToPeer(text);
}

bool CRepositoryBatchDownloader::SendToPeer(const std::wstring& text)
{
    const std::wstring& address = m_workingProvider->Address();
    std::wstring utils;
    if (GetUtilsFolder(utils))
    {
        CNetworkService network(utils);
        if (network.Load())
        {
            const CComponentUse<IRemoteEndpointControlClient> client(
                network.GetRemoteEndpointControlClient(),
                [&network](IRemoteEndpointControlClient* given) { network.FreeRemoteEndpointControlClient(given); });
            if (client && client->SendRequest(address.c_str(), text.c_str()))
                return true;
        }
    }
    TRACE_WARNING(kTraceFlagEvents, 18, "the network service did not deliver the request to %ls: trying discovery",
                  address);

    std::wstring siteId;
    if (!GetRegisteredSiteId(siteId, ConfigUtil()))
        siteId.clear();
    CMessageObject parameters;
    parameters.AddString(L"SiteId", siteId);
    RepositoryMessage message;
    if (!parameters.Serialize(message.parameters))
        return false;
    message.body = text;
    Discovery::CDiscoveryManagerClient discovery(ConfigUtil());
    const DWORD status = discovery.SendRepositoryMessage(address, message);
    if (status != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagEvents, 19, "discovery did not deliver the request to %ls: status %u", address, status);
    return status == ERROR_SUCCESS;
}

bool CRepositoryBatchDownloader::GetRetryWait(std::uint32_t& wait)
{
    if (HasPendingFiles() && m_attempts <= m_maxRetries && !m_directDone && !m_cancelled)
    {
        wait = m_waitOnRetry;
        if (m_requestedBytes != 0)
        {
            wait = m_waitForRequestedFiles;
            if (m_waitSizeFactor != 0)
                wait += m_requestedBytes / 1024 / m_waitSizeFactor;
        }
        TRACE_INFO(kTraceFlagEvents, 20, "batch download of %ls: retry after %u", m_scope, wait);
        return false;
    }
    wait = 0;
    return true;
}

bool CRepositoryBatchDownloader::SaveState(CMessageObject& state)
{
    state.AddInt64(kRetryCount, m_attempts);
    if (m_workingProvider)
        m_workingProvider->ToMessage(*state.AddObject(kRepository, true));
    return true;
}

bool CRepositoryBatchDownloader::LoadState(const CMessageObject& state)
{
    const CMessageItem* count = nullptr;
    if (!state.FindItem(kRetryCount, count) || count->m_type != Integer)
        return false;
    m_attempts = static_cast<std::uint32_t>(count->m_value.u64);
    const CMessageItem* repository = nullptr;
    if (state.FindItem(kRepository, repository) && repository->m_type == Object &&
        repository->m_value.object != nullptr && !repository->m_value.object->IsArray())
    {
        if (!m_workingProvider)
            m_workingProvider = std::make_unique<CAgentServiceProvider>();
        if (!m_workingProvider->FromMessage(*repository->m_value.object))
            TRACE_WARNING(kTraceFlagEvents, 21, "saved state names a repository without address or port");
    }
    return true;
}

} // namespace Repository
