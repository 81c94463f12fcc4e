// The batch downloader against real peers: Merrow repositories in the test process, listed by Pelter and
// reached through Fenrik, Yarran and Ostrel, with the server fixture as the files' own web server.

#include "CBatchDownloadInstall.h"
#include "CMerrowRepository.h"
#include "TraceCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using Repository::CRepositoryBatchDownloader;
using CountFn = CMerrowRepository::CountFn;

constexpr GUID kBatchUnit = trace::ParseGuid("059c1651-6fdd-4669-b56d-18fa370ad13b");
constexpr GUID kDownloadUnit = trace::ParseGuid("e3940424-11db-4f78-8eba-8e95ebc3f65e");

bool Finished(CRepositoryBatchDownloader& downloader)
{
    std::uint32_t wait = 7;
    return downloader.GetRetryWait(wait) && wait == 0;
}

class BatchDownloadTest : public ::testing::Test, protected CBatchDownloadInstall
{
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(CBatchDownloadInstall::SetUp()); }
    void TearDown() override { CBatchDownloadInstall::TearDown(); }

    template <typename Fn>
    Fn Utility(const wchar_t* library, const char* name) const // kept loaded: its counters outlive each use
    {
        return ModuleExport<Fn>(::LoadLibraryW((Folder(L"Utils") + library).c_str()), name);
    }
};

TEST(CRepositoryBatchDownloaderTest, ProviderUrlPutsAddressPortAndScopeBeforeTheRepositoryPath)
{
    // port 0: none given.
    const struct
    {
        const wchar_t* url;
        bool unscoped;
        std::uint32_t port;
        const wchar_t* atProvider;
    } rows[] = {{L"https://cdn.test/pkg/a.bin", false, 0, L"http://peer/Telemetry/pkg/a.bin"},
                {L"https://cdn.test/pkg/a.bin", true, 8080, L"http://peer:8080/pkg/a.bin"},
                {L"cdn.test/b.bin", false, 80, L"http://peer:80/Telemetry/b.bin"}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(WideToUtf8(row.atProvider));
        CTestDownloadableFile file;
        file.url = row.url; // the repository URL
        file.unscoped = row.unscoped;
        EXPECT_EQ(CRepositoryBatchDownloader::ProviderUrl(CAgentServiceProvider(L"peer", row.port), L"Telemetry", file),
                  row.atProvider);
    }
}

// No component is reached: the settings, the retry waits and the saved state alone.
TEST(CRepositoryBatchDownloaderTest, SettingsRetryWaitsAndState)
{
    CTestDownloadableFile pending;
    const CRepositoryBatchDownloader::Files files{&pending}, none;
    // Three retries by default: a fourth attempt is still made, a fifth not. value null: unset; attempts: made
    // before; finished: no attempt is left, GetRetryWait answers true and a wait of 0.
    const struct
    {
        const wchar_t *key, *value;
        std::int64_t attempts;
        bool finished;
        std::uint32_t wait;
    } rows[] = {{L"WaitOnRetry", nullptr, 3, false, 300},     {L"WaitOnRetry", nullptr, 4, true, 0},
                {L"WaitOnRetry", L"0", 1, false, 0},          {L"WaitOnRetry", L"abc", 1, false, 300},
                {L"WaitOnRetry", L"4294967297", 1, false, 1}, {L"MaxRetries", L"0", 1, true, 0}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(WideToUtf8(std::wstring(row.key) + L"=" + (row.value ? row.value : L"<unset>") + L" after " +
                                std::to_wstring(row.attempts)));
        CFakeConfigUtil config;
        if (row.value != nullptr)
            config.Set(std::wstring(L"Repository.BatchDownload.") + row.key, row.value);
        CRepositoryBatchDownloader downloader(&files, nullptr, nullptr, &config, 0, L"Telemetry");
        CMessageObject state;
        state.AddInt64(L"RetryCount", row.attempts);
        ASSERT_TRUE(downloader.LoadState(state));
        EXPECT_FALSE(downloader.LoadState(CMessageObject()));
        std::uint32_t wait = 77;
        EXPECT_EQ(downloader.GetRetryWait(wait), row.finished);
        EXPECT_EQ(wait, row.wait);
    }
    CFakeConfigUtil config;
    CRepositoryBatchDownloader empty(&none, nullptr, nullptr, &config, 1, L"Telemetry");
    EXPECT_TRUE(empty.Download());
    EXPECT_EQ(empty.Attempts(), 0u);
}

// The local repository first, then the peers: one that is down and one that answers 503 are passed over.
TEST_F(BatchDownloadTest, ProvidersInOrderFailingOnesNotKept)
{
    MakeFiles(1, 5000, {L"PeerRepository", L"LocalRepository"});
    MakeFiles(3, 5000, {L"PeerRepository"});
    int down = 0;
    {
        CServerFixture gone;
        down = gone.Port();
    }
    CServerFixture busy;
    busy.Reply("GET", "/Telemetry/", CScriptedReply{503, {}, "busy", "text/plain"}, EPathMatch::Prefix);
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    CMerrowRepository local(Folder(L"Repository"), Folder(L"LocalRepository"));
    ASSERT_TRUE(peer.port != 0 && local.port != 0);
    SetPeers({down, busy.Port(), peer.port}, peer.port, local.port);

    const auto downloader = MakeDownloader(1);
    EXPECT_TRUE(downloader->Download());
    EXPECT_EQ(Committed(), 4u);
    EXPECT_EQ(busy.RequestCount(), 3u);
    EXPECT_EQ(m_server.RequestCount(), 0u);
    ASSERT_NE(downloader->WorkingProvider(), nullptr);
    EXPECT_EQ(downloader->WorkingProvider()->Port(), static_cast<std::uint32_t>(local.port));

    // Everything is there: the next downloader finds nothing to do after the provider loop.
    const auto again = MakeDownloader(1);
    EXPECT_TRUE(again->Download());
    EXPECT_TRUE(Finished(*again));
    EXPECT_EQ(again->Attempts(), 1u);
    EXPECT_EQ(m_server.RequestCount() + busy.RequestCount(), 3u);
}

// A provider that answers without the files is asked to fetch them: a peer through Fenrik (or Yarran when
// Fenrik refuses), the local server through Ostrel. The direct download runs on the same attempt or not.
TEST_F(BatchDownloadTest, AnsweringProviderIsAskedToFetchTheFiles)
{
    const std::size_t kSize = 400 * 1024;
    MakeFiles(3, kSize);
    const auto fenrikSent = Utility<CountFn>(L"Fenrik.dll", "FenrikSentRequests");
    const auto yarranCalls = Utility<DWORD (*)(DWORD)>(L"Yarran.dll", "YarranCalls");
    const auto yarranMessage = Utility<DWORD (*)(wchar_t*, DWORD)>(L"Yarran.dll", "YarranLastMessage");
    ASSERT_TRUE(fenrikSent && yarranCalls && yarranMessage);
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    CMerrowRepository local(Folder(L"Repository"), Folder(L"LocalRepository"));
    ASSERT_TRUE(peer.port != 0 && local.port != 0);
    m_config.Set(L"Repository.BatchDownload.WaitForRequestedFiles", L"0"); // ignored: 180 stays

    // refused: Fenrik refuses, Yarran carries the request; toLocal: the local server is the provider, not a peer.
    const struct
    {
        const char* name;
        std::uint32_t directEveryAttempt;
        bool refused, toLocal;
    } rows[] = {{"direct on the same attempt", 1, false, false},
                {"peer through Fenrik", 0, false, false},
                {"peer through Yarran", 0, true, false},
                {"local server through Ostrel", 0, false, true}};
    for (const auto& [name, direct, refused, toLocal] : rows)
    {
        SCOPED_TRACE(name);
        CMerrowRepository& provider = toLocal ? local : peer;
        RemoveTree(Folder(toLocal ? L"LocalRepository" : L"PeerRepository"));
        for (const auto& file : m_files)
        {
            ::DeleteFileW(file->target.c_str());
            file->done = false;
        }
        SetPeers(toLocal ? std::vector<int>{} : std::vector<int>{peer.port}, peer.port, toLocal ? local.port : 0,
                 refused ? R"(,"Fenrik.Fault.Refuse":true)" : "");
        const DWORD sentBefore = fenrikSent(), discoveryBefore = yarranCalls(6);

        const auto downloader = MakeDownloader(direct);
        EXPECT_TRUE(downloader->Download());
        ASSERT_NE(downloader->WorkingProvider(), nullptr);
        EXPECT_EQ(downloader->WorkingProvider()->Port(), static_cast<std::uint32_t>(provider.port));
        EXPECT_EQ(fenrikSent() - sentBefore, toLocal ? 0u : 1u);
        EXPECT_EQ(yarranCalls(6) - discoveryBefore, refused ? 1u : 0u);
        std::wstring received(8192, L'\0');
        received.resize(yarranMessage(&received[0], static_cast<DWORD>(received.size())));
        if (refused) // Yarran carried the request with the site's parameters
        {
            EXPECT_NE(received.find(LR"("parameters":"{\"SiteId\":\"site-1\"}")"), std::wstring::npos)
                << WideToUtf8(received);
        }
        ASSERT_TRUE(provider.waitIdle(20000));
        if (direct == 1)
        {
            EXPECT_EQ(Committed(), 3u);
            EXPECT_TRUE(Finished(*downloader));
            continue;
        }
        EXPECT_EQ(Committed(), 0u);
        std::uint32_t wait = 0;
        EXPECT_FALSE(downloader->GetRetryWait(wait));
        EXPECT_EQ(wait, 180u + 3 * kSize / 1024 / 512);

        // The next attempt, by a downloader restored from the saved state, takes the files from the provider.
        CMessageObject state;
        EXPECT_TRUE(downloader->SaveState(state));
        const auto restored = MakeDownloader(0);
        ASSERT_TRUE(restored->LoadState(state));
        const std::size_t requests = m_server.RequestCount();
        EXPECT_TRUE(restored->Download());
        EXPECT_EQ(Committed(), 3u);
        EXPECT_EQ(m_server.RequestCount(), requests);
        EXPECT_EQ(restored->Attempts(), 2u);
    }
}

// Requests whose URLs and sizes exceed the limit go as several, each of whole entries; the cancel callback
// stops before the next file.
TEST_F(BatchDownloadTest, LongRequestsSplitAndCancelStops)
{
    MakeFiles(30, 100, {}, L"?" + std::wstring(1600, L'p'));
    const auto fenrikSent = Utility<CountFn>(L"Fenrik.dll", "FenrikSentRequests");
    ASSERT_TRUE(fenrikSent);
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    ASSERT_NE(peer.port, 0);
    SetPeers({peer.port}, peer.port);
    EXPECT_TRUE(MakeDownloader(0)->Download());
    EXPECT_EQ(fenrikSent(), 2u);
    ASSERT_TRUE(peer.waitIdle(20000));
    EXPECT_EQ(ModuleExport<CountFn>(peer.Module(), "MerrowFetchedFiles")(), 30u);
    EXPECT_EQ(peer.refused(), 0u);

    SetPeers({}, 1);
    m_server.ClearRequests();
    const auto downloader = MakeDownloader(1);
    downloader->SetCancelCallback([this] { return m_server.RequestCount() > 0; });
    EXPECT_TRUE(downloader->Download());
    EXPECT_TRUE(downloader->IsCancelled());
    EXPECT_EQ(Committed(), 1u);
    EXPECT_EQ(m_server.RequestCount(), 1u);
    EXPECT_TRUE(Finished(*downloader));
}

// A file is checked on another thread while the next one downloads; a check that throws fails that file alone.
// Every outcome is known when the download returns, and no temporary file is left (TearDown).
TEST_F(BatchDownloadTest, ChecksRunBesideTheNextDownload)
{
    struct CChecked : CTestDownloadableFile
    {
        std::function<void()> check;
        bool VerifyDownload(const std::wstring& path) override
        {
            check();
            return CTestDownloadableFile::VerifyDownload(path);
        }
    };
    MakeFiles(3, 5000);
    SetPeers({}, 1);
    CChecked files[3];
    CRepositoryBatchDownloader::Files list;
    for (std::size_t i = 0; i < 3; ++i)
    {
        static_cast<CTestDownloadableFile&>(files[i]) = *m_files[i];
        list.push_back(&files[i]);
    }
    const DWORD caller = ::GetCurrentThreadId();
    files[0].check = [&] {
        EXPECT_NE(::GetCurrentThreadId(), caller);
        for (int wait = 0; wait < 1000 && m_server.RequestCount() < 2; ++wait)
            ::Sleep(10);
        EXPECT_EQ(m_server.RequestCount(), 2u);
    };
    files[1].check = [] { throw std::runtime_error("no check"); };
    files[2].check = [] {};
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose, kTraceFlagEvents);

    CDownloader downloader(&list, nullptr, nullptr, &m_config, 1, L"Telemetry");
    EXPECT_TRUE(downloader.Download());
    EXPECT_TRUE(files[0].done && files[2].done);
    EXPECT_FALSE(files[1].done);
    EXPECT_EQ(files[1].error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_TRUE(capture.Has(kDownloadUnit, 22));
}

// Without the agent-services component no provider is listed, and without the communications component nothing
// arrives. A downloader restored after its first attempt goes back to its provider and, while retries are left,
// waits for the files requested there; on the last attempt it takes them from their own server.
TEST_F(BatchDownloadTest, MissingComponentsAndRestoredAttempts)
{
    MakeFiles(2, 100);
    SetPeers({}, 1);
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose, kTraceFlagEvents);
    ASSERT_TRUE(m_install.Remove(L"Plugins", L"Pelter.dll") && m_install.Remove(L"Utils", L"Quillon.dll"));
    EXPECT_TRUE(MakeDownloader(1)->Download());
    EXPECT_EQ(Committed(), 0u);
    EXPECT_TRUE(capture.Has(kBatchUnit, 14) && capture.Has(kBatchUnit, 22));
    ASSERT_TRUE(m_install.Add(L"Quillon.dll", L"Utils"));

    // Port 1: the provider that took the request is gone.
    for (const auto& [attempts, committed] : {std::pair{L"1", 0u}, {L"3", 2u}})
    {
        SCOPED_TRACE(WideToUtf8(attempts));
        CMessageObject state;
        ASSERT_TRUE(state.FromJson(std::wstring(L"{\"RetryCount\":") + attempts +
                                   L",\"Repository\":{\"Address\":\"127.0.0.1\",\"Port\":1}}"));
        const auto downloader = MakeDownloader(0);
        ASSERT_TRUE(downloader->LoadState(state));
        EXPECT_TRUE(downloader->Download());
        EXPECT_EQ(Committed(), committed);
        EXPECT_EQ(m_server.RequestCount(), committed);
    }
}

} // namespace
