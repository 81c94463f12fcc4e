#pragma once
// Loading of the agent's sibling component libraries.
//
// CLoader owns one library, loaded through LoadComponentLibrary (below). Loads are counted: every successful
// Load needs one Unload, and the last one frees the library. Export addresses are cached while the library
// stays loaded; missing exports are looked up (and traced) again on every call. Every operation takes the
// loader's own mutex.

#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class ILoader
{
public:
    virtual ~ILoader() = default;                                                       // slot 0
    // True when a library is loaded afterwards. A loaded library only has its count raised, whatever the name.
    [[nodiscard]] virtual bool Load(const std::wstring& name, const std::wstring& folder) = 0;       // slot 1
    virtual void Unload() = 0;                                                          // slot 2
    virtual void* GetProc(const std::string& name) = 0;                                 // slot 3
    [[nodiscard]] virtual bool HasProc(const std::string& name) = 0;                                  // slot 4
    virtual std::wstring GetModuleName() const = 0;                                     // slot 5
    virtual std::wstring GetFolder() const = 0;                                         // slot 6
};

class CLoader : public ILoader
{
public:
    // folder is kept with a trailing backslash. Without a folder (here or in Load) nothing can be loaded.
    explicit CLoader(const std::wstring& folder = std::wstring());
    // One Unload; the library is freed with the loader in any case, so that no handle outlives its owner,
    // except at process exit, when it is left to the system (ModuleComponents.h).
    ~CLoader() override;
    CLoader(const CLoader&) = delete;
    CLoader& operator=(const CLoader&) = delete;

    // A non-empty folder replaces the one given at construction. A failed Load leaves name and folder as they were.
    [[nodiscard]] bool Load(const std::wstring& name, const std::wstring& folder) override;
    void Unload() override;
    void* GetProc(const std::string& name) override;
    [[nodiscard]] bool HasProc(const std::string& name) override;
    std::wstring GetModuleName() const override;
    std::wstring GetFolder() const override;

    std::uint32_t LoadCount() const;

private:
    mutable std::mutex m_mutex;
    CModule m_module;
    std::wstring m_folder;
    std::wstring m_moduleName;
    std::map<std::string, void*> m_exports;
    std::uint32_t m_loadCount = 0;
};

// What the instance wrappers share: a library of their own, loaded by Load() from their folder. A failed Load()
// leaves no loader behind, so that the next one starts afresh.
class CComponentLibrary
{
public:
    CComponentLibrary(const std::wstring& folder, const wchar_t* fileName);

    [[nodiscard]] bool Load();
    [[nodiscard]] bool IsLoaded() const { return m_loader != nullptr; }
    const std::wstring& Folder() const { return m_folder; }
    // Null without a library or when the export is missing (traced).
    void* Find(const char* exportName);

    template <typename Fn>
    Fn FindAs(const char* exportName)
    {
        return reinterpret_cast<Fn>(Find(exportName));
    }

private:
    std::wstring m_folder;
    const wchar_t* m_fileName;
    std::unique_ptr<CLoader> m_loader;
};

// The one way this library loads a sibling component: from folder (with or without its trailing backslash),
// with LOAD_WITH_ALTERED_SEARCH_PATH so that the component's own dependencies are found beside it. Never by its
// bare name through the DLL search order, where a library planted in the current folder or on PATH would be
// taken in a process that usually runs with the highest rights: a folder that is empty or not a full path
// ("C:\..." or "\\server\...") is refused with ERROR_DLL_NOT_FOUND as the last error. Every failure is
// traced; the caller reads GetLastError right after a null result.
CModule LoadComponentLibrary(const std::wstring& folder, const std::wstring& name);
