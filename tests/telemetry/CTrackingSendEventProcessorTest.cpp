// The TrackingSend processor with the real communications and system information stand-ins from an agent
// install, sending to the server fixture; the configuration is in-process.

#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CServerFixture.h"
#include "TestFiles.h"

#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"
#include "platform/OsProbes.h"
#include "platform/TextUtil.h"
#include "telemetry/CTrackingSendEventProcessor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

namespace
{

// The query of a recorded request, percent-decoded (of a repeated name, the first counts).
std::map<std::string, std::string> QueryValues(const CRecordedRequest& hit)
{
    const CQueryPairs pairs = hit.QueryPairs();
    return std::map<std::string, std::string>(pairs.begin(), pairs.end());
}

class CNoDispatcher : public IDispatcherHelper
{
public:
    DWORD SendObjects(const CMessageBatch&, bool) override { return ERROR_SUCCESS; }
    DWORD SendObject(const CMessageObject&, bool) override { return ERROR_SUCCESS; }
    DWORD SendText(const std::wstring&, bool) override { return ERROR_SUCCESS; }
    DWORD SendEach(const std::vector<std::wstring>&, bool) override { return ERROR_SUCCESS; }
    DWORD SendAsArray(const std::vector<std::wstring>&, bool) override { return ERROR_SUCCESS; }
};

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

class TrackingSendTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(L"Quillon.dll", L"Utils"));
        ASSERT_TRUE(m_install.Add(L"Anvara.dll", L"Utils"));
        const std::string host = m_server.HostAndPort();
        m_config.Set(L"Communications.Defaults.Scheme", L"http");
        m_config.Set(L"Communications.Defaults.Hostname", std::wstring(host.begin(), host.end()));
        m_config.Set(L"Communications.Method_TrackingSend.Path", L"api/tracking/hit?trackIndex={trackIndex}");
        // Names as other components write them: spaces and characters beyond ASCII.
        const std::wstring folder = m_install.Folder() + L"Tracking \u00e9v\u00e9nements\\";
        ::CreateDirectoryW(folder.c_str(), nullptr);
        m_file = folder + L"hit \u65e5\u672c 1.json";
    }

    DWORD Deliver(const std::wstring& file)
    {
        CMessageObject payload;
        payload.AddString(L"Filename", file);
        payload.AddString(L"OperationId", L"op-1");
        return CTrackingSendEventProcessor(&m_config, &m_dispatcher).Process(&payload);
    }
    void SetComponents(const std::string& json) { WriteBytes(m_install.Folder() + L"Utils\\config.json", json); }
    std::vector<CRecordedRequest> Hits() const { return m_server.RequestsTo("/api/tracking/hit"); }

    CAgentInstall m_install;
    CServerFixture m_server;
    CFakeConfigUtil m_config;
    CNoDispatcher m_dispatcher;
    std::wstring m_file;
};

} // namespace

TEST_F(TrackingSendTest, ResultDecidesWhetherTheFileStays)
{
    const char* index = R"({"TrackIndex":"7"})";
    const struct
    {
        const char* label;
        const char* content;      // null: no file
        const char* components;   // Utils\config.json
        int status;
        DWORD result;
        bool stays;
        size_t hits;
    } rows[] = {
        {"sent", index, "{}", 200, ERROR_SUCCESS, false, 1},
        {"refused by the server", index, "{}", 500, ERROR_REQUEST_REFUSED, false, 1},
        {"server unreachable", index, R"({"Quillon.Fault.FailSend":true})", 200, ERROR_REQUEST_REFUSED, false, 0},
        {"no file", nullptr, "{}", 200, ERROR_FILE_NOT_FOUND, false, 0},
        {"not JSON", R"({"TrackIndex":)", "{}", 200, ERROR_INVALID_DATA, true, 0},
        {"index a number", R"({"TrackIndex":7})", "{}", 200, ERROR_INVALID_INDEX, true, 0},
        {"no index", R"({"CustomData":[]})", "{}", 200, ERROR_INVALID_INDEX, true, 0},
        {"an array, not an object", R"([{"TrackIndex":"7"}])", "{}", 200, ERROR_INVALID_INDEX, true, 0},
        {"no interface", index, R"({"Quillon.Fault.NoInterface":true})", 200, ERROR_NOT_ENOUGH_MEMORY, true, 0},
        {"no tracking request", index, R"({"Quillon.Fault.RefuseTrackingRequest":1})", 200,
         ERROR_NOT_ENOUGH_MEMORY, true, 0},
        // An empty placeholder value empties the configured URL: there is nothing to send to.
        {"empty index", R"({"TrackIndex":""})", "{}", 200, ERROR_NOT_ENOUGH_MEMORY, true, 0},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        m_server.ClearRequests();
        m_server.ReplyJson("GET", "/api/tracking/hit", row.status, "{}");
        SetComponents(row.components);
        if (row.content != nullptr)
            WriteBytes(m_file, row.content);
        EXPECT_EQ(Deliver(m_file), row.result);
        EXPECT_EQ(Exists(m_file), row.stays);
        EXPECT_EQ(Hits().size(), row.hits);
        ::DeleteFileW(m_file.c_str());
    }
}

TEST_F(TrackingSendTest, EventsThatNameNoReadableFileSendNothing)
{
    EXPECT_EQ(CTrackingSendEventProcessor(&m_config, &m_dispatcher).Process(nullptr), ERROR_INVALID_DATA);
    CMessageObject numbered;
    numbered.AddInt32(L"Filename", 7);
    EXPECT_EQ(CTrackingSendEventProcessor(&m_config, &m_dispatcher).Process(&numbered), ERROR_INVALID_NAME);
    EXPECT_EQ(Deliver(L""), ERROR_INVALID_NAME);

    WriteBytes(m_file, R"({"TrackIndex":"7"})");
    {
        const CFileHandle held(::CreateFileW(m_file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(Deliver(m_file), ERROR_READ_FAULT);
    }
    ASSERT_TRUE(m_install.Remove(L"Utils", L"Quillon.dll"));
    EXPECT_EQ(Deliver(m_file), ERROR_DLL_INIT_FAILED);
    EXPECT_TRUE(Exists(m_file));
    EXPECT_TRUE(Hits().empty());

    // Utils holds no Tamsin.dll: the module has no configuration either.
    const auto thrown = [](auto make) -> std::string {
        try
        {
            make();
        }
        catch (const std::logic_error& e)
        {
            return e.what();
        }
        return "nothing";
    };
    EXPECT_EQ(thrown([&] { CTrackingSendEventProcessor(nullptr, &m_dispatcher); }), "configUtil is nullptr");
    EXPECT_EQ(thrown([&] { CTrackingSendEventProcessor(&m_config, nullptr); }), "dispatcherHelper is nullptr");
}

TEST_F(TrackingSendTest, HitReportsTheMachineThePortableFlagAndAnIntactIndex)
{
    m_server.ReplyJson("GET", "/api/tracking/hit", 200, "{}");
    m_config.Set(L"Register.Agent.TestMode", L"1");   // the one file serves every row
    WriteBytes(m_file, R"({"TrackIndex":"7 & _po=1/\u00fc"})");
    struct
    {
        const char* label;
        CModelMachine machine;
        const char* components;
        std::map<std::string, std::string> expected;
    } rows[] = {
        {"Server 2019, portable", CModelMachine(VER_NT_SERVER, 17763, 5329, 8, L"1809"), R"({"Anvara.Portable":"1"})",
         {{"_oi", "13"}, {"_ob", "17763.5329"}, {"_or", "1809"}, {"_p", "113"}, {"_os", "1"}, {"_po", "1"}}},
        {"Windows 10 Pro", CModelMachine(VER_NT_WORKSTATION, 19045, 0, 48, L"2009"), R"({"Anvara.Portable":false})",
         {{"_oi", "11"}, {"_ob", "19045"}, {"_or", "2009"}, {"_p", "98"}, {"_os", "0"}, {"_po", "0"}}},
        {"no hardware description", CModelMachine(VER_NT_WORKSTATION, 19045, 0, 48, L"2009"),
         R"({"Anvara.Portable":true,"Anvara.Fault.FailDescription":true})", {{"_po", "0"}}},
        {"no system information component", CModelMachine(VER_NT_WORKSTATION, 19045, 0, 48, L"2009"),
         R"({"Anvara.Portable":true})", {{"_po", "0"}}},
    };
    for (auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        m_server.ClearRequests();
        SetComponents(row.components);
        if (&row == &rows[3])
        {
            ASSERT_TRUE(m_install.Remove(L"Utils", L"Anvara.dll"));
        }
        COperatingSystem::SetProbesForTesting(&row.machine);
        const DWORD result = Deliver(m_file);
        COperatingSystem::SetProbesForTesting(nullptr);
        ASSERT_EQ(result, ERROR_SUCCESS);
        const auto hits = Hits();
        ASSERT_EQ(hits.size(), 1u);
        auto values = QueryValues(hits[0]);
        std::string index;
        WideToBytes(L"7 & _po=1/\u00fc", index, CP_UTF8);
        EXPECT_EQ(values["trackIndex"], index);
        for (const auto& [name, value] : row.expected)
            EXPECT_EQ(values[name], value) << name;
        // No registry values of a legacy product or of the agent's version here.
        for (const char* name : {"_id1", "_id2", "_id3", "_id4", "_id5", "_id7"})
            EXPECT_EQ(values[name], "0") << name;
        EXPECT_EQ(values.count("_reg"), 0u);
    }
}
