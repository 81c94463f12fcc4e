// The TrackingSend processor over stand-ins of the components, in process: what a tracking hit is given, what
// the processor answers, and whether the file stays.

#include "CFakeComms.h"
#include "CFakeComponents.h"
#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "TestFiles.h"

#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"
#include "platform/Registry.h"
#include "platform/ScopeExit.h"
#include "telemetry/CTrackingSendEventProcessor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace
{

using Pairs = std::vector<std::pair<std::wstring, std::wstring>>;

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
    bool described = true, portable = false;
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
        // A name as other components write them: spaces and characters beyond ASCII.
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_file =
            temp + (L"\u00e9v\u00e9nement hit \u65e5\u672c " + std::to_wstring(::GetCurrentProcessId()) + L".json");
    }
    void TearDown() override
    {
        ::SetFileAttributesW(m_file.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(m_file.c_str());
    }

    DWORD Deliver(IComponentAccess& components)
    {
        CMessageObject payload;
        payload.AddString(L"Filename", m_file);
        payload.AddString(L"OperationId", L"op-1");
        return CTrackingSendEventProcessor(&m_config, &m_dispatcher, &components).Process(&payload);
    }

    CFakeConfigUtil m_config;
    CNoDispatcher m_dispatcher;
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
        NoRequest
    };
    const char* index = R"({"TrackIndex":"7"})";
    const wchar_t* url = L"http://tracking.test/api/tracking/hit?trackIndex=7";
    // content null: no file; url: of the tracking request asked for, null when none was.
    const struct
    {
        const char* label;
        const char* content;
        Comms comms;
        DWORD result;
        bool stays;
        int sends;
        const wchar_t* url;
    } rows[] = {
        {"sent", index, Delivers, ERROR_SUCCESS, false, 1, url},
        {"refused or not delivered", index, NotDelivered, ERROR_REQUEST_REFUSED, false, 1, url},
        {"no file", nullptr, Delivers, ERROR_FILE_NOT_FOUND, false, 0, nullptr},
        {"not JSON", R"({"TrackIndex":)", Delivers, ERROR_INVALID_DATA, true, 0, nullptr},
        {"index a number", R"({"TrackIndex":7})", Delivers, ERROR_INVALID_INDEX, true, 0, nullptr},
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

    // Sent, but the file cannot be removed (another reader that does not share deletion, then the file is
    // read-only): the hit counts all the same.
    WriteBytes(m_file, index);
    CHitComms comms;
    CFakeComponents components(&comms);
    {
        const CFileHandle reader(
            ::CreateFileW(m_file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_EQ(Deliver(components), static_cast<DWORD>(ERROR_SUCCESS));
    }
    ASSERT_TRUE(::SetFileAttributesW(m_file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Deliver(components), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(comms.hit.sends, 2);
    EXPECT_TRUE(Exists(m_file));
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

    EXPECT_THAT([&] { CTrackingSendEventProcessor(&m_config, nullptr); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("dispatcherHelper is nullptr")));
}

// The hit's parameters, identity, proxy and trust on the wire are pinned end to end; here the hardware
// interface's ways to fail, which the stand-in components cannot show.
TEST_F(CTrackingSendEventProcessorTest, PortableFlagFromTheHardwareDescription)
{
    m_config.Set(L"Register.Agent.TestMode", L"1"); // the one file serves every row
    WriteBytes(m_file, R"({"TrackIndex":"7"})");
    enum Hardware
    {
        Portable,
        NotPortable,
        NoDescription,
        NoInterface,
        NotLoaded
    };
    const struct
    {
        const char* label;
        Hardware hardware;
        const wchar_t* portable;
    } rows[] = {
        {"portable", Portable, L"1"},
        {"not portable", NotPortable, L"0"},
        {"no hardware description", NoDescription, L"0"},
        {"no hardware interface", NoInterface, L"0"},
        {"no system information component", NotLoaded, L"0"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        CHitComms comms;
        CHardware hardware;
        hardware.described = row.hardware != NoDescription;
        hardware.portable = row.hardware != NotPortable;
        CFakeComponents components(&comms, row.hardware == NoInterface ? nullptr : &hardware);
        components.hardwareLoads = row.hardware != NotLoaded;
        ASSERT_EQ(Deliver(components), ERROR_SUCCESS);
        EXPECT_EQ(components.Outstanding(), 0);
        EXPECT_EQ(comms.Outstanding(), 0);
        ASSERT_EQ(comms.hit.parameters.size(), 10u);
        EXPECT_EQ(comms.hit.parameters.back(), (Pairs::value_type{L"_po", row.portable}));
    }
    EXPECT_TRUE(Exists(m_file));

    // A legacy main product without a version: its identifier goes, the version stays unknown.
    constexpr wchar_t kLegacySetup[] = L"SOFTWARE\\Korvo Security\\Setup";
    const auto removeLegacy = ScopeExit([&] { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacySetup); });
    const DWORD product = 42;
    ASSERT_EQ(
        WriteRegistryValue(HKEY_LOCAL_MACHINE, kLegacySetup, L"MainProductID", REG_DWORD, &product, sizeof(product)),
        ERROR_SUCCESS);
    CHitComms comms;
    CFakeComponents components(&comms);
    ASSERT_EQ(Deliver(components), ERROR_SUCCESS);
    EXPECT_EQ(comms.hit.identity, (std::vector<std::wstring>{L"42", L"0", L"0", L"0", L"0", L"1", L"0"}));
}
