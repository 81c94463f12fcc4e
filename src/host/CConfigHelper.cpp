#include "host/CConfigHelper.h"

#include "host/CLoader.h"
#include "host/InstallLocations.h"
#include "host/ModuleComponents.h"
#include "host/Trace.h"
#include "platform/CUniqueHandle.h"

#include <utility>

TRACE_UNIT("d92fd70b-a838-419b-9f5d-5ad0cdecf4b3");

namespace
{
constexpr wchar_t kConfigLibrary[] = L"Tamsin.dll";
constexpr char kGetUtilExport[] = "GetUtil";

// Module-wide: see ModuleComponents.h.
CConfigHelper g_configHelper;
} // namespace

CConfigHelper& CConfigHelper::Instance()
{
    return g_configHelper;
}

IConfigUtil* CConfigHelper::Resolve(IConfigUtil* util)
{
    return util != nullptr ? util : g_configHelper.GetConfigUtil();
}

IConfigUtil* CConfigHelper::GetConfigUtil()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_module == nullptr)
    {
        std::wstring folder;
        if (!GetUtilsFolder(folder))
            TRACE_ERROR(kTraceFlagEvents, 13, "no install path: no configuration component");
        CModule module = LoadComponentLibrary(folder, kConfigLibrary);
        if (!module)
        {
            const DWORD error = ::GetLastError();
            TRACE_ERROR(kTraceFlagEvents, 10, "cannot load %ls from %ls: error %u", kConfigLibrary, folder, error);
            return nullptr;
        }
        m_module = module.Release();
        RegisterModuleComponent([] { g_configHelper.Release(); });
        m_getUtil = reinterpret_cast<GetUtilFn>(reinterpret_cast<void*>(::GetProcAddress(m_module, kGetUtilExport)));
        if (m_getUtil == nullptr)
        {
            // The library stays loaded and is not tried again: another load would find the same file.
            const DWORD error = ::GetLastError();
            TRACE_ERROR(kTraceFlagEvents, 11, "%ls has no %s: error %u", kConfigLibrary, kGetUtilExport, error);
            return nullptr;
        }
        m_util = m_getUtil();
        if (m_util == nullptr)
            TRACE_ERROR(kTraceFlagEvents, 12, "%s of %ls gave no utility", kGetUtilExport, kConfigLibrary);
    }
    return m_util;
}

void CConfigHelper::Release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_util = nullptr;
    m_getUtil = nullptr;
    if (m_module == nullptr)
        return;
    CModule library(std::exchange(m_module, nullptr));
    library.Reset();
    TRACE_VERBOSE(kTraceFlagEvents, 14, "configuration component %ls released", kConfigLibrary);
}

CConfigHelper::~CConfigHelper()
{
    // At process exit the component may already be detached: it is left to the system.
    if (ModuleComponentsAbandoned())
        return;
    Release();
}
