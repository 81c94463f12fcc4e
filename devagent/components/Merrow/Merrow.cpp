// The development agent's repository manager: one repository server per loaded library, serving its folder
// over HTTP on 127.0.0.1 and fetching "AddRepositoryContent" requests into it (README).

#include "CContentFetcher.h"
#include "CServerFixture.h"

#include "CComponentSettings.h"
#include "host/ComponentExports.h"
#include "host/IRepositoryManager.h"
#include "message/CMessageObject.h"
#include "platform/ModuleFolder.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

constexpr wchar_t kStartFails[] = L"Merrow.Fault.StartFails";
constexpr wchar_t kRefuseContent[] = L"Merrow.Fault.RefuseContent";
constexpr wchar_t kFaultSeed[] = L"Merrow.Fault.Seed";
constexpr wchar_t kDropPercent[] = L"Merrow.Fault.DropPercent";
constexpr wchar_t kServerErrorPercent[] = L"Merrow.Fault.ServerErrorPercent";
constexpr DWORD kDefaultPort = 18226;
// The server of an agent runs as long as the agent: no idle stop.
constexpr std::chrono::hours kNoIdleStop(24 * 365);

CComponentSettings g_settings;

// The module's repository: it lives while at least one manager is handed out.
std::mutex g_mutex;
std::set<IRepositoryManager*> g_managers;
std::unique_ptr<CServerFixture> g_server;
std::unique_ptr<CContentFetcher> g_fetcher;
std::wstring g_folder;

// Drops and 5xx answers at random, as a failing web server gives them; none unless configured.
void InjectConfiguredFaults(CServerFixture& server)
{
    const auto share = [](const wchar_t* percentKey) {
        return static_cast<double>(std::min<std::uint64_t>(g_settings.Number(percentKey), 100)) / 100.0;
    };
    CFaultPlan plan;
    plan.seed = static_cast<unsigned>(g_settings.Number(kFaultSeed, 1));
    plan.dropShare = share(kDropPercent);
    plan.serverErrorShare = share(kServerErrorPercent);
    if (plan.dropShare > 0 || plan.serverErrorShare > 0)
        server.InjectFaults(plan);
}

std::wstring Folder()
{
    return g_folder.empty() ? ThisModuleFolder() : g_folder;
}

DWORD AddContent(const std::wstring& text)
{
    if (g_settings.IsOn(kRefuseContent))
        return ERROR_ACCESS_DENIED;
    CMessageObject request;
    if (!request.FromJson(text))
        return ERROR_INVALID_DATA;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_fetcher)
        g_fetcher = std::make_unique<CContentFetcher>();
    return g_fetcher->Add(Folder(), request) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// Stopped outside the lock: a request being answered may be waiting for it.
void StopServer()
{
    std::unique_ptr<CServerFixture> server;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        server.swap(g_server);
    }
}

class CRepositoryManager final : public IRepositoryManager
{
public:
    DWORD Start(const wchar_t* settings) override
    {
        try
        {
            CMessageObject parsed;
            if (settings == nullptr || !parsed.FromJson(settings))
                return ERROR_INVALID_PARAMETER;
            if (g_settings.IsOn(kStartFails))
                return ERROR_SERVICE_DISABLED;
            StopServer();
            std::wstring folder;
            std::uint32_t port = kDefaultPort;
            parsed.GetString(L"RepositoryDir", folder);
            parsed.GetUInt32(L"Port", port);
            if (port > 65535)
                return ERROR_INVALID_PARAMETER;

            auto server = std::make_unique<CServerFixture>(kNoIdleStop, static_cast<unsigned short>(port));
            if (server->Port() == 0)
                return ERROR_ADDRESS_ALREADY_ASSOCIATED;
            InjectConfiguredFaults(*server);
            std::lock_guard<std::mutex> lock(g_mutex);
            g_folder = folder;
            server->ServeFiles("/", Folder());
            server->ReplyWith("POST", "/request", EPathMatch::Exact, [](const CRecordedRequest& request) {
                const DWORD result = AddContent(Utf8ToWide(request.body));
                return result == ERROR_SUCCESS ? TextReply(202, "Accepted") : TextReply(400, "Not a content request");
            });
            g_server = std::move(server);
            return ERROR_SUCCESS;
        }
        catch (...)
        {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }

    DWORD Stop() override
    {
        StopServer();
        return ERROR_SUCCESS;
    }

    DWORD AddRepositoryContent(const wchar_t* request) override
    {
        try
        {
            return request == nullptr ? ERROR_INVALID_PARAMETER : AddContent(request);
        }
        catch (...)
        {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }

    DWORD GetPort() override
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        return g_server ? g_server->Port() : 0;
    }
};

} // namespace

EXPORT IRepositoryManager* GetIRepositoryManager()
{
    try
    {
        auto manager = std::make_unique<CRepositoryManager>();
        std::lock_guard<std::mutex> lock(g_mutex);
        g_managers.insert(manager.get());
        return manager.release();
    }
    catch (...)
    {
        return nullptr;
    }
}

// The last manager given back stops the server and waits for the fetches: nothing runs once the library
// may be unloaded.
EXPORT void FreeIRepositoryManager(IRepositoryManager* manager)
{
    std::unique_ptr<CServerFixture> server;
    std::unique_ptr<CContentFetcher> fetcher;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_managers.erase(manager) == 0)
            return;
        if (g_managers.empty())
        {
            server.swap(g_server);
            fetcher.swap(g_fetcher);
            g_folder.clear();
        }
    }
    delete manager;
    server.reset();
    fetcher.reset();
}

EXPORT void GetRepositoryManagerSupportedApiVersions(DWORD* lowest, DWORD* highest)
{
    if (lowest != nullptr)
        *lowest = 1;
    if (highest != nullptr)
        *highest = 1;
}

// Managers handed out and not given back, plus requests still being fetched.
EXPORT DWORD MerrowOutstandingObjects()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<DWORD>(g_managers.size()) + (g_fetcher ? g_fetcher->Pending() : 0);
}

// True when no fetch is left within timeoutMs.
EXPORT BOOL MerrowWaitIdle(DWORD timeoutMs)
{
    CContentFetcher* fetcher = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        fetcher = g_fetcher.get();
    }
    return fetcher == nullptr || fetcher->WaitIdle(timeoutMs);
}

// Files kept, and files refused (no answer, not 200, another size, an unsafe path), since the repository
// was opened.
EXPORT DWORD MerrowFetchedFiles()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fetcher ? g_fetcher->Fetched() : 0;
}

EXPORT DWORD MerrowRefusedFiles()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_fetcher ? g_fetcher->Refused() : 0;
}

// Answers that a configured fault replaced (drops and server errors) since the server started.
EXPORT DWORD MerrowFaultsStruck()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_server)
        return 0;
    const CFaultCounts counts = g_server->FaultCounts();
    return static_cast<DWORD>(counts.dropped + counts.serverErrors);
}
