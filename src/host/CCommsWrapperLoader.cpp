#include "host/CCommsWrapperLoader.h"

#include "host/CLoader.h"
#include "host/Trace.h"
#include "platform/COperatingSystem.h"

TRACE_UNIT("ea1ef25f-e7a6-4324-bc9d-066032b2bef8");

namespace
{
constexpr wchar_t kCommsLibrary[] = L"Quillon.dll";
constexpr wchar_t kLegacyCommsLibrary[] = L"QuillonLC.dll";
constexpr char kGetCommsWrapper[] = "GetICommsWrapper";

// The one library of the module (see ModuleComponents.h); its users are the instances holding a use.
CSharedComponentLibrary g_library;
} // namespace

const wchar_t* CommsLibraryName(DWORD osCode)
{
    return osCode >= kOsWindows81 ? kCommsLibrary : kLegacyCommsLibrary;
}

CCommsWrapperLoader::CCommsWrapperLoader(const std::wstring& folder) : m_folder(folder) {}

CCommsWrapperLoader::~CCommsWrapperLoader()
{
    Unload();
}

bool CCommsWrapperLoader::Load()
{
    // Read before the component mutex: the record has a mutex of its own.
    const wchar_t* library = CommsLibraryName(COperatingSystem().Info().osCode);
    // A second use by the same instance would never be released: it holds one at most.
    return g_library.Acquire(m_holdsUse, library, [this] { return m_folder; }) != 0;
}

void CCommsWrapperLoader::Unload()
{
    g_library.Release(m_holdsUse);
}

ICommsWrapper* CCommsWrapperLoader::GetCommsWrapper()
{
    if (!m_holdsUse)
        return nullptr;
    return g_library.Obtain<GetICommsWrapperFn>(
        kGetCommsWrapper, [] { TRACE_ERROR(kTraceFlagGeneral, 12, "%s gave no interface", kGetCommsWrapper); });
}

void CCommsWrapperLoader::FreeCommsWrapper(ICommsWrapper** wrapper)
{
    if (m_holdsUse && wrapper != nullptr && *wrapper != nullptr)
        g_library.Call<FreeICommsWrapperFn>("FreeICommsWrapper", wrapper);
}
