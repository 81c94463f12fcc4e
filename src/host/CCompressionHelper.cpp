#include "host/CCompressionHelper.h"

#include "host/CLoader.h"
#include "host/InstallLocations.h"
#include "host/ModuleComponents.h"
#include "host/Trace.h"

#include <memory>
#include <mutex>

TRACE_UNIT("069d6423-8cec-4ee6-935c-251cc550aa44");

namespace
{
constexpr wchar_t kCompressionLibrary[] = L"Brevik.dll";
constexpr char kGetCompression[] = "GetCompression";
constexpr char kFreeCompression[] = "FreeCompression";

std::wstring UtilsFolder()
{
    std::wstring folder;
    if (!GetUtilsFolder(folder))
        TRACE_ERROR(kTraceFlagEvents, 10, "no utilities folder for %ls", kCompressionLibrary);
    return folder;
}

// Made on first use, when the install is known, under a mutex of its own rather than as a function-local
// static: that would take the threads library's once-lock, which leaves a thread handle and an event behind
// for every load of the library. Released when the library unloads.
std::mutex g_compressionMutex;
std::unique_ptr<CCompressionHelper> g_compressionHelper;

void ReleaseCompressionHelper()
{
    std::lock_guard<std::mutex> lock(g_compressionMutex);
    g_compressionHelper.reset();
}
} // namespace

CCompressionHelper& CCompressionHelper::Instance()
{
    std::lock_guard<std::mutex> lock(g_compressionMutex);
    if (!g_compressionHelper)
    {
        g_compressionHelper.reset(new CCompressionHelper(UtilsFolder()));
        RegisterModuleComponent(ReleaseCompressionHelper);
    }
    return *g_compressionHelper;
}

CCompressionHelper::CCompressionHelper(const std::wstring& folder)
{
    TRACE_VERBOSE(kTraceFlagCompression, 11, "CCompressionHelper::CCompressionHelper");
    m_module = LoadComponentLibrary(folder, kCompressionLibrary);
    if (!m_module)
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 12, "cannot load %ls from %ls: error %u", kCompressionLibrary, folder, error);
        return;
    }
    m_getCompression = reinterpret_cast<GetCompressionFn>(
        reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), kGetCompression)));
    if (m_getCompression == nullptr)
        TRACE_ERROR(kTraceFlagEvents, 13, "%ls lacks %s", kCompressionLibrary, kGetCompression);
    m_freeCompression = reinterpret_cast<FreeCompressionFn>(
        reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), kFreeCompression)));
    if (m_freeCompression == nullptr)
        TRACE_ERROR(kTraceFlagEvents, 14, "%ls lacks %s", kCompressionLibrary, kFreeCompression);
}

CCompressionHelper::~CCompressionHelper()
{
    // At process exit the component may already be detached: it is left to the system.
    if (ModuleComponentsAbandoned())
        static_cast<void>(m_module.Release()); // deliberately never freed
    TRACE_VERBOSE(kTraceFlagCompression, 15, "CCompressionHelper::~CCompressionHelper");
}

IDecompressor* CCompressionHelper::GetCompression(DWORD kind) const
{
    return m_getCompression != nullptr ? m_getCompression(kind) : nullptr;
}

void CCompressionHelper::FreeCompression(DWORD kind, IDecompressor** decompressor) const
{
    if (m_freeCompression != nullptr)
        m_freeCompression(kind, decompressor);
}
