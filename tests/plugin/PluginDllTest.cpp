// The plug-in library as the agent's host uses it: loaded from an install tree, its two exports called.
#include "CAgentInstall.h"

#include "host/IPlugin.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"

#include <gtest/gtest.h>
#include <psapi.h>


namespace
{

class CPluginLibrary
{
public:
    explicit CPluginLibrary(const std::wstring& path)
        : m_module(::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
    {
        if (m_module)
        {
            m_get = reinterpret_cast<GetPluginListFn>(
                reinterpret_cast<void (*)()>(::GetProcAddress(m_module.Get(), "GetPluginList")));
            m_free = reinterpret_cast<FreePluginListFn>(
                reinterpret_cast<void (*)()>(::GetProcAddress(m_module.Get(), "FreePluginList")));
        }
    }
    bool IsLoaded() const { return m_module && m_get != nullptr && m_free != nullptr; }
    PluginList* Get() const { return m_get(); }
    void Free(PluginList* list) const { m_free(list); }

private:
    CModule m_module;
    GetPluginListFn m_get = nullptr;
    FreePluginListFn m_free = nullptr;
};

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
    static bool LoggingLoaded() { return ::GetModuleHandleW(L"Hollin.dll") != nullptr; }

    CAgentInstall m_install;
};

DWORD DeliverTrackingSend(IPlugin& plugin)
{
    CMessageObject event;
    event.AddObject(L"TrackingSend", true)->AddString(L"TrackingFile", L"C:\\none.json");
    return plugin.ProcessEvent(&event);
}

} // namespace

TEST_F(PluginDllTest, ListIsCountedAndTheLastFreeDestroysThePlugin)
{
    ASSERT_TRUE(m_install.Add(L"Tamsin.dll", L"Utils"));
    const CPluginLibrary library(LibraryPath());
    ASSERT_TRUE(library.IsLoaded());

    PluginList* list = library.Get();
    ASSERT_NE(nullptr, list);
    ASSERT_EQ(1u, list->size());
    EXPECT_EQ(L"Telemetry", (*list)[0].name);
    IPlugin* plugin = (*list)[0].plugin;
    ASSERT_NE(nullptr, plugin);
    EXPECT_EQ(list, library.Get());
    EXPECT_TRUE(LoggingLoaded());   // the plug-in holds the logging component while it lives

    PluginList foreign;
    library.Free(&foreign);
    library.Free(nullptr);
    library.Free(list);
    // One count is left: the plug-in still works.
    std::vector<std::wstring> events;
    plugin->GetEvents(events);
    EXPECT_EQ(3u, events.size());
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), DeliverTrackingSend(*plugin));
    EXPECT_TRUE(LoggingLoaded());

    library.Free(list);
    EXPECT_FALSE(LoggingLoaded());
}

TEST_F(PluginDllTest, WithoutConfigurationTheListIsEmptyUntilReleased)
{
    const CPluginLibrary library(LibraryPath());
    ASSERT_TRUE(library.IsLoaded());
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
    EXPECT_EQ(1u, list->size());
    library.Free(list);
}

TEST_F(PluginDllTest, LoadingAndUnloadingLeavesNothingBehind)
{
    ASSERT_TRUE(m_install.Add(L"Tamsin.dll", L"Utils"));
    auto cycle = [&] {
        const CPluginLibrary library(LibraryPath());
        ASSERT_TRUE(library.IsLoaded());
        PluginList* list = library.Get();
        ASSERT_TRUE(list != nullptr && list->size() == 1);
        DeliverTrackingSend(*(*list)[0].plugin);
        CMessageObject unknown;
        unknown.AddObject(L"Unknown", true);
        (*list)[0].plugin->ProcessEvent(&unknown);
        library.Free(list);
    };
    auto usage = [] {
        PROCESS_MEMORY_COUNTERS_EX memory{};
        memory.cb = sizeof(memory);
        ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                               sizeof(memory));
        DWORD handles = 0;
        ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
        return std::make_pair(handles, memory.PrivateUsage);
    };
    // The first rounds settle what the process keeps anyway (the loader's and the heap's own tables).
    for (int i = 0; i < 20; ++i)
        cycle();
    const auto before = usage();
    for (int i = 0; i < 200; ++i)
        cycle();
    const auto after = usage();
    EXPECT_LE(after.first, before.first + 2) << "handles " << before.first << " -> " << after.first;
    EXPECT_LE(after.second, before.second + 1024 * 1024)
        << "private bytes " << before.second << " -> " << after.second;
}
