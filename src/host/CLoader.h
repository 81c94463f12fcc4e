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
#include <type_traits>

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

// A component library, loaded by Load() from its folder: the one piece that every component wrapper builds on.
// Loads are counted as the loader counts them: every successful Load() needs one Unload() (or the destructor),
// the last one frees the library. A failed Load() leaves no loader behind, so that the next one starts afresh,
// and keeps the last error for the caller.
//
// Exports are reached through Call and Obtain: without the library or the export (traced by Find, once)
// nothing is called. An instance is used by one thread at a time; CSharedComponentLibrary adds the lock.
class CComponentLibrary
{
public:
    CComponentLibrary(const std::wstring& folder, const wchar_t* fileName);

    [[nodiscard]] bool Load();
    void Unload();
    [[nodiscard]] bool IsLoaded() const { return m_loader != nullptr; }
    // Loads not yet given back; 0 without a library.
    [[nodiscard]] std::uint32_t Uses() const;
    const std::wstring& Folder() const { return m_folder; }
    // Null without a library or when the export is missing (traced).
    void* Find(const char* exportName);

    template <typename Fn>
    Fn FindAs(const char* exportName)
    {
        return reinterpret_cast<Fn>(Find(exportName));
    }

    // Calls the export exportName, of type Fn: its result, or a value-initialised one (null, 0) when it cannot
    // be called. An export without a result gives whether it was called.
    template <typename Fn, typename... Args>
    auto Call(const char* exportName, Args... args)
    {
        using Result = std::invoke_result_t<Fn, Args...>;
        const Fn fn = FindAs<Fn>(exportName);
        if constexpr (std::is_void_v<Result>)
        {
            if (fn != nullptr)
                fn(args...);
            return fn != nullptr;
        }
        else
        {
            return fn != nullptr ? fn(args...) : Result{};
        }
    }

    // The interface that the export getName (of type Fn) hands out, or null. When the export was called and
    // gave null, gaveNothing() runs: the caller traces it in its own words.
    template <typename Fn, typename GaveNothing, typename... Args>
    auto Obtain(const char* getName, GaveNothing gaveNothing, Args... args)
    {
        const Fn get = FindAs<Fn>(getName);
        if (get == nullptr)
            return std::invoke_result_t<Fn, Args...>{};
        auto given = get(args...);
        if (given == nullptr)
            gaveNothing();
        return given;
    }

private:
    std::wstring m_folder;
    const wchar_t* m_fileName;
    std::unique_ptr<CLoader> m_loader;
};

// A component library that the whole module shares, kept at namespace scope (see ModuleComponents.h). Each
// user holds at most one use, marked by a flag of its own that only the holder writes; the loader's count is
// the number of users, and the last Release frees the library. Calls go through the holder under its mutex,
// so that no Release frees the library under a running call. Without a user nothing is called.
class CSharedComponentLibrary
{
public:
    // Takes a use for `held` unless it is set: the first loads fileName from the folder that folder() gives,
    // later ones only count, whatever they name. The number of users afterwards; 0 when nothing could be loaded.
    template <typename Folder>
    std::uint32_t Acquire(bool& held, const wchar_t* fileName, Folder folder)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!held)
        {
            if (!m_library.IsLoaded())
                m_library = CComponentLibrary(folder(), fileName);
            held = m_library.Load();
        }
        return m_library.Uses();
    }

    // Gives back the use that `held` marks, if any; true when that freed the library.
    bool Release(bool& held);
    [[nodiscard]] std::uint32_t Users() const;

    template <typename Fn, typename... Args>
    auto Call(const char* exportName, Args... args)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_library.Call<Fn>(exportName, args...);
    }

    template <typename Fn, typename GaveNothing, typename... Args>
    auto Obtain(const char* getName, GaveNothing gaveNothing, Args... args)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_library.Obtain<Fn>(getName, gaveNothing, args...);
    }

private:
    mutable std::mutex m_mutex;
    CComponentLibrary m_library{std::wstring(), nullptr};
};

// The one way this library loads a sibling component: from folder (with or without its trailing backslash),
// with LOAD_WITH_ALTERED_SEARCH_PATH so that the component's own dependencies are found beside it. Never by its
// bare name through the DLL search order, where a library planted in the current folder or on PATH would be
// taken in a process that usually runs with the highest rights: a folder that is empty or not a full path
// ("C:\..." or "\\server\...") is refused with ERROR_DLL_NOT_FOUND as the last error. Every failure is
// traced; the caller reads GetLastError right after a null result.
CModule LoadComponentLibrary(const std::wstring& folder, const std::wstring& name);
