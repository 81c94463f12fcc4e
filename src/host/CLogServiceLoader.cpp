#include "host/CLogServiceLoader.h"

#include "host/CLoader.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"

#include <cstdint>

TRACE_UNIT("b246dc37-c29d-43b1-a4da-4f02502b1466");

namespace
{
constexpr wchar_t kLogLibrary[] = L"Hollin.dll";
constexpr char kGetLogService[] = "GetILogService";

// The one library of the module (see ModuleComponents.h); its users are the living loaders holding a use.
CSharedComponentLibrary g_library;
} // namespace

CLogServiceLoader::CLogServiceLoader()
{
    const std::uint32_t users = g_library.Acquire(m_holdsUse, kLogLibrary, [] {
        const std::wstring folder = FolderOrEmpty(GetUtilsFolder);
        if (folder.empty())
            TRACE_ERROR(kTraceFlagEvents, 11, "no utilities folder for %ls", kLogLibrary);
        return folder;
    });
    if (users > 1)
        TRACE_INFO(kTraceFlagEvents, 10, "logging component users: %u", users);
}

CLogServiceLoader::~CLogServiceLoader()
{
    // A loader that never got the component has no use to give back.
    if (g_library.Release(m_holdsUse))
        TRACE_VERBOSE(kTraceFlagEvents, 13, "logging component released");
}

ILogService* GetILogService()
{
    if (g_library.Users() == 0)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "logging component not loaded");
        return nullptr;
    }
    return g_library.Obtain<GetILogServiceFn>(
        kGetLogService, [] { TRACE_ERROR(kTraceFlagEvents, 16, "%s gave no interface", kGetLogService); });
}

void FreeILogService(ILogService** service)
{
    if (service != nullptr && *service != nullptr)
        g_library.Call<FreeILogServiceFn>("FreeILogService", service);
}
