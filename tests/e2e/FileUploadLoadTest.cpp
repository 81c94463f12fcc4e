// "FileUpload" under load: the real Telemetry.dll from an agent install, four host threads delivering events
// for distinct files, a server fixture that drops, fails and delays answers, and the development scheduler in
// this process (a thousandth of a second for each second) delivering the retries the plug-in raises.

#include "CAgentInstall.h"
#include "CDevScheduler.h"
#include "COstrelTap.h"
#include "CPluginLibrary.h"
#include "CServerFixture.h"
#include "ModuleExport.h"
#include "TestFiles.h"

#include "host/IPlugin.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace
{
constexpr char kUploadPath[] = "/data/Service_TelemetryFileUpload/";
constexpr std::wstring_view kRetryTask = L"RetryFileUpload_";
} // namespace

TEST(FileUploadLoadTest, EveryFileIsStoredOnceOrFailsThreeTimesAndUploadsNeverOverlap)
{
    CAgentInstall install;
    ASSERT_TRUE(install.AddComponents());
    std::atomic<int> running{0}; // uploads at the server: the fixture's handler counts them
    std::atomic<bool> overlapped{false};
    CServerFixture server;
    WriteBytes(install.Folder() + L"Utils\\config.json",
               "{\"Services.Defaults.Hostname\":\"" + server.BaseUrl() +
                   "\",\"Services.Defaults.PathPrefix\":\"data\",\"Services.Defaults.DeviceId\":\"device-7\","
                   "\"Services.Defaults.SiteId\":\"site-7\",\"Services.Defaults.Product\":\"7\","
                   "\"Services.Service_TelemetryFileUpload.Type\":\"DataContainer\","
                   "\"Services.Service_TelemetryFileUpload.Service\":\"Service_TelemetryFileUpload\","
                   "\"Services.Authorization.AuthorizationId\":\"id-7\",\"Services.Authorization.Secret\":\"s-7\"}");
    // The plug-in loads the communications component for each upload: our reference keeps it mapped and lets
    // us read its count of objects handed out.
    const CModule quillon = LoadLibraryAt(install.Folder() + L"Utils\\Quillon.dll");
    const auto outstanding = ModuleExport<DWORD (*)()>(quillon.Get(), "QuillonOutstandingObjects");
    ASSERT_TRUE(outstanding != nullptr);
    CLoadedPlugin plugin;
    ASSERT_TRUE(plugin.Load(install.Folder() + L"Plugins\\Telemetry.dll"));

    // An event that arrives while another upload runs waits for it: none may be turned away.
    std::mutex mutex;
    std::map<std::wstring, std::vector<DWORD>> results; // for each operation, in delivery order
    const auto deliver = [&](const std::wstring& operationId, CMessageObject& event) {
        const DWORD result = plugin.Plugin().ProcessEvent(&event);
        const std::lock_guard<std::mutex> lock(mutex);
        results[operationId].push_back(result);
    };

    // The handler holds each upload a little while, so that two running together would be seen.
    server.ReplyWith("PUT", kUploadPath, EPathMatch::Prefix, [&](const CRecordedRequest&) {
        if (++running > 1)
            overlapped = true;
        ::Sleep(2);
        --running;
        return CScriptedReply{200, {}, {}, "text/plain", {}};
    });
    // seed 13: a fifth dropped, a quarter 5xx, a fifth delayed up to 30 ms
    server.InjectFaults(CFaultPlan{13, 0.2, 0.25, 0.2, std::chrono::milliseconds(30)});

    std::atomic<int> tasksAdded{0};
    CDevScheduler scheduler(nullptr, {}, 0.001,
                            {[&](const std::wstring& taskId, CMessageObject& event) {
                                 ASSERT_EQ(taskId.rfind(kRetryTask, 0), 0u) << taskId;
                                 deliver(taskId.substr(kRetryTask.size()), event);
                             },
                             [](const std::wstring& text) { ADD_FAILURE() << std::string(text.begin(), text.end()); }});
    scheduler.Start();
    COstrelTap tap([&](const std::wstring& text) {
        tasksAdded += text.find(L"SchedulerTaskAdd") != std::wstring::npos;
        scheduler.OnEvent(text);
    });
    std::wstring error;
    ASSERT_TRUE(tap.Attach(install.Folder(), error)) << std::string(error.begin(), error.end());

    constexpr int kThreads = 4;
    constexpr int kFilesEach = 25;
    const auto idOf = [](int t, int i) { return L"op-" + std::to_wstring(t) + L"-" + std::to_wstring(i); };
    std::map<std::wstring, std::string> contents;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kFilesEach; ++i)
            WriteBytes(install.Folder() + idOf(t, i) + L".bin",
                       contents[idOf(t, i)] = std::string(1000 + 97 * i, static_cast<char>('a' + t)));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kFilesEach; ++i)
            {
                const std::wstring id = idOf(t, i);
                CMessageObject event;
                CMessageObject* payload = event.AddObject(L"FileUpload", true);
                payload->AddString(L"Filename", install.Folder() + id + L".bin");
                payload->AddString(L"OperationId", id);
                deliver(id, event);
            }
        });
    for (auto& thread : threads)
        thread.join();
    ASSERT_TRUE(scheduler.WaitForDue(20000));
    scheduler.Stop();

    const CFaultCounts faults = server.FaultCounts();
    EXPECT_TRUE(faults.dropped > 0 && faults.serverErrors > 0 && faults.delayed > 0);
    EXPECT_FALSE(overlapped);

    std::map<std::string, std::vector<CRecordedRequest>> byName;
    for (CRecordedRequest& request : server.Requests())
    {
        ASSERT_EQ(request.path.rfind(kUploadPath, 0), 0u) << request.path;
        byName[request.path.substr(request.path.rfind('/') + 1)].push_back(std::move(request));
    }
    ASSERT_EQ(results.size(), contents.size());
    int givenUp = 0, retries = 0;
    for (const auto& [id, delivered] : results)
    {
        const std::string name = std::string(id.begin(), id.end()) + ".bin";
        SCOPED_TRACE(name);
        // Stored: failures, then one success; given up: exactly three failures. One request for each attempt,
        // each with the file's bytes, and the server accepted exactly the stored one.
        const bool stored = delivered.back() == ERROR_SUCCESS;
        std::vector<DWORD> expected(stored ? delivered.size() - 1 : 3, ERROR_REQ_NOT_ACCEP);
        expected.resize(stored ? delivered.size() : 3, ERROR_SUCCESS);
        EXPECT_LE(delivered.size(), 3u);
        EXPECT_EQ(delivered, expected);
        const auto& seen = byName[name];
        EXPECT_EQ(seen.size(), delivered.size());
        for (const CRecordedRequest& request : seen)
            EXPECT_EQ(request.body, contents[id]);
        const auto accepted = [](const CRecordedRequest& request) { return request.status / 100 == 2; };
        EXPECT_EQ(std::count_if(seen.begin(), seen.end(), accepted), stored ? 1 : 0);
        EXPECT_FALSE(Exists(install.Folder() + id + L".bin"));
        givenUp += !stored;
        retries += static_cast<int>(delivered.size()) - 1;
    }
    EXPECT_TRUE(givenUp > 0 && givenUp < static_cast<int>(results.size())); // some stored, some given up
    EXPECT_EQ(tasksAdded.load(), retries);
    EXPECT_EQ(outstanding(), 0u);
}
