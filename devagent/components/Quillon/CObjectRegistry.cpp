#include "CObjectRegistry.h"

#include <map>
#include <mutex>
#include <new>

namespace
{

std::mutex g_mutex;

std::map<const void*, EObjectKind>& Objects()
{
    static std::map<const void*, EObjectKind> objects;
    return objects;
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
