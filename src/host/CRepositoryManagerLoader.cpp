#include "host/CRepositoryManagerLoader.h"

#include "host/Trace.h"
#include "platform/Files.h"
#include "platform/Path.h"

TRACE_UNIT("479ae31d-7233-49b0-b88b-17cc81c1f40b");

namespace
{
constexpr wchar_t kRepositoryManagerLibrary[] = L"Merrow.dll";
constexpr char kGetRepositoryManager[] = "GetIRepositoryManager";
} // namespace

CRepositoryManagerLoader::CRepositoryManagerLoader(const std::wstring& folder)
    : CComponentLibrary(folder, kRepositoryManagerLibrary)
{
}

bool CRepositoryManagerLoader::IsAvailable() const
{
    return IsFile(WithTrailingBackslash(Folder()) + kRepositoryManagerLibrary);
}

IRepositoryManager* CRepositoryManagerLoader::GetRepositoryManager()
{
    return Obtain<GetIRepositoryManagerFn>(kGetRepositoryManager, [] {
        TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no interface", kGetRepositoryManager);
    });
}

bool CRepositoryManagerLoader::GetSupportedApiVersions(DWORD& lowest, DWORD& highest)
{
    lowest = 0;
    highest = 0;
    return Call<GetRepositoryManagerSupportedApiVersionsFn>("GetRepositoryManagerSupportedApiVersions", &lowest,
                                                            &highest);
}
