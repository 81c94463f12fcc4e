// "TrackingSend" end to end: Telemetry.dll loaded from an agent install as the host loads it, with the
// configuration, logging, communications and system information stand-ins in "Utils", sending to the server
// fixture.

#include "CAgentInstall.h"
#include "CPluginLibrary.h"
#include "CServerFixture.h"
#include "ModuleExport.h"
#include "ProcessUsage.h"
#include "TestFiles.h"

#include "host/IPlugin.h"
#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace
{

constexpr char kHitPath[] = "/api/tracking/hit";
constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

using Pairs = CQueryPairs;

std::string Value(const Pairs& pairs, const std::string& name)
{
    for (const auto& pair : pairs)
        if (pair.first == name)
            return pair.second;
    return "<absent>";
}

// The machine values a test writes: none of them is there before it (the test checks), all go afterwards.
class CMachineValues
{
public:
    static constexpr wchar_t kLegacyKey[] = L"SOFTWARE\\Korvo Software";
    static constexpr wchar_t kSetupKey[] = L"SOFTWARE\\Korvo Software\\Setup";
    static constexpr wchar_t kUidsKey[] = L"SOFTWARE\\Korvo Software\\Setup\\UIDS";

    // An empty key left by an earlier run does not count.
    static bool Absent()
    {
        std::wstring text;
        DWORD number = 0;
        return ReadRegistryDword(HKEY_LOCAL_MACHINE, kSetupKey, L"MainProductID", number) != ERROR_SUCCESS &&
               ReadRegistryText(HKEY_LOCAL_MACHINE, kSetupKey, L"Normal", text) != ERROR_SUCCESS &&
               ReadRegistryText(HKEY_LOCAL_MACHINE, kUidsKey, L"MUID", text) != ERROR_SUCCESS &&
               ReadRegistryDword(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"UBR", number,
                                 KEY_QUERY_VALUE | KEY_WOW64_64KEY) != ERROR_SUCCESS;
    }
    ~CMachineValues()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacyKey);
        static_cast<void>(
            DeleteRegistryValue(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"UBR", KEY_SET_VALUE | KEY_WOW64_64KEY));
    }
    // The main product 4711, its version 5.6.7 and the machine identifier muid-1.
    static bool WriteIdentity()
    {
        return Write(kSetupKey, L"MainProductID", DWORD{4711}) && Write(kSetupKey, L"Normal", L"5.6.7") &&
               Write(kUidsKey, L"MUID", L"muid-1");
    }
    // view: the operating system's values live in the 64-bit view, the agent's in the one this process sees.
    static bool Write(const wchar_t* key, const wchar_t* name, const std::wstring& text)
    {
        return WriteRegistryText(HKEY_LOCAL_MACHINE, key, name, text) == ERROR_SUCCESS;
    }
    static bool Write(const wchar_t* key, const wchar_t* name, DWORD number, REGSAM view = 0)
    {
        return WriteRegistryValue(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &number, sizeof(number),
                                  KEY_SET_VALUE | view) == ERROR_SUCCESS;
    }
};

class TrackingSendEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(L"Telemetry.dll", L"Plugins"));
        for (const wchar_t* component : {L"Tamsin.dll", L"Hollin.dll", L"Quillon.dll", L"Anvara.dll"})
            ASSERT_TRUE(m_install.Add(component, L"Utils"));
        ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L""));
        m_files = m_install.Folder() + L"Tracking files\\";
        ::CreateDirectoryW(m_files.c_str(), nullptr);
        Configure({});
        m_server.ReplyJson("GET", kHitPath, 200, "{}");
        RebuildPlugin();
    }

    // The plug-in keeps the operating-system record it found while it lives: a test that changes what the
    // record is made of builds the plug-in again.
    void RebuildPlugin() { ASSERT_TRUE(m_plugin.Load(m_install.Folder() + L"Plugins\\Telemetry.dll")); }

    // Utils\config.json: the settings of every test, then these. The padding changes the file's size, so
    // that the configuration stand-in sees every rewrite.
    void Configure(const std::map<std::string, std::string>& changes)
    {
        std::map<std::string, std::string> settings = {
            {"Communications.Defaults.Scheme", "http"},
            {"Communications.Defaults.Hostname", m_server.HostAndPort()},
            {"Communications.Method_TrackingSend.Path", "api/tracking/hit?trackIndex={trackIndex}"},
            {"Register.Register.SiteId", "site-7"},
            {"Register.Register.DeviceId", "device-7"}};
        for (const auto& [key, value] : changes)
            settings[key] = value;
        std::string json = "{\"Test.Revision\":\"" + std::string(++m_revision, 'r') + "\"";
        for (const auto& [key, value] : settings)
            json += ",\"" + key + "\":\"" + value + "\"";
        WriteBytes(m_install.Folder() + L"Utils\\config.json", json + "}");
    }

    DWORD Deliver(const std::wstring& file)
    {
        CMessageObject event;
        event.AddObject(L"TrackingSend", true)->AddString(L"Filename", file);
        return m_plugin.Plugin().ProcessEvent(&event);
    }

    std::vector<CRecordedRequest> Hits() const { return m_server.RequestsTo(kHitPath); }

    CAgentInstall m_install;
    CServerFixture m_server;
    CLoadedPlugin m_plugin;
    std::wstring m_files;
    int m_revision = 0;
};

} // namespace

// The hit as it goes on the wire, byte for byte: only the event id and the local time differ between hits,
// and the operating system's values between machines. Pairs without a name or a value, and entries that are no
// pairs, are dropped; a file in test mode without its lowest bit goes.
TEST_F(TrackingSendEndToEndTest, TheHitOnTheWireIsPinned)
{
    ASSERT_TRUE(CMachineValues::Absent());
    const CMachineValues cleanup;
    ASSERT_TRUE(CMachineValues::WriteIdentity());
    ASSERT_TRUE(CMachineValues::Write(kCurrentVersionKey, L"UBR", DWORD{4321}, KEY_WOW64_64KEY));
    ASSERT_TRUE(m_install.SetSetupValue(L"Normal", L"2.3.4")); // sent as stored, not as a four-part version
    RebuildPlugin();
    Configure({{"Register.Register.Region", "eu west"}, {"Anvara.Portable", "true"}, {"Register.Agent.TestMode", "2"}});
    const std::wstring file = m_files + L"hit \u00fc.json";
    WriteBytes(file, R"({"TrackIndex":"a b&c=d/\u00e9~_.-","CustomData":[{"Name":"screen","Value":"start"},
        {"Name":"dropped","Value":""},{"Value":"nameless"},5,"text",{"Name":"x y","Value":"1&2=3?4#5+6%7"}]})");
    ASSERT_EQ(Deliver(file), ERROR_SUCCESS);
    EXPECT_FALSE(Exists(file));
    const auto hits = Hits();
    ASSERT_EQ(hits.size(), 1u);
    const Pairs pairs = hits[0].QueryPairs();

    const COperatingSystem os; // this process sees the machine as the plug-in does
    const OperatingSystemInfo& info = os.Info();
    const std::string environment = "&_p=" + std::to_string(info.editionCode) + "&_os=" + (info.isServer ? "1" : "0");
    const std::string expected =
        std::string(kHitPath) + "?trackIndex=a%20b%26c%3Dd%2F%C3%A9~_.-&_id1=4711&_id2=5.6.7&_id3=0" +
        "&_id4=muid-1&_id5=0&_id6=1&_id7=2.3.4&_oi=" + std::to_string(info.osCode) +
        "&_ob=" + std::to_string(info.buildNumber) + ".4321&_or=" + std::to_string(info.releaseId) +
        "&_si=site-7&_di=device-7&_ei=" + Value(pairs, "_ei") + "&_lt=" + Value(pairs, "_lt") + environment +
        "&_po=1&_reg=eu%20west&screen=start&x%20y=1%262%3D3%3F4%235%2B6%257";
    EXPECT_EQ(hits[0].target, expected);
    const std::string id = Value(pairs, "_ei");
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef-"), std::string::npos) << id;
    const std::string time = Value(pairs, "_lt");
    EXPECT_EQ(time.size(), 14u);
    EXPECT_EQ(time.find_first_not_of("0123456789"), std::string::npos) << time;

    // The next hit has an event id of its own; no region, not portable and CustomData that is no array add
    // nothing after the environment.
    Configure({{"Anvara.Portable", "0"}});
    WriteBytes(file, R"({"TrackIndex":"2","CustomData":{"Name":"a","Value":"1"}})");
    ASSERT_EQ(Deliver(file), ERROR_SUCCESS);
    ASSERT_EQ(Hits().size(), 2u);
    const std::string next = Hits()[1].target;
    EXPECT_EQ(next.substr(next.find("&_p=")), environment + "&_po=0");
    EXPECT_NE(Value(Hits()[1].QueryPairs(), "_ei"), id);
}

TEST_F(TrackingSendEndToEndTest, ParallelEventsAreEachSentOnceAndGiveEveryLoadBack)
{
    // Under 32-bit Wine every real load of a library costs a TLS slot for good: with a reference of our own,
    // the plug-in's loads only count.
    const std::wstring utils = m_install.Folder() + L"Utils\\";
    CModule quillon = LoadLibraryAt(utils + L"Quillon.dll");
    CModule anvara = LoadLibraryAt(utils + L"Anvara.dll");
    ASSERT_TRUE(quillon && anvara);
    const auto outstanding = [](HMODULE module, const char* name) {
        const auto count = ModuleExport<DWORD (*)()>(module, name);
        return count != nullptr ? count() : ~0u;
    };
    Configure({{"Anvara.Portable", "1"}});

    constexpr int kThreads = 8;
    constexpr int kEvents = 200;
    const auto round = [&](const std::string& tag) {
        m_server.ClearRequests();
        std::atomic<int> refused{0}, kept{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEvents; ++i)
                {
                    const std::string index = tag + "-" + std::to_string(t) + "-" + std::to_string(i);
                    const std::wstring file = m_files + std::wstring(index.begin(), index.end()) + L".json";
                    WriteBytes(file, "{\"TrackIndex\":\"" + index + "\"}");
                    refused += Deliver(file) != ERROR_SUCCESS;
                    kept += Exists(file);
                }
            });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(refused.load(), 0);
        EXPECT_EQ(kept.load(), 0);
        std::set<std::string> indexes, eventIds;
        const auto hits = Hits();
        for (const auto& hit : hits)
        {
            const Pairs pairs = hit.QueryPairs();
            indexes.insert(Value(pairs, "trackIndex"));
            eventIds.insert(Value(pairs, "_ei"));
        }
        EXPECT_EQ(hits.size(), static_cast<size_t>(kThreads * kEvents));
        EXPECT_EQ(indexes.size(), hits.size());
        EXPECT_EQ(eventIds.size(), hits.size());
        EXPECT_EQ(indexes.count(tag + "-7-199"), 1u);
        m_server.ClearRequests();
    };
    // The warm-up round settles what the process keeps anyway (heaps, the fixture's threads, WinHTTP's state).
    round("warm");
    const ProcessUsage before = MeasureProcessUsage();
    round("run");
    // The fixture in this process keeps finished connections open for a few seconds: sockets that linger
    // go away, a leak stays.
    ProcessUsage after = MeasureProcessUsage();
    for (int wait = 0; wait < 50 && after.handles > before.handles + 8; ++wait)
    {
        ::Sleep(200);
        after = MeasureProcessUsage();
    }
    EXPECT_LE(after.handles, before.handles + 8) << "handles " << before.handles << " -> " << after.handles;
    EXPECT_LE(after.threadAndEventHandles, before.threadAndEventHandles + 8);
    EXPECT_LE(after.committedBytes, before.committedBytes + 2 * 1024 * 1024)
        << "committed bytes " << before.committedBytes << " -> " << after.committedBytes;

    EXPECT_EQ(outstanding(quillon.Get(), "QuillonOutstandingObjects"), 0u);
    EXPECT_EQ(outstanding(anvara.Get(), "AnvaraOutstandingObjects"), 0u);
    quillon.Reset();
    anvara.Reset();
    EXPECT_FALSE(IsLoaded(L"Quillon.dll"));
    EXPECT_FALSE(IsLoaded(L"Anvara.dll"));
}
