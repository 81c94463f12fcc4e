#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "ModuleExport.h"
#include "TraceCapture.h"

#include "platform/CUniqueHandle.h"
#include "platform/Files.h"
#include "repository/CDiscoveryConfig.h"
#include "repository/CDiscoveryManagerClient.h"
#include "repository/CRepositoryConsumer.h"
#include "repository/CRepositoryServer.h"
#include "repository/CRepositoryServerConfig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

constexpr wchar_t kSettingsKey[] = L"Repository.Server.Settings";
constexpr wchar_t kVersionKey[] = L"Repository.Server.Version";

TEST(CRepositoryServerConfigTest, SettingsDefaultsAndResets)
{
    CAgentInstall install;
    ASSERT_TRUE(install.SetSetupValue(L"Repository", L"C:\\FromRegistry\\"));
    const struct
    {
        const wchar_t* settings;
        bool enabled;
        std::uint32_t port;
        const wchar_t *path, *drive;
    } rows[] = {
        {L"{}", false, 18226, L"C:\\FromRegistry\\", L"C:"},
        {L"{\"Enabled\":true,\"Port\":\"18300\"}", true, 18226, L"C:\\FromRegistry\\", L"C:"},
        {L"{\"Enabled\":\"true\",\"Port\":18300}", false, 18300, L"C:\\FromRegistry\\", L"C:"},
        {L"{\"RepositoryPath\":\"D:\\\\Repo\"}", false, 18226, L"D:\\Repo\\", L"D:"},
        {L"{\"RepositoryPath\":\"D:\\\\Repo\\\\\",\"DriveLetter\":\"E:\"}", false, 18226, L"D:\\Repo\\", L"E:"},
        {L"{\"RepositoryPath\":\"\\\\\\\\host\\\\share\"}", false, 18226, L"\\\\host\\share\\", L""},
        {L"not json", false, 18226, L"C:\\FromRegistry\\", L"C:"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.settings);
        CFakeConfigUtil util;
        util.Set(kSettingsKey, row.settings);
        const Repository::CRepositoryServerConfig config(&util);
        EXPECT_EQ(config.Enabled(), row.enabled);
        EXPECT_EQ(config.Port(), row.port);
        EXPECT_EQ(config.RepositoryPath(), row.path);
        EXPECT_EQ(config.DriveLetter(), row.drive);
        EXPECT_EQ(config.MaxLogSize(), 10240u);
    }
}

TEST(CRepositoryServerTest, ReadyOnlyWithTheFolderAndTheManagerLibraryVersionFromTheSettings)
{
    CAgentInstall install;
    CFakeConfigUtil util;
    util.Set(kSettingsKey, L"{\"Enabled\":true}");
    util.Set(kVersionKey, L"3");
    const std::wstring folder = install.Folder() + L"Repository\\";

    Repository::CRepositoryServer server(&util);
    EXPECT_TRUE(server.IsEnabled());
    EXPECT_FALSE(server.IsReady());
    EXPECT_EQ(server.GetVersion(), L"");

    ASSERT_EQ(WriteWholeFile(folder + L"Merrow.dll", "stand-in"), ERROR_SUCCESS);
    EXPECT_TRUE(server.IsReady());
    EXPECT_EQ(server.GetVersion(), L"3");

    ASSERT_TRUE(RemoveTree(folder));
    EXPECT_FALSE(server.IsReady());

    // The settings write the version, and remove it when it is empty.
    Repository::CRepositoryServerConfig config(&util);
    EXPECT_EQ(config.Version(), L"3");
    ASSERT_TRUE(config.SetVersion(L"8"));
    std::wstring stored;
    EXPECT_EQ(util.GetValue(kVersionKey, stored, 0), ERROR_SUCCESS);
    EXPECT_EQ(stored, L"8");
    ASSERT_TRUE(config.SetVersion(L""));
    EXPECT_EQ(config.Version(), L"");
    EXPECT_NE(util.GetValue(kVersionKey, stored, 0), ERROR_SUCCESS);
}

TEST(CRepositoryServiceProviderTest, EqualityAndUsableAnnouncements)
{
    const CRepositoryServiceProvider provider(L"dev-1", L"peer", 18226);
    EXPECT_TRUE(provider.Equals(CRepositoryServiceProvider(L"dev-2", L"peer", 18226)));
    EXPECT_FALSE(provider.Equals(CRepositoryServiceProvider(L"dev-1", L"peer", 18227)));
    EXPECT_FALSE(provider.Equals(CRepositoryServiceProvider(L"dev-1", L"Peer", 18226)));

    CFakeConfigUtil util;
    util.Set(L"Register.Register.SiteId", L"site-a");
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
    const struct
    {
        const wchar_t* announcement;
        bool usable;
        const wchar_t* deviceId;
    } rows[] = {
        {L"{\"DeviceId\":\"dev-9\"}", false, L"dev-1"},
        {L"{\"SiteId\":7,\"DeviceId\":\"dev-9\"}", false, L"dev-1"},
        {L"{\"SiteId\":\"site-b\",\"DeviceId\":\"dev-9\"}", false, L"dev-1"},
        {L"{\"SiteId\":\"site-a\",\"DeviceId\":\"dev-9\"}", true, L"dev-9"},
        {L"{\"SiteId\":\"site-a\",\"DeviceId\":9}", true, L"dev-1"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.announcement);
        CMessageObject announcement;
        ASSERT_TRUE(announcement.FromJson(row.announcement));
        CRepositoryServiceProvider candidate(L"dev-1", L"peer", 18226, &util);
        EXPECT_EQ(candidate.IsUsable(announcement), row.usable);
        EXPECT_EQ(candidate.DeviceId(), row.deviceId);
    }
    bool namedBoth = false;
    for (const CapturedTrace& trace : capture.Messages())
        if (trace.number == 12 && trace.args.size() == 3)
            namedBoth = trace.Wide(1) == L"site-b" && trace.Wide(2) == L"site-a";
    EXPECT_TRUE(namedBoth);
    // An agent that cannot read its own site takes no provider.
    CFakeConfigUtil unregistered;
    CMessageObject sameSite;
    ASSERT_TRUE(sameSite.FromJson(L"{\"SiteId\":\"site-a\"}"));
    EXPECT_FALSE(CRepositoryServiceProvider(L"dev-1", L"peer", 18226, &unregistered).IsUsable(sameSite));
    EXPECT_EQ(capture.Count(trace::ParseGuid("6abb64e2-843b-4f31-81ac-e1edf03818c5"), 11), 1u);

    CMessageObject message;
    provider.ToMessage(message);
    CRepositoryServiceProvider read(L"", L"", 0);
    ASSERT_TRUE(read.FromMessage(message));
    EXPECT_EQ(read.DeviceId(), L"dev-1");
    message.RemoveItem(L"DeviceId");
    EXPECT_FALSE(read.FromMessage(message));
}

class CConsumerWithoutDnsName : public CRepositoryConsumer
{
public:
    using CRepositoryConsumer::CRepositoryConsumer;

protected:
    bool ReadDnsName(std::wstring&) override { return false; }
};

TEST(CRepositoryConsumerTest, LocalProviderFirstWhenEnabledReadyAndRegistered)
{
    CAgentInstall install;
    ASSERT_EQ(WriteWholeFile(install.Folder() + L"Repository\\Merrow.dll", "stand-in"), ERROR_SUCCESS);
    CFakeConfigUtil util;
    util.Set(kSettingsKey, L"{\"Enabled\":true,\"Port\":18400}");

    RepositoryProviders providers;
    CConsumerWithoutDnsName unregistered(&util);
    EXPECT_FALSE(unregistered.AddLocalRepositoryProvider(providers));
    EXPECT_TRUE(providers.empty());
    EXPECT_FALSE(unregistered.IsLocalProvider(CAgentServiceProvider(L"localhost", 18400)));

    util.Set(L"Register.Register.DeviceId", L"dev-local");
    CConsumerWithoutDnsName consumer(&util);
    ASSERT_TRUE(consumer.AddLocalRepositoryProvider(providers));
    ASSERT_EQ(providers.size(), 1u);
    EXPECT_EQ(providers[0]->Address(), L"localhost");
    EXPECT_EQ(providers[0]->Port(), 18400u);
    EXPECT_EQ(providers[0]->DeviceId(), L"dev-local");
    EXPECT_TRUE(consumer.IsLocalProvider(CAgentServiceProvider(L"localhost", 18400)));
    EXPECT_FALSE(consumer.IsLocalProvider(CAgentServiceProvider(L"LOCALHOST", 18400)));
    EXPECT_FALSE(consumer.IsLocalProvider(CAgentServiceProvider(L"localhost", 18401)));

    CRepositoryConsumer named(&util);
    ASSERT_TRUE(named.AddLocalRepositoryProvider(providers));
    EXPECT_FALSE(providers[1]->Address().empty());
    EXPECT_NE(providers[1]->Address(), L"localhost");

    util.Set(kSettingsKey, L"{\"Enabled\":false}");
    EXPECT_FALSE(CRepositoryConsumer(&util).AddLocalRepositoryProvider(providers));
    EXPECT_EQ(providers.size(), 2u);
}

TEST(CDiscoveryConfigTest, DefaultsAndTypedMembers)
{
    const struct
    {
        const wchar_t* settings;
        bool enabled;
        std::uint32_t port, interval, providers, fails;
    } rows[] = {
        {L"{}", true, 21226, 60, 64, 3},
        {L"{\"Port\":\"8000\",\"Enabled\":0}", true, 21226, 60, 64, 3},
        {L"{\"Enabled\":false,\"Port\":8000,\"DiscoveryInterval\":5,\"MaxProviders\":2,\"MaxFails\":4294967297}", false,
         8000, 5, 2, 1},
        {L"[1,", true, 21226, 60, 64, 3},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.settings);
        CFakeConfigUtil util;
        util.Set(L"AgentServices.Discovery.Settings", row.settings);
        const Discovery::CDiscoveryConfig config(&util);
        EXPECT_EQ(config.Enabled(), row.enabled);
        EXPECT_EQ(config.Port(), row.port);
        EXPECT_EQ(config.DiscoveryInterval(), row.interval);
        EXPECT_EQ(config.MaxProviders(), row.providers);
        EXPECT_EQ(config.MaxFails(), row.fails);
    }
}

TEST(CDiscoveryManagerClientTest, WithoutTheComponentEveryOperationFails)
{
    CAgentInstall install;
    CFakeConfigUtil util;
    RepositoryMessage message;
    message.body = L"{}";
    IConfigUtil* settings = nullptr;
    const auto expectAllFail = [&](const char* when) {
        SCOPED_TRACE(when);
        Discovery::CDiscoveryManagerClient client(settings);
        EXPECT_EQ(client.StartDiscovery(L"x", nullptr, nullptr), ERROR_DLL_INIT_FAILED);
        EXPECT_EQ(client.StopDiscovery(), ERROR_DLL_INIT_FAILED);
        EXPECT_EQ(client.Query3(0), ERROR_DLL_INIT_FAILED);
        EXPECT_EQ(client.Query4(0), ERROR_DLL_INIT_FAILED);
        EXPECT_EQ(client.Query5(0), ERROR_DLL_INIT_FAILED);
        EXPECT_EQ(client.SendRepositoryMessage(L"peer", message), ERROR_DLL_INIT_FAILED);
    };
    // No settings: discovery is on, on its default port; no install folder: nothing is looked for elsewhere.
    ASSERT_TRUE(install.Add(L"Yarran.dll", L"Utils") && install.RemoveSetupValue(L"Path"));
    expectAllFail("no settings, no install folder");
    ASSERT_TRUE(install.SetSetupValue(L"Path", install.Folder()) && install.Remove(L"Utils", L"Yarran.dll"));
    settings = &util;
    expectAllFail("no library");
    ASSERT_TRUE(install.Add(L"Anvara.dll", L"Utils", L"Yarran.dll"));
    expectAllFail("no export");
    ASSERT_TRUE(install.Remove(L"Utils", L"Yarran.dll"));
    ASSERT_TRUE(install.Add(L"Yarran.dll", L"Utils"));
    util.Set(L"AgentServices.Discovery.Settings", L"{\"Enabled\":false}");
    expectAllFail("disabled");
}

using LastMessageFn = DWORD (*)(wchar_t*, DWORD);
using CountFn = DWORD (*)();
using CallsFn = DWORD (*)(DWORD);

TEST(CDiscoveryManagerClientTest, RecordArrivesTruncatedAndSlotsForward)
{
    CAgentInstall install;
    ASSERT_TRUE(install.Add(L"Yarran.dll", L"Utils"));
    // Held here so that the stand-in's counters outlive each client.
    const CModule yarran(::LoadLibraryW((install.Folder() + L"Utils\\Yarran.dll").c_str()));
    ASSERT_TRUE(yarran);
    const auto lastMessage = ModuleExport<LastMessageFn>(yarran.Get(), "YarranLastMessage");
    const auto outstanding = ModuleExport<CountFn>(yarran.Get(), "YarranOutstandingObjects");
    const auto calls = ModuleExport<CallsFn>(yarran.Get(), "YarranCalls");
    ASSERT_TRUE(lastMessage && outstanding && calls);

    CFakeConfigUtil util;
    {
        Discovery::CDiscoveryManagerClient client(&util);
        EXPECT_EQ(outstanding(), 1u);
        RepositoryMessage message;
        message.parameters = L"{\"SiteId\":\"s\"}";
        message.body = L"{\"AddRepositoryContent\":{}}";
        EXPECT_EQ(client.SendRepositoryMessage(L"", message), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(client.SendRepositoryMessage(L"peer", RepositoryMessage{}), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(calls(6), 0u);

        const std::wstring address(60, L'a');
        EXPECT_NE(client.SendRepositoryMessage(address, message), ERROR_SUCCESS); // nobody listens there
        std::vector<wchar_t> buffer(lastMessage(nullptr, 0));
        ASSERT_EQ(lastMessage(buffer.data(), static_cast<DWORD>(buffer.size())), buffer.size());
        CMessageObject received;
        ASSERT_TRUE(received.FromJson(buffer.data()));
        const auto member = [&](const wchar_t* name) {
            std::wstring value = L"(none)";
            received.GetString(name, value);
            return value;
        };
        bool terminated = false;
        received.GetBool(L"hostTerminated", terminated);
        EXPECT_EQ(member(L"host"), address.substr(0, 44));
        EXPECT_TRUE(terminated);
        EXPECT_EQ(member(L"service"), L"Repository");
        EXPECT_EQ(member(L"kind"), L"event");
        EXPECT_EQ(member(L"body"), message.body);
        EXPECT_EQ(member(L"parameters"), message.parameters);

        // Start and Stop reach the interface's own; slots 3, 4 and 5 reach its 4, 5 and 3.
        EXPECT_EQ(client.StartDiscovery(L"repository", nullptr, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(client.StopDiscovery(), ERROR_SUCCESS);
        EXPECT_EQ(calls(1) + calls(2), 2u);
        EXPECT_EQ(client.Query3(0), ERROR_SUCCESS);
        EXPECT_EQ(calls(4), 1u);
        EXPECT_EQ(client.Query5(0), ERROR_SUCCESS);
        EXPECT_EQ(calls(3), 1u);
    }
    EXPECT_EQ(outstanding(), 0u);
}

} // namespace
