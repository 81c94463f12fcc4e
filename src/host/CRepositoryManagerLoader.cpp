#include "host/CRepositoryManagerLoader.h"

#include "host/Trace.h"
#include "platform/Files.h"
#include "platform/Path.h"

TRACE_UNIT("479ae31d-7233-49b0-b88b-17cc81c1f40b");

namespace
{
constexpr wchar_t kRepositoryManagerLibrary[] = L"Merrow.dll";
constexpr char kGetRepositoryManager[] = "GetIRepositoryManager";
constexpr char kFreeRepositoryManager[] = "FreeIRepositoryManager";
constexpr char kGetSupportedApiVersions[] = "GetRepositoryManagerSupportedApiVersions";
} // namespace

CRepositoryManagerLoader::CRepositoryManagerLoader(const std::wstring& folder)
    : m_library(folder, kRepositoryManagerLibrary)
{
}

bool CRepositoryManagerLoader::IsAvailable() const
{
    return IsFile(WithTrailingBackslash(m_library.Folder()) + kRepositoryManagerLibrary);
}

bool CRepositoryManagerLoader::Load()
{
    return m_library.Load();
}

IRepositoryManager* CRepositoryManagerLoader::GetRepositoryManager()
{
    if (!m_library.IsLoaded())
        return nullptr;
    const auto get = m_library.FindAs<GetIRepositoryManagerFn>(kGetRepositoryManager);
    if (get == nullptr)
        return nullptr;
    IRepositoryManager* manager = get();
    if (manager == nullptr)
        TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no interface", kGetRepositoryManager);
    return manager;
}

void CRepositoryManagerLoader::FreeRepositoryManager(IRepositoryManager* manager)
{
    if (!m_library.IsLoaded())
        return;
    if (const auto release = m_library.FindAs<FreeIRepositoryManagerFn>(kFreeRepositoryManager))
        release(manager);
}

bool CRepositoryManagerLoader::GetSupportedApiVersions(DWORD& lowest, DWORD& highest)
{
    lowest = 0;
    highest = 0;
    if (!m_library.IsLoaded())
        return false;
    const auto get = m_library.FindAs<GetRepositoryManagerSupportedApiVersionsFn>(kGetSupportedApiVersions);
    if (get == nullptr)
        return false;
    get(&lowest, &highest);
    return true;
}
