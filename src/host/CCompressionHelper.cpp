#include "host/CCompressionHelper.h"

#include "host/InstallLocations.h"
#include "host/ModuleComponents.h"
#include "host/Trace.h"

#include <memory>
#include <mutex>

TRACE_UNIT("069d6423-8cec-4ee6-935c-251cc550aa44");

namespace
{
constexpr wchar_t kCompressionLibrary[] = L"Brevik.dll";

// Module-wide (see ModuleComponents.h), made on first use when the install is known, under a mutex of its own;
// released when the library unloads.
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
        const std::wstring folder = FolderOrEmpty(GetUtilsFolder);
        if (folder.empty())
            TRACE_ERROR(kTraceFlagEvents, 10, "no utilities folder for %ls", kCompressionLibrary);
        g_compressionHelper.reset(new CCompressionHelper(folder));
        RegisterModuleComponent(ReleaseCompressionHelper);
    }
    return *g_compressionHelper;
}

CCompressionHelper::CCompressionHelper(const std::wstring& folder) : m_library(folder, kCompressionLibrary)
{
    TRACE_VERBOSE(kTraceFlagCompression, 11, "CCompressionHelper::CCompressionHelper");
    if (!m_library.Load())
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 12, "cannot load %ls from %ls: error %u", kCompressionLibrary, folder, error);
        return;
    }
    // Resolved once; a missing export is traced by the library.
    m_getCompression = m_library.FindAs<GetCompressionFn>("GetCompression");
    m_freeCompression = m_library.FindAs<FreeCompressionFn>("FreeCompression");
}

CCompressionHelper::~CCompressionHelper()
{
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
