#include "host/CLoader.h"

#include "host/ModuleComponents.h"
#include "host/Trace.h"
#include "platform/Path.h"

#include <new>

TRACE_UNIT("fd18a8b2-5d58-4979-a9c7-d3079d576549");

namespace
{
bool IsFullPath(const std::wstring& folder)
{
    const bool drive = folder.size() >= 3 && ((folder[0] >= L'A' && folder[0] <= L'Z') ||
                                              (folder[0] >= L'a' && folder[0] <= L'z')) &&
                       folder[1] == L':' && folder[2] == L'\\';
    const bool share = folder.size() >= 3 && folder[0] == L'\\' && folder[1] == L'\\' && folder[2] != L'\\';
    return drive || share;
}
} // namespace

CModule LoadComponentLibrary(const std::wstring& folder, const std::wstring& name)
{
    if (!IsFullPath(folder))
    {
        TRACE_ERROR(kTraceFlagGeneral, 19, "%ls not loaded: folder \"%ls\" is not a full path", name, folder);
        ::SetLastError(ERROR_DLL_NOT_FOUND);
        return CModule();
    }
    const std::wstring path = WithTrailingBackslash(folder) + name;
    CModule module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module)
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagGeneral, 10, "cannot load %ls: error %u", path, error);
        ::SetLastError(error);
    }
    return module;
}

CLoader::CLoader(const std::wstring& folder) : m_folder(WithTrailingBackslash(folder)) {}

CLoader::~CLoader()
{
    // At process exit the library may already be detached: it is left to the system.
    if (ModuleComponentsAbandoned())
    {
        static_cast<void>(m_module.Release()); // deliberately never freed
        return;
    }
    Unload();
}

bool CLoader::Load(const std::wstring& name, const std::wstring& folder)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_module)
    {
        ++m_loadCount;
        return true;
    }
    const std::wstring useFolder = folder.empty() ? m_folder : WithTrailingBackslash(folder);
    m_module = LoadComponentLibrary(useFolder, name);
    if (!m_module)
        return false;
    m_folder = useFolder;
    m_moduleName = name;
    m_loadCount = 1;
    TRACE_VERBOSE(kTraceFlagGeneral, 11, "loaded %ls", m_moduleName);
    return true;
}

void CLoader::Unload()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_loadCount == 0)
        return;
    if (--m_loadCount != 0 || !m_module)
        return;
    m_exports.clear();
    // Freed by hand rather than through the owner, so that a failure can be reported.
    if (!::FreeLibrary(m_module.Release()))
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagGeneral, 12, "cannot free %ls: error %u", m_moduleName, error);
        return;
    }
    TRACE_VERBOSE(kTraceFlagGeneral, 13, "freed %ls", m_moduleName);
}

void* CLoader::GetProc(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_module)
        return nullptr;
    const auto cached = m_exports.find(name);
    if (cached != m_exports.end())
        return cached->second;
    void* address = reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), name.c_str()));
    if (address == nullptr)
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagGeneral, 14, "%ls has no export %s: error %u", m_moduleName, name, error);
        return nullptr;
    }
    m_exports.emplace(name, address);
    TRACE_VERBOSE(kTraceFlagGeneral, 15, "resolved %s of %ls", name, m_moduleName);
    return address;
}

bool CLoader::HasProc(const std::string& name)
{
    return GetProc(name) != nullptr;
}

std::wstring CLoader::GetModuleName() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_moduleName;
}

std::wstring CLoader::GetFolder() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_folder;
}

std::uint32_t CLoader::LoadCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loadCount;
}

CComponentLibrary::CComponentLibrary(const std::wstring& folder, const wchar_t* fileName)
    : m_folder(folder), m_fileName(fileName)
{
}

bool CComponentLibrary::Load()
{
    if (!m_loader)
    {
        try
        {
            m_loader = std::make_unique<CLoader>(m_folder);
        }
        catch (const std::bad_alloc&)
        {
            TRACE_ERROR(kTraceFlagGeneral, 16, "no loader for %ls", m_fileName);
            ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
    }
    if (!m_loader->Load(m_fileName, std::wstring()))
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagGeneral, 17, "cannot load component %ls", m_fileName);
        m_loader.reset();
        ::SetLastError(error);
        return false;
    }
    return true;
}

void CComponentLibrary::Unload()
{
    if (!m_loader)
        return;
    m_loader->Unload();
    if (m_loader->LoadCount() == 0)
        m_loader.reset();
}

std::uint32_t CComponentLibrary::Uses() const
{
    return m_loader ? m_loader->LoadCount() : 0;
}

void* CComponentLibrary::Find(const char* exportName)
{
    if (!m_loader)
        return nullptr;
    void* address = m_loader->GetProc(exportName);
    if (address == nullptr)
        TRACE_ERROR(kTraceFlagGeneral, 18, "component %ls lacks %s", m_fileName, exportName);
    return address;
}

bool CSharedComponentLibrary::Release(bool& held)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!held)
        return false;
    held = false;
    m_library.Unload();
    return !m_library.IsLoaded();
}

std::uint32_t CSharedComponentLibrary::Users() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_library.Uses();
}
