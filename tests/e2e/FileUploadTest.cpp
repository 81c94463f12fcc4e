// "FileUpload" end to end: Telemetry.dll from an agent install uploading through the communications stand-in to
// the server fixture, its retries heard on the install's Ostrel.dll and delivered back by the development
// scheduler, in process, at a time scale of 0.002 (the 300 s retry offset takes 0.6 s).

#include "CAgentInstall.h"
#include "CDevScheduler.h"
#include "CFakeConfigUtil.h"
#include "COstrelTap.h"
#include "CPluginLibrary.h"
#include "CServerFixture.h"
#include "TestFiles.h"

#include "message/CMessageObject.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr char kUploadPrefix[] = "/data/telemetry-files/";
constexpr char kUploadPath[] = "/data/telemetry-files/op-1/upload.bin";
constexpr wchar_t kRetryTask[] = L"Scheduler.Tasks.RetryFileUpload_op-1";
constexpr unsigned long kBoundMs = 10000;
// A name with a line break must not smuggle in a header of its own.
constexpr char kMetadata[] =
    R"({"Name":"a\r\nx-injected: 1","Value":"v"},{"Name":"source","Value":"e2e"},{"Name":"kind","Value":"logs"})";
constexpr char kContentBytes[] = "line one\r\nbytes \x00\x01\xff\x7f end\r\n";
const std::string kContent(kContentBytes, sizeof kContentBytes - 1); // the NULs included, not the terminator

CHttpHeaders MetadataHeaders(const CRecordedRequest& request)
{
    CHttpHeaders found;
    for (const auto& header : request.headers)
        if (header.first.rfind("x-korvo-metadata-", 0) == 0)
            found.push_back(header);
    return found;
}

class FileUploadEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.AddComponents());
        m_file = m_install.Folder() + L"upload.bin";
        WriteBytes(m_file, kContent);
        WriteBytes(m_install.Folder() + L"Utils\\config.json",
                   R"({"Register.Register.DeviceId":"device-7","Register.Register.SiteId":"site-7",)"
                   R"("Register.Agent.TestMode":"0","Services.Defaults.Hostname":")" +
                       m_server.BaseUrl() +
                       R"(","Services.Defaults.DeviceId":"device-7","Services.Defaults.SiteId":"site-7",)"
                       R"("Services.Defaults.Product":"3","Services.Defaults.ProductVersion":"1.2.3",)"
                       R"("Services.Authorization.AuthorizationId":"auth-7","Services.Authorization.Secret":"s-7",)"
                       R"("Services.Service_TelemetryFileUpload.Type":"DataContainer",)"
                       R"("Services.Service_TelemetryFileUpload.PathPrefix":"data",)"
                       R"("Services.Service_TelemetryFileUpload.Service":"telemetry-files"})");
        m_server.StoreUploads(kUploadPrefix, m_install.Folder() + L"Received");
        StartHost();
    }

    void TearDown() override
    {
        StopHost();
        EXPECT_TRUE(m_notes.empty()) << WideToUtf8(m_notes.front());
    }

    // The plug-in, the scheduler over the kept store and its ear on the dispatcher, as the host starts them.
    void StartHost(double scale = 0.002)
    {
        ASSERT_TRUE(m_plugin.Load(m_install.Folder() + L"Plugins\\Telemetry.dll"));
        IPlugin* plugin = &m_plugin.Plugin();
        SchedulerCallbacks callbacks{[this, plugin](const std::wstring&, CMessageObject& event) {
                                         const DWORD result = plugin->ProcessEvent(&event);
                                         std::lock_guard<std::mutex> lock(m_mutex);
                                         m_answers.push_back(result);
                                     },
                                     [this](const std::wstring& text) { m_notes.push_back(text); }};
        m_scheduler = std::make_unique<CDevScheduler>(&m_store, std::set<std::wstring>{L"FileUpload"}, scale,
                                                      std::move(callbacks));
        m_scheduler->Start();
        m_tap = std::make_unique<COstrelTap>([this](const std::wstring& text) { m_scheduler->OnEvent(text); });
        std::wstring error;
        ASSERT_TRUE(m_tap->Attach(m_install.Folder(), error)) << WideToUtf8(error);
    }

    void StopHost()
    {
        if (m_scheduler)
            m_scheduler->Stop();
        m_tap.reset();
        m_scheduler.reset();
        m_plugin.Unload();
    }

    DWORD Deliver()
    {
        CMessageObject event;
        EXPECT_TRUE(event.FromUtf8Json(R"({"FileUpload":{"Filename":")" + JsonEscaped(WideToUtf8(m_file)) +
                                       R"(","OperationId":"op-1","Status":{"Code":7,"Description":"Collected"},)"
                                       R"("Metadata":[)" +
                                       kMetadata + "]}}"));
        return m_plugin.Plugin().ProcessEvent(&event);
    }

    std::vector<DWORD> Answers()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_answers;
    }

    bool TaskStored()
    {
        std::wstring value;
        return m_store.GetValue(kRetryTask, value, 0) == ERROR_SUCCESS;
    }

    CAgentInstall m_install;
    CServerFixture m_server;
    CFakeConfigUtil m_store; // the scheduler's tasks, kept across a restart of the host
    std::wstring m_file;
    std::mutex m_mutex;
    std::vector<DWORD> m_answers;      // of the scheduler's deliveries
    std::vector<std::wstring> m_notes; // what the scheduler refused (under its lock)
    CLoadedPlugin m_plugin;
    std::unique_ptr<CDevScheduler> m_scheduler;
    std::unique_ptr<COstrelTap> m_tap;
};

} // namespace

// The pending retry is kept across a restart of the host; the one after it is delivered in the same run.
TEST_F(FileUploadEndToEndTest, RefusedTwiceAcrossAHostRestartThenStoredOnTheThirdAttemptAndRemoved)
{
    StopHost();
    StartHost(0.01); // the retry comes after 3 s: the host is surely down by then
    m_server.Reply("PUT", kUploadPrefix, {503, {}, "busy", "text/plain", {}}, EPathMatch::Prefix, 2);
    EXPECT_EQ(static_cast<DWORD>(ERROR_REQ_NOT_ACCEP), Deliver());
    StopHost();
    ASSERT_TRUE(TaskStored());
    EXPECT_TRUE(Exists(m_file));

    StartHost();
    ASSERT_TRUE(m_scheduler->WaitForDue(kBoundMs));

    EXPECT_EQ(Answers(), (std::vector<DWORD>{ERROR_REQ_NOT_ACCEP, ERROR_SUCCESS}));
    const std::vector<CRecordedRequest> requests = m_server.Requests();
    ASSERT_EQ(3u, requests.size());
    for (const CRecordedRequest& request : requests)
        EXPECT_EQ(kUploadPath, request.path);
    EXPECT_TRUE(requests[0].storedFile.empty() && requests[1].storedFile.empty());
    ASSERT_FALSE(requests[2].storedFile.empty());
    EXPECT_EQ(kContent, ReadBytes(requests[2].storedFile));
    EXPECT_EQ(MetadataHeaders(requests[2]), (CHttpHeaders{{"x-korvo-metadata-kind", "logs"},
                                                          {"x-korvo-metadata-source", "e2e"},
                                                          {"x-korvo-metadata-status-code", "7"},
                                                          {"x-korvo-metadata-status-desc", "Collected"}}));
    EXPECT_FALSE(requests[2].HasHeader("x-injected"));
    EXPECT_EQ("op-1", requests[2].Header("x-operation-id"));
    EXPECT_FALSE(Exists(m_file));
    EXPECT_FALSE(TaskStored());
}
