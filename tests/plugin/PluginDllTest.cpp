// The plug-in library as the agent's host uses it: loaded from an install tree, its two exports called.
#include "CAgentInstall.h"
#include "CPluginLibrary.h"
#include "ModuleExport.h"
#include "ProcessUsage.h"

#include "host/IPlugin.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

class PluginDllTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(L"Telemetry.dll", L"Plugins"));
        ASSERT_TRUE(m_install.Add(L"Hollin.dll", L"Utils"));
        ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L""));
    }
    std::wstring LibraryPath() const { return m_install.Folder() + L"Plugins\\Telemetry.dll"; }
    static bool LoggingLoaded() { return IsLoaded(L"Hollin.dll"); }

    CAgentInstall m_install;
};

DWORD DeliverTrackingSend(IPlugin& plugin)
{
    CMessageObject event;
    event.AddObject(L"TrackingSend", true)->AddString(L"Filename", L"C:\\none.json");
    return plugin.ProcessEvent(&event);
}

} // namespace

TEST_F(PluginDllTest, ListIsCountedAndTheLastFreeDestroysThePlugin)
{
    const CPluginLibrary library(LibraryPath());
    ASSERT_TRUE(library.IsLoaded());
    // Without configuration the list is empty until released.
    PluginList* list = library.Get();
    ASSERT_NE(nullptr, list);
    EXPECT_TRUE(list->empty());
    EXPECT_EQ(list, library.Get());
    library.Free(list);
    library.Free(list);

    // Once the list is gone, the next call tries again and finds the component.
    ASSERT_TRUE(m_install.Add(L"Tamsin.dll", L"Utils"));
    list = library.Get();
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(1u, list->size());
    EXPECT_EQ(L"Telemetry", (*list)[0].name);
    IPlugin* plugin = (*list)[0].plugin;
    ASSERT_NE(nullptr, plugin);
    EXPECT_EQ(list, library.Get());
    EXPECT_TRUE(LoggingLoaded()); // the plug-in holds the logging component while it lives

    PluginList foreign;
    library.Free(&foreign);
    library.Free(nullptr);
    library.Free(list);
    // One count is left: the plug-in still works.
    std::vector<std::wstring> events = {L"stale"};
    plugin->GetEvents(events);
    EXPECT_EQ((std::vector<std::wstring>{L"PluginExecute", L"TrackingSend", L"FileUpload"}), events);
    EXPECT_EQ(0u, plugin->Initialize());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), DeliverTrackingSend(*plugin));
    EXPECT_TRUE(LoggingLoaded());

    library.Free(list);
    EXPECT_FALSE(LoggingLoaded());
}

TEST_F(PluginDllTest, LoadingAndUnloadingLeavesNothingBehind)
{
    ASSERT_TRUE(m_install.Add(L"Tamsin.dll", L"Utils"));
    auto cycle = [&] {
        CLoadedPlugin loaded;
        ASSERT_TRUE(loaded.Load(LibraryPath()));
        DeliverTrackingSend(loaded.Plugin());
        CMessageObject unknown;
        unknown.AddObject(L"Unknown", true);
        loaded.Plugin().ProcessEvent(&unknown);
    };
    // Wine keeps a few kilobytes for every load of any library: the plug-in's cycles, which load it, the
    // configuration and the logging component, are measured against bare loads of the same three.
    auto bareCycle = [&] {
        for (const wchar_t* library : {L"Plugins\\Telemetry.dll", L"Utils\\Tamsin.dll", L"Utils\\Hollin.dll"})
            LoadLibraryAt(m_install.Folder() + library);
    };
    // Under 32-bit Wine every load of a library of this toolchain keeps a TLS slot, and a process has about a
    // thousand: the two rounds load the three libraries 660 times in all.
    constexpr int kCycles = 100;
    // The first rounds settle what the process keeps anyway (the loader's and the heap's own tables).
    for (int i = 0; i < 10; ++i)
    {
        cycle();
        bareCycle();
    }
    const ProcessUsage start = MeasureProcessUsage();
    for (int i = 0; i < kCycles; ++i)
        bareCycle();
    const ProcessUsage before = MeasureProcessUsage();
    for (int i = 0; i < kCycles; ++i)
        cycle();
    const ProcessUsage after = MeasureProcessUsage();
    EXPECT_LE(after.handles, before.handles + 2) << "handles " << before.handles << " -> " << after.handles;
    // Each cycle loads three libraries; see ProcessUsage.h.
    EXPECT_LE(after.threadAndEventHandles, before.threadAndEventHandles + 3 * 2 * kCycles + 2);
    const std::size_t loaderCost = before.committedBytes - std::min(before.committedBytes, start.committedBytes);
    EXPECT_LE(after.committedBytes, before.committedBytes + loaderCost + 512 * 1024)
        << "committed bytes " << before.committedBytes << " -> " << after.committedBytes << ", bare loads took "
        << loaderCost;
}
