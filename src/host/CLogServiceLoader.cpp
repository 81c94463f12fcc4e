#include "host/CLogServiceLoader.h"

#include "host/CLoader.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"

#include <memory>
#include <mutex>

TRACE_UNIT("b246dc37-c29d-43b1-a4da-4f02502b1466");

namespace
{
constexpr wchar_t kLogLibrary[] = L"Hollin.dll";
constexpr char kGetLogService[] = "GetILogService";
constexpr char kFreeLogService[] = "FreeILogService";

// The one library of the module and the number of living loaders holding a use of it.
std::mutex g_mutex;
std::unique_ptr<CLoader> g_loader;
unsigned g_users = 0;
} // namespace

CLogServiceLoader::CLogServiceLoader()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loader)
    {
        ++g_users;
        m_holdsUse = true;
        TRACE_INFO(kTraceFlagEvents, 10, "logging component users: %u", g_users);
        return;
    }
    std::wstring folder;
    // Without the install path the loader refuses the empty folder: nothing is loaded by its bare name.
    if (!GetUtilsFolder(folder))
        TRACE_ERROR(kTraceFlagEvents, 11, "no utilities folder for %ls", kLogLibrary);
    auto loader = std::make_unique<CLoader>(folder);
    if (!loader->Load(kLogLibrary, std::wstring()))
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "cannot load component %ls", kLogLibrary);
        return;
    }
    g_loader = std::move(loader);
    g_users = 1;
    m_holdsUse = true;
}

CLogServiceLoader::~CLogServiceLoader()
{
    // A loader that never got the component has no use to give back.
    if (!m_holdsUse)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (--g_users == 0)
    {
        g_loader->Unload();
        g_loader.reset();
        TRACE_VERBOSE(kTraceFlagEvents, 13, "logging component released");
    }
}

ILogService* GetILogService()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_loader)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "logging component not loaded");
        return nullptr;
    }
    const auto get = reinterpret_cast<GetILogServiceFn>(g_loader->GetProc(kGetLogService));
    if (get == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "logging component lacks %s", kGetLogService);
        return nullptr;
    }
    ILogService* service = get();
    if (service == nullptr)
        TRACE_ERROR(kTraceFlagEvents, 16, "%s gave no interface", kGetLogService);
    return service;
}

void FreeILogService(ILogService** service)
{
    if (service == nullptr || *service == nullptr)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_loader)
        return;
    const auto release = reinterpret_cast<FreeILogServiceFn>(g_loader->GetProc(kFreeLogService));
    if (release == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "logging component lacks %s", kFreeLogService);
        return;
    }
    release(service);
}
