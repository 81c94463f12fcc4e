// "FileUpload" under load: the real Telemetry.dll from an agent install, four host threads delivering events
// for distinct files, a server fixture that drops, fails and delays answers, and the development scheduler in
// this process (a hundredth of a second for each second) delivering the retries the plug-in raises.

#include "CAgentInstall.h"
#include "CDevScheduler.h"
#include "COstrelTap.h"
#include "CPluginLibrary.h"
#include "CServerFixture.h"
#include "TestFiles.h"

#include "host/IPlugin.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace
{

constexpr char kUploadPath[] = "/data/Service_TelemetryFileUpload/";
constexpr std::wstring_view kRetryTask = L"RetryFileUpload_";

class FileUploadLoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.AddComponents());
        m_files = m_install.Folder() + L"Uploads\\";
        ::CreateDirectoryW(m_files.c_str(), nullptr);
        WriteBytes(m_install.Folder() + L"Utils\\config.json",
                   "{\"Services.Defaults.Hostname\":\"" + m_server.BaseUrl() +
                       "\",\"Services.Defaults.PathPrefix\":\"data\",\"Services.Defaults.DeviceId\":\"device-7\","
                       "\"Services.Defaults.SiteId\":\"site-7\",\"Services.Defaults.Product\":\"7\","
                       "\"Services.Service_TelemetryFileUpload.Type\":\"DataContainer\","
                       "\"Services.Service_TelemetryFileUpload.Service\":\"Service_TelemetryFileUpload\","
                       "\"Services.Authorization.AuthorizationId\":\"id-7\","
                       "\"Services.Authorization.Secret\":\"secret-7\"}");
        // The plug-in loads the communications component for each upload: our reference keeps it mapped and
        // lets us read its count of objects handed out.
        m_quillon.Reset(::LoadLibraryExW((m_install.Folder() + L"Utils\\Quillon.dll").c_str(), nullptr,
                                         LOAD_WITH_ALTERED_SEARCH_PATH));
        ASSERT_TRUE(m_quillon);
        m_library = std::make_unique<CPluginLibrary>(m_install.Folder() + L"Plugins\\Telemetry.dll");
        ASSERT_TRUE(m_library->IsLoaded());
        m_list = m_library->Get();
        ASSERT_TRUE(m_list != nullptr && m_list->size() == 1);
        m_plugin = (*m_list)[0].plugin;
    }

    void TearDown() override
    {
        if (m_list != nullptr)
            m_library->Free(m_list);
    }

    // An event that arrives while another upload runs waits for it: none is turned away.
    void Deliver(const std::wstring& operationId, CMessageObject& event)
    {
        const DWORD result = m_plugin->ProcessEvent(&event);
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_results[operationId].push_back(result);
    }

    DWORD QuillonOutstanding() const
    {
        using CountFn = DWORD (*)();
        const auto count = reinterpret_cast<CountFn>(
            reinterpret_cast<void (*)()>(::GetProcAddress(m_quillon.Get(), "QuillonOutstandingObjects")));
        return count != nullptr ? count() : ~0u;
    }

    CAgentInstall m_install;
    CServerFixture m_server;
    CModule m_quillon;
    std::unique_ptr<CPluginLibrary> m_library;
    PluginList* m_list = nullptr;
    IPlugin* m_plugin = nullptr;
    std::wstring m_files;
    std::mutex m_mutex;
    std::map<std::wstring, std::vector<DWORD>> m_results; // for each operation, in delivery order
};

} // namespace

TEST_F(FileUploadLoadTest, EveryFileIsStoredOnceOrFailsThreeTimesAndUploadsNeverOverlap)
{
    // The handler holds each upload a little while, so that two running together would be seen.
    std::atomic<int> running{0}, mostRunning{0};
    m_server.ReplyWith("PUT", kUploadPath, EPathMatch::Prefix, [&](const CRecordedRequest&) {
        const int now = ++running;
        int most = mostRunning.load();
        while (now > most && !mostRunning.compare_exchange_weak(most, now))
        {}
        ::Sleep(2);
        --running;
        return CScriptedReply{200, {}, {}, "text/plain", {}};
    });
    CFaultPlan plan;
    plan.seed = 13;
    plan.dropShare = 0.2;
    plan.serverErrorShare = 0.25;
    plan.delayShare = 0.2;
    plan.maxDelay = std::chrono::milliseconds(30);
    m_server.InjectFaults(plan);

    std::atomic<int> tasksAdded{0};
    CDevScheduler scheduler(nullptr, {}, 0.001,
                            {[&](const std::wstring& taskId, CMessageObject& event) {
                                 ASSERT_EQ(taskId.rfind(kRetryTask, 0), 0u) << taskId;
                                 Deliver(taskId.substr(kRetryTask.size()), event);
                             },
                             [](const std::wstring& text) { ADD_FAILURE() << std::string(text.begin(), text.end()); }});
    scheduler.Start();
    COstrelTap tap([&](const std::wstring& text) {
        tasksAdded += text.find(L"SchedulerTaskAdd") != std::wstring::npos;
        scheduler.OnEvent(text);
    });
    std::wstring error;
    ASSERT_TRUE(tap.Attach(m_install.Folder(), error)) << std::string(error.begin(), error.end());

    constexpr int kThreads = 4;
    constexpr int kFilesEach = 25;
    std::map<std::wstring, std::string> contents;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kFilesEach; ++i)
        {
            const std::wstring id = L"op-" + std::to_wstring(t) + L"-" + std::to_wstring(i);
            contents[id] = std::string(1000 + 97 * i, static_cast<char>('a' + t));
            WriteBytes(m_files + id + L".bin", contents[id]);
        }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFilesEach; ++i)
            {
                const std::wstring id = L"op-" + std::to_wstring(t) + L"-" + std::to_wstring(i);
                CMessageObject event;
                CMessageObject* payload = event.AddObject(L"FileUpload", true);
                payload->AddString(L"Filename", m_files + id + L".bin");
                payload->AddString(L"OperationId", id);
                Deliver(id, event);
            }
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(scheduler.WaitForDue(20000));
    scheduler.Stop();

    const CFaultCounts faults = m_server.FaultCounts();
    EXPECT_GT(faults.dropped, 0u);
    EXPECT_GT(faults.serverErrors, 0u);
    EXPECT_GT(faults.delayed, 0u);
    EXPECT_EQ(mostRunning.load(), 1);

    std::map<std::string, std::vector<const CRecordedRequest*>> byName;
    const std::vector<CRecordedRequest> requests = m_server.Requests();
    for (const CRecordedRequest& request : requests)
    {
        ASSERT_EQ(request.path.rfind(kUploadPath, 0), 0u) << request.path;
        byName[request.path.substr(request.path.rfind('/') + 1)].push_back(&request);
    }
    ASSERT_EQ(m_results.size(), static_cast<size_t>(kThreads * kFilesEach));
    int stored = 0, givenUp = 0, retries = 0;
    for (const auto& [id, results] : m_results)
    {
        const std::string name = std::string(id.begin(), id.end()) + ".bin";
        SCOPED_TRACE(name);
        const auto& seen = byName[name];
        const auto accepted = std::count_if(seen.begin(), seen.end(), [](const CRecordedRequest* request) {
            return request->status >= 200 && request->status <= 299;
        });
        for (const CRecordedRequest* request : seen)
            EXPECT_EQ(request->body, contents[id]);
        // One request for each attempt: the plug-in's own tries, nothing more.
        EXPECT_EQ(seen.size(), results.size());
        ASSERT_FALSE(results.empty());
        retries += static_cast<int>(results.size()) - 1;
        if (results.back() == ERROR_SUCCESS)
        {
            ++stored;
            EXPECT_EQ(accepted, 1);
            EXPECT_LE(results.size(), 3u);
            EXPECT_EQ(std::count(results.begin(), results.end(), DWORD{ERROR_REQ_NOT_ACCEP}),
                      static_cast<long>(results.size()) - 1);
        }
        else
        {
            ++givenUp;
            EXPECT_EQ(accepted, 0);
            EXPECT_EQ(results, std::vector<DWORD>(3, ERROR_REQ_NOT_ACCEP));
        }
        EXPECT_FALSE(Exists(m_files + id + L".bin"));
    }
    EXPECT_EQ(stored + givenUp, kThreads * kFilesEach);
    EXPECT_GT(givenUp, 0);
    EXPECT_EQ(tasksAdded.load(), retries);
    EXPECT_EQ(QuillonOutstanding(), 0u);
}
