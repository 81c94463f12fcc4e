// The TrackingSend processor over stand-ins of the components, in process: what a tracking hit is given, what
// the processor answers, and whether the file stays.

#include "CAgentInstall.h"
#include "CFakeComms.h"
#include "CFakeComponents.h"
#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "TestFiles.h"

#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"
#include "platform/OsProbes.h"
#include "telemetry/CTrackingSendEventProcessor.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace
{

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

// A 64-bit Windows 10.0 machine without suites, as the version probes see it.
class CModelMachine : public IOsProbes
{
public:
    CModelMachine(BYTE productType, DWORD build, DWORD updateRevision, DWORD productInfo, const wchar_t* releaseId)
        : m_productType(productType), m_build(build), m_updateRevision(updateRevision), m_productInfo(productInfo),
          m_releaseId(releaseId)
    {
    }
    BOOL VerifyVersion(OSVERSIONINFOEXW& info, DWORD typeMask, DWORDLONG) override
    {
        switch (typeMask)
        {
        case VER_PLATFORMID:
            return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
        case VER_PRODUCT_TYPE:
            return info.wProductType == m_productType;
        case VER_MAJORVERSION | VER_MINORVERSION:
            return info.dwMajorVersion == 10 && info.dwMinorVersion == 0;
        case VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR:
            return info.wServicePackMajor == 0;
        default:
            return FALSE;
        }
    }
    void GetNativeSystemInfo(SYSTEM_INFO& info) override { info.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64; }
    bool GetNativeMachine(USHORT& machine) override { return machine = IMAGE_FILE_MACHINE_AMD64, true; }
    int GetSystemMetrics(int) override { return 0; }
    bool GetProductInfo(DWORD, DWORD, DWORD, DWORD, DWORD& type) override { return type = m_productInfo, true; }
    bool ReadNumber(const wchar_t*, const wchar_t* name, DWORD& value) override
    {
        const std::wstring n = name;
        if (n == L"CurrentMajorVersionNumber" || n == L"CurrentMinorVersionNumber")
            return value = n == L"CurrentMajorVersionNumber" ? 10 : 0, true;
        return n == L"UBR" && m_updateRevision != 0 && (value = m_updateRevision, true);
    }
    bool ReadText(const wchar_t*, const wchar_t* name, std::wstring& value) override
    {
        const std::wstring n = name;
        if (n == L"CurrentBuildNumber" || n == L"ReleaseId")
            return value = n == L"ReleaseId" ? m_releaseId : std::to_wstring(m_build), true;
        return false;
    }
    bool KeyExists(const wchar_t*) override { return false; }

private:
    BYTE m_productType;
    DWORD m_build, m_updateRevision, m_productInfo;
    std::wstring m_releaseId;
};

// The one tracking hit of an event: notes what it is given and answers Send as the test says.
struct CRecordedHit : CStubTrackingRequest
{
    std::vector<std::wstring> identity;
    Pairs parameters;
    bool delivers = true;
    int sends = 0;

    void SetIdentity(const wchar_t* s1, const wchar_t* s2, const wchar_t* s3, const wchar_t* s4, const wchar_t* s5,
                     const wchar_t* s6, const wchar_t* s7) override
    {
        identity = {s1, s2, s3, s4, s5, s6, s7};
    }
    void AddParameter(const wchar_t* name, const wchar_t* value) override { parameters.emplace_back(name, value); }
    bool Send(DWORD) override { return ++sends, delivers; }
};

// Like the real component, no tracking request for an empty URL.
struct CHitComms : CFakeComms
{
    CRecordedHit hit;
    std::vector<std::wstring> urls;
    bool refuse = false;

    ITrackingRequest* CreateTrackingRequest(const wchar_t* url) override
    {
        urls.emplace_back(url);
        return refuse || *url == L'\0' ? nullptr : HandOut(&hit);
    }
};

struct CHardware : IHardware
{
    bool described = true;
    bool portable = false;
    bool GetDescription(HardwareDescription& description) override
    {
        description.isPortable = portable;
        return described;
    }
};

class CTrackingSendEventProcessorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_config.Set(L"Communications.Defaults.Scheme", L"http");
        m_config.Set(L"Communications.Defaults.Hostname", L"tracking.test");
        m_config.Set(L"Communications.Method_TrackingSend.Path", L"api/tracking/hit?trackIndex={trackIndex}");
        // Names as other components write them: spaces and characters beyond ASCII.
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_folder = temp + (L"Tracking \u00e9v\u00e9nements " + std::to_wstring(::GetCurrentProcessId()) + L"\\");
        ASSERT_TRUE(::CreateDirectoryW(m_folder.c_str(), nullptr));
        m_file = m_folder + L"hit \u65e5\u672c 1.json";
    }
    void TearDown() override { EXPECT_TRUE(RemoveTree(m_folder)); }

    DWORD Deliver(IComponentAccess& components)
    {
        CMessageObject payload;
        payload.AddString(L"Filename", m_file);
        payload.AddString(L"OperationId", L"op-1");
        return CTrackingSendEventProcessor(&m_config, &m_dispatcher, &components).Process(&payload);
    }

    CFakeConfigUtil m_config;
    CNoDispatcher m_dispatcher;
    std::wstring m_folder;
    std::wstring m_file;
};

} // namespace

TEST_F(CTrackingSendEventProcessorTest, ResultDecidesWhetherTheFileStays)
{
    enum Comms
    {
        Delivers,
        NotDelivered,
        NotLoaded,
        NoInterface,
        NoRequest,
    };
    const char* index = R"({"TrackIndex":"7"})";
    const wchar_t* url = L"http://tracking.test/api/tracking/hit?trackIndex=7";
    const struct
    {
        const char* label;
        const char* content;   // null: no file
        Comms comms;
        DWORD result;
        bool stays;
        int sends;
        const wchar_t* url;   // of the tracking request asked for; null: none asked for
    } rows[] = {
        {"sent", index, Delivers, ERROR_SUCCESS, false, 1, url},
        {"refused or not delivered", index, NotDelivered, ERROR_REQUEST_REFUSED, false, 1, url},
        {"no file", nullptr, Delivers, ERROR_FILE_NOT_FOUND, false, 0, nullptr},
        {"not JSON", R"({"TrackIndex":)", Delivers, ERROR_INVALID_DATA, true, 0, nullptr},
        {"index a number", R"({"TrackIndex":7})", Delivers, ERROR_INVALID_INDEX, true, 0, nullptr},
        {"no index", R"({"CustomData":[]})", Delivers, ERROR_INVALID_INDEX, true, 0, nullptr},
        {"an array, not an object", R"([{"TrackIndex":"7"}])", Delivers, ERROR_INVALID_INDEX, true, 0, nullptr},
        {"no component", index, NotLoaded, ERROR_DLL_INIT_FAILED, true, 0, nullptr},
        {"no interface", index, NoInterface, ERROR_NOT_ENOUGH_MEMORY, true, 0, nullptr},
        {"no tracking request", index, NoRequest, ERROR_NOT_ENOUGH_MEMORY, true, 0, url},
        // An empty placeholder value empties the configured URL: there is nothing to send to.
        {"empty index", R"({"TrackIndex":""})", Delivers, ERROR_NOT_ENOUGH_MEMORY, true, 0, L""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        CHitComms comms;
        comms.hit.delivers = row.comms != NotDelivered;
        comms.refuse = row.comms == NoRequest;
        CFakeComponents components(row.comms == NoInterface ? nullptr : &comms);
        components.commsLoads = row.comms != NotLoaded;
        if (row.content != nullptr)
            WriteBytes(m_file, row.content);
        EXPECT_EQ(Deliver(components), row.result);
        EXPECT_EQ(Exists(m_file), row.stays);
        EXPECT_EQ(comms.hit.sends, row.sends);
        EXPECT_EQ(comms.urls, row.url != nullptr ? std::vector<std::wstring>{row.url} : std::vector<std::wstring>{});
        // Every use, request, proxy list and trust object went back.
        EXPECT_EQ(components.Outstanding(), 0);
        EXPECT_EQ(comms.Outstanding(), 0);
        EXPECT_EQ(comms.BadReleases(), 0);
        ::DeleteFileW(m_file.c_str());
    }
}

TEST_F(CTrackingSendEventProcessorTest, EventsThatNameNoReadableFileSendNothing)
{
    CHitComms comms;
    CFakeComponents components(&comms);
    CTrackingSendEventProcessor processor(&m_config, &m_dispatcher, &components);
    EXPECT_EQ(processor.Process(nullptr), ERROR_INVALID_DATA);
    CMessageObject numbered;
    numbered.AddInt32(L"Filename", 7);
    EXPECT_EQ(processor.Process(&numbered), ERROR_INVALID_NAME);
    CMessageObject empty;
    empty.AddString(L"Filename", L"");
    EXPECT_EQ(processor.Process(&empty), ERROR_INVALID_NAME);

    WriteBytes(m_file, R"({"TrackIndex":"7"})");
    {
        const CFileHandle held(::CreateFileW(m_file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(Deliver(components), ERROR_READ_FAULT);
    }
    EXPECT_TRUE(Exists(m_file));
    EXPECT_TRUE(comms.urls.empty());

    try
    {
        CTrackingSendEventProcessor(&m_config, nullptr);
        ADD_FAILURE() << "built without dispatcher access";
    }
    catch (const std::logic_error& e)
    {
        EXPECT_STREQ(e.what(), "dispatcherHelper is nullptr");
    }
}

TEST_F(CTrackingSendEventProcessorTest, HitCarriesIdentityMachinePortableFlagPairsProxyAndTrust)
{
    m_config.Set(L"Register.Agent.TestMode", L"1");   // the one file serves every row
    m_config.Set(L"Register.Register.SiteId", L"site-7");
    WriteBytes(m_file, R"({"TrackIndex":"7 & _po=1/\u00fc","CustomData":[{"Name":"a","Value":"1"}]})");
    const CModelMachine server(VER_NT_SERVER, 17763, 5329, 8, L"1809");
    const CModelMachine pro(VER_NT_WORKSTATION, 19045, 0, 48, L"2009");
    enum Hardware
    {
        Portable,
        NotPortable,
        NoDescription,
        NoInterface,
        NotLoaded,
    };
    struct
    {
        const char* label;
        CModelMachine machine;
        Hardware hardware;
        std::map<std::wstring, std::wstring> expected;
    } rows[] = {
        {"Server 2019, portable", server, Portable,
         {{L"_oi", L"13"}, {L"_ob", L"17763.5329"}, {L"_or", L"1809"}, {L"_p", L"113"}, {L"_os", L"1"}, {L"_po", L"1"}}},
        {"Windows 10 Pro", pro, NotPortable,
         {{L"_oi", L"11"}, {L"_ob", L"19045"}, {L"_or", L"2009"}, {L"_p", L"98"}, {L"_os", L"0"}, {L"_po", L"0"}}},
        {"no hardware description", pro, NoDescription, {{L"_po", L"0"}}},
        {"no hardware interface", pro, NoInterface, {{L"_po", L"0"}}},
        {"no system information component", pro, NotLoaded, {{L"_po", L"0"}}},
    };
    for (auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        CHitComms comms;
        CHardware hardware;
        hardware.described = row.hardware != NoDescription;
        hardware.portable = row.hardware != NotPortable;
        CFakeComponents components(&comms, row.hardware == NoInterface ? nullptr : &hardware);
        components.hardwareLoads = row.hardware != NotLoaded;
        COperatingSystem::SetProbesForTesting(&row.machine);
        const DWORD result = Deliver(components);
        COperatingSystem::SetProbesForTesting(nullptr);
        ASSERT_EQ(result, ERROR_SUCCESS);
        EXPECT_EQ(components.Outstanding(), 0);

        // The index stays one parameter value, whatever it holds.
        EXPECT_EQ(comms.urls, std::vector<std::wstring>{
                                  L"http://tracking.test/api/tracking/hit?trackIndex=7%20%26%20_po%3D1%2F%C3%BC"});
        // No registry values of a legacy product or of the agent's version here.
        EXPECT_EQ(comms.hit.identity, (std::vector<std::wstring>{L"0", L"0", L"0", L"0", L"0", L"1", L"0"}));
        std::vector<std::wstring> names;
        std::map<std::wstring, std::wstring> values;
        for (const auto& [name, value] : comms.hit.parameters)
        {
            names.push_back(name);
            values[name] = value;
        }
        // Environment first, then the file's pairs; no "_reg" without a region.
        EXPECT_EQ(names, (std::vector<std::wstring>{L"_oi", L"_ob", L"_or", L"_si", L"_di", L"_ei", L"_lt", L"_p",
                                                    L"_os", L"_po", L"a"}));
        EXPECT_EQ(values[L"_si"], L"site-7");
        EXPECT_EQ(values[L"_di"], L"");
        EXPECT_EQ(values[L"a"], L"1");
        for (const auto& [name, value] : row.expected)
            EXPECT_EQ(values[name], value) << name;
        ASSERT_EQ(comms.lists.size(), 1u);
        ASSERT_EQ(comms.trusts.size(), 1u);
        EXPECT_EQ(comms.hit.proxies, comms.lists[0].get());
        EXPECT_EQ(comms.hit.trust, comms.trusts[0].get());
        EXPECT_EQ(comms.Outstanding(), 0);
    }
    EXPECT_TRUE(Exists(m_file));
}

// Runs last: nothing above may have loaded a component library.
TEST_F(CTrackingSendEventProcessorTest, NoComponentLibraryWasLoaded)
{
    EXPECT_EQ(::GetModuleHandleW(L"Quillon.dll"), nullptr);
    EXPECT_EQ(::GetModuleHandleW(L"QuillonLC.dll"), nullptr);
    EXPECT_EQ(::GetModuleHandleW(L"Anvara.dll"), nullptr);
}
