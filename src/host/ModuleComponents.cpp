#include "host/ModuleComponents.h"

#include "host/Trace.h"

#include <atomic>
#include <cstddef>
#include <mutex>

TRACE_UNIT("366ef40f-c417-4af0-ac9f-d1f63362379f");

namespace
{
// Three helpers today; a fixed table, so that registering never allocates.
constexpr std::size_t kMaxComponents = 8;

std::mutex g_mutex;
ModuleComponentRelease g_releases[kMaxComponents] = {};
std::size_t g_count = 0;
std::atomic<bool> g_abandoned{false};
} // namespace

void RegisterModuleComponent(ModuleComponentRelease release)
{
    const std::lock_guard<std::mutex> lock(g_mutex);
    for (std::size_t i = 0; i < g_count; ++i)
        if (g_releases[i] == release)
            return;
    if (g_count == kMaxComponents)
    {
        TRACE_ERROR(kTraceFlagGeneral, 10, "no room to register a module component: it is released last");
        return;
    }
    g_releases[g_count++] = release;
}

void ReleaseModuleComponents()
{
    ModuleComponentRelease releases[kMaxComponents] = {};
    std::size_t count = 0;
    {
        const std::lock_guard<std::mutex> lock(g_mutex);
        count = g_count;
        for (std::size_t i = 0; i < count; ++i)
            releases[i] = g_releases[i];
        g_count = 0;
    }
    TRACE_VERBOSE(kTraceFlagGeneral, 11, "releasing %zu module components", count);
    // Outside the table's lock: each release takes its helper's own mutex.
    while (count > 0)
        releases[--count]();
}

void AbandonModuleComponents()
{
    g_abandoned.store(true);
    TRACE_INFO(kTraceFlagGeneral, 12, "process ending: sibling libraries are left as they are");
}

bool ModuleComponentsAbandoned()
{
    return g_abandoned.load();
}
