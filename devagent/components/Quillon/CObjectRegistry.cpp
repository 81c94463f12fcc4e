#include "CObjectRegistry.h"

#include <map>
#include <mutex>
#include <new>

namespace
{

// At namespace scope, built while the library loads (why: src/host/ModuleComponents.h).
std::mutex g_mutex;
std::map<const void*, EObjectKind> g_objects;

std::map<const void*, EObjectKind>& Objects()
{
    return g_objects;
}

} // namespace

namespace registry
{

bool Add(const void* object, EObjectKind kind) noexcept
{
    std::lock_guard<std::mutex> lock(g_mutex);
    try
    {
        return Objects().emplace(object, kind).second;
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

bool Take(const void* object, EObjectKind kind) noexcept
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = Objects().find(object);
    if (found == Objects().end() || found->second != kind)
        return false;
    Objects().erase(found);
    return true;
}

bool IsOut(const void* object, EObjectKind kind) noexcept
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = Objects().find(object);
    return found != Objects().end() && found->second == kind;
}

DWORD Outstanding() noexcept
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<DWORD>(Objects().size());
}

} // namespace registry
