// The plug-in list in this process, without an agent install: the failures that GetPluginList answers itself.
#include "CAgentInstall.h"
#include "TraceCapture.h"

#include "plugin/PluginList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace
{
bool g_failNextNothrowNew = false;
} // namespace

// The one allocation that may fail without an exception; every other one goes on as usual.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (g_failNextNothrowNew)
    {
        g_failNextNothrowNew = false;
        return nullptr;
    }
    return std::malloc(size != 0 ? size : 1);
}

TEST(PluginListTest, NoListWithoutMemoryAndAnEmptyOneWithoutConfiguration)
{
    CAgentInstall install;
    ASSERT_TRUE(install.RemoveSetupValue(L"Path"));
    const GUID unit = trace::ParseGuid("c3d85e21-7f04-4b9a-a6e2-1d5c8b3f9e70");
    CTraceCapture capture;
    capture.Enable(kTraceLevelError, kTraceFlagGeneral);

    g_failNextNothrowNew = true;
    EXPECT_EQ(nullptr, GetPluginList());
    EXPECT_TRUE(capture.Has(unit, 12));

    PluginList* list = GetPluginList();
    ASSERT_NE(nullptr, list);
    EXPECT_TRUE(list->empty());
    EXPECT_TRUE(capture.Has(unit, 10));
    FreePluginList(list);
}
