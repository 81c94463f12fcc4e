#include "host/CCommsWrapperLoader.h"

#include "host/CLoader.h"
#include "host/Trace.h"
#include "platform/COperatingSystem.h"

#include <memory>
#include <mutex>

TRACE_UNIT("ea1ef25f-e7a6-4324-bc9d-066032b2bef8");

namespace
{
constexpr wchar_t kCommsLibrary[] = L"Quillon.dll";
constexpr wchar_t kLegacyCommsLibrary[] = L"QuillonLC.dll";
constexpr char kGetCommsWrapper[] = "GetICommsWrapper";
constexpr char kFreeCommsWrapper[] = "FreeICommsWrapper";

// The one library of the module and the number of instances holding a use of it.
std::mutex g_mutex;
std::unique_ptr<CLoader> g_loader;
unsigned g_users = 0;
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

    std::lock_guard<std::mutex> lock(g_mutex);
    // A second use by the same instance would never be released.
    if (m_holdsUse)
        return true;
    if (g_loader)
    {
        ++g_users;
        m_holdsUse = true;
        return true;
    }
    auto loader = std::make_unique<CLoader>(m_folder);
    if (!loader->Load(library, std::wstring()))
    {
        TRACE_ERROR(kTraceFlagGeneral, 10, "cannot load component %ls", library);
        return false;
    }
    g_loader = std::move(loader);
    g_users = 1;
    m_holdsUse = true;
    return true;
}

void CCommsWrapperLoader::Unload()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!m_holdsUse)
        return;
    m_holdsUse = false;
    if (--g_users == 0)
    {
        g_loader->Unload();
        g_loader.reset();
    }
}

ICommsWrapper* CCommsWrapperLoader::GetCommsWrapper()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!m_holdsUse)
        return nullptr;
    const auto get = reinterpret_cast<GetICommsWrapperFn>(g_loader->GetProc(kGetCommsWrapper));
    if (get == nullptr)
    {
        TRACE_ERROR(kTraceFlagGeneral, 11, "communications component lacks %s", kGetCommsWrapper);
        return nullptr;
    }
    ICommsWrapper* wrapper = get();
    if (wrapper == nullptr)
        TRACE_ERROR(kTraceFlagGeneral, 12, "%s gave no interface", kGetCommsWrapper);
    return wrapper;
}

void CCommsWrapperLoader::FreeCommsWrapper(ICommsWrapper** wrapper)
{
    if (wrapper == nullptr || *wrapper == nullptr)
        return;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!m_holdsUse)
        return;
    const auto release = reinterpret_cast<FreeICommsWrapperFn>(g_loader->GetProc(kFreeCommsWrapper));
    if (release == nullptr)
    {
        TRACE_ERROR(kTraceFlagGeneral, 13, "communications component lacks %s", kFreeCommsWrapper);
        return;
    }
    release(wrapper);
}
