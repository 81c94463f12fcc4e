// The batch downloader against real peers: Merrow repositories in the test process, listed by Pelter and
// reached through Fenrik, Yarran and Ostrel, with the server fixture as the files' own web server.

#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CMerrowRepository.h"
#include "CServerFixture.h"
#include "TestFiles.h"

#include "host/CDispatcherHelper.h"
#include "host/InstallLocations.h"
#include "platform/Digest.h"
#include "platform/FolderTree.h"
#include "platform/TextUtil.h"
#include "repository/CRepositoryBatchDownloader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace
{

using Repository::CRepositoryBatchDownloader;
using CountFn = CMerrowRepository::CountFn;

// A package's file: checked by MD5, moved into its target.
struct CBatchFile : IDownloadableFile
{
    std::wstring url, target, md5;
    DWORD size = 0, error = 0;
    bool done = false, unscoped = false;

    void SetUrl(const std::wstring& value) override { url = value; }
    std::wstring GetFullUrl() const override { return url; }
    std::wstring GetRepositoryUrl() const override { return url; }
    DWORD GetSize() const override { return size; }
    std::wstring GetLastModified() const override { return std::wstring(); }
    bool IsDownloaded() const override { return done; }
    bool VerifyDownload(const std::wstring& path) override { return Md5OfFileMatches(path, md5); }
    void CommitDownload(const std::wstring& path, const std::wstring&) override
    {
        done = ::MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
    }
    void OnNotModified() override {}
    void SetLastError(DWORD value) override { error = value; }
    DWORD GetLastError() const override { return error; }
    bool Reserved8() const override { return false; }
    bool Reserved9() const override { return false; }
    bool CanDownloadDirect() const override { return true; }
    bool CanRequestFromRepository() const override { return true; }
    bool IsUnscoped() const override { return unscoped; }
};

// The local provider is this process's loopback, whatever the computer's name.
struct CTestDownloader : CRepositoryBatchDownloader
{
    using CRepositoryBatchDownloader::CRepositoryBatchDownloader;
    bool ReadDnsName(std::wstring& name) override { return name = L"127.0.0.1", true; }
};

bool Finished(CRepositoryBatchDownloader& downloader)
{
    std::uint32_t wait = 7;
    return downloader.GetRetryWait(wait) && wait == 0;
}

class BatchDownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.AddComponents());
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName", L"Batch " + std::to_wstring(::GetCurrentProcessId())) &&
                    m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        for (const wchar_t* folder : {L"Peer", L"Served", L"Target"})
            ASSERT_EQ(MakeFolderTree(Folder(folder)), ERROR_SUCCESS);
        ASSERT_TRUE(m_install.Add(L"Merrow.dll", L"Peer"));
        m_server.ServeFiles("/pkg/", Folder(L"Served"));
        m_config.Set(L"Register.Register.DeviceId", L"device-1");
        m_config.Set(L"Register.Register.SiteId", L"site-1");
    }

    void TearDown() override
    {
        CDispatcherHelper::Instance().UnloadDispatcher();
        // Removed only when empty: no temporary file is left behind.
        EXPECT_TRUE(::RemoveDirectoryW((m_data + L"Downloads\\Temp").c_str()));
        EXPECT_TRUE(RemoveTree(m_company));
    }

    std::wstring Folder(const wchar_t* name) const { return m_install.Folder() + name + L"\\"; }
    template <typename Fn>
    Fn Utility(const wchar_t* library, const char* name) const   // kept loaded: its counters outlive each use
    {
        return ModuleExport<Fn>(::LoadLibraryW((Folder(L"Utils") + library).c_str()), name);
    }

    // Files served under /pkg/, each with its own bytes, and copied to the repositories named; a query
    // lengthens their URLs.
    void MakeFiles(std::size_t count, std::size_t size, std::vector<const wchar_t*> repositories = {},
                   const std::wstring& query = {})
    {
        for (const wchar_t* repository : repositories)
            ASSERT_EQ(MakeFolderTree(Folder(repository) + L"Telemetry\\pkg"), ERROR_SUCCESS);
        for (std::size_t i = m_files.size(), end = i + count; i < end; ++i)
        {
            const std::wstring name = L"f" + std::to_wstring(i) + L".bin";
            std::string bytes = WideToUtf8(name) + std::string(size, static_cast<char>('a' + i % 26));
            bytes.resize(size);
            auto file = std::make_unique<CBatchFile>();
            file->url = m_server.BaseUrlW() + L"/pkg/" + name + query;
            file->target = Folder(L"Target") + name;
            file->size = static_cast<DWORD>(size);
            EXPECT_EQ(Md5HexOfBuffer(bytes.data(), bytes.size(), file->md5), ERROR_SUCCESS);
            WriteBytes(Folder(L"Served") + name, bytes);
            for (const wchar_t* repository : repositories)
                WriteBytes(Folder(repository) + L"Telemetry\\pkg\\" + name, bytes);
            m_list.push_back(file.get());
            m_files.push_back(std::move(file));
        }
    }

    // Pelter's peers, in order; the port Fenrik and Yarran reach a bare address on; the local server (0: off).
    void SetPeers(const std::vector<int>& ports, int requestPort, int localPort = 0, const std::string& extra = {})
    {
        std::string config = R"({"Pelter.Repository.Providers":[)";
        for (int port : ports)
            config += R"({"Address":"127.0.0.1","DeviceId":"peer","Port":)" + std::to_string(port) + "},";
        const std::string requests = std::to_string(requestPort);
        WriteBytes(Folder(L"Utils") + L"config.json", config + R"({}],"Fenrik.RepositoryPort":)" + requests +
                                                          R"(,"Yarran.RepositoryPort":)" + requests + extra + "}");
        m_config.Set(L"Repository.Server.Settings", L"{\"Enabled\":" + std::wstring(localPort ? L"true" : L"false") +
                                                        L",\"Port\":" + std::to_wstring(localPort) + L"}");
    }

    std::unique_ptr<CTestDownloader> MakeDownloader(std::uint32_t directEveryAttempt)
    {
        return std::make_unique<CTestDownloader>(&m_list, nullptr, nullptr, &m_config, directEveryAttempt, L"Telemetry");
    }

    std::size_t Committed() const
    {
        std::size_t committed = 0;
        for (const auto& file : m_files)
            committed += file->done && Md5OfFileMatches(file->target, file->md5) ? 1 : 0;
        return committed;
    }

    CAgentInstall m_install;
    CServerFixture m_server;
    CFakeConfigUtil m_config;
    std::wstring m_company, m_data;
    std::vector<std::unique_ptr<CBatchFile>> m_files;
    CRepositoryBatchDownloader::Files m_list;
};

TEST(CRepositoryBatchDownloaderTest, ProviderUrlPutsAddressPortAndScopeBeforeTheRepositoryPath)
{
    CBatchFile file;   // rows: repository URL, unscoped, provider port, the URL at the provider
    const std::tuple<const wchar_t*, bool, std::uint32_t, const wchar_t*> rows[] = {
        {L"https://cdn.test/pkg/a.bin", false, 0, L"http://peer/Telemetry/pkg/a.bin"},
        {L"https://cdn.test/pkg/a.bin", true, 8080, L"http://peer:8080/pkg/a.bin"},
        {L"cdn.test/b.bin", false, 80, L"http://peer:80/Telemetry/b.bin"}};
    for (const auto& [url, unscoped, port, expected] : rows)
    {
        file.url = url;
        file.unscoped = unscoped;
        EXPECT_EQ(CRepositoryBatchDownloader::ProviderUrl(CAgentServiceProvider(L"peer", port), L"Telemetry", file),
                  expected);
    }
}

// No component is reached: the settings, the retry waits and the saved state alone.
TEST(CRepositoryBatchDownloaderTest, SettingsRetryWaitsAndState)
{
    CBatchFile pending;
    const CRepositoryBatchDownloader::Files files{&pending}, none;
    // Setting, its value (null: unset), attempts made, the wait (-1: finished). Three retries by default: a
    // fourth attempt is still made, a fifth not.
    const std::tuple<const wchar_t*, const wchar_t*, std::int64_t, long long> rows[] = {
        {L"WaitOnRetry", nullptr, 0, 300}, {L"WaitOnRetry", nullptr, 3, 300}, {L"WaitOnRetry", nullptr, 4, -1},
        {L"WaitOnRetry", L"0", 1, 0},      {L"WaitOnRetry", L"abc", 1, 300},  {L"WaitOnRetry", L"4294967297", 1, 1},
        {L"WaitOnRetry", L"99999999999999999999", 1, 300},                   {L"MaxRetries", L"0", 1, -1}};
    for (const auto& [key, value, attempts, expected] : rows)
    {
        CFakeConfigUtil config;
        if (value != nullptr)
            config.Set(std::wstring(L"Repository.BatchDownload.") + key, value);
        CRepositoryBatchDownloader downloader(&files, nullptr, nullptr, &config, 0, L"Telemetry");
        CMessageObject state;
        state.AddInt64(L"RetryCount", attempts);
        ASSERT_TRUE(downloader.LoadState(state));
        EXPECT_FALSE(downloader.LoadState(CMessageObject()));
        std::uint32_t wait = 77;
        EXPECT_EQ(downloader.GetRetryWait(wait), expected < 0) << key << "=" << (value ? value : L"") << " " << attempts;
        EXPECT_EQ(wait, expected < 0 ? 0u : static_cast<std::uint32_t>(expected)) << key << " " << attempts;
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
    m_config.Set(L"Repository.BatchDownload.WaitForRequestedFiles", L"0");   // ignored: 180 stays

    // directEveryAttempt, Fenrik refuses, the local server is the provider
    for (const auto& [direct, refused, toLocal] : {std::tuple{1u, false, false}, std::tuple{0u, false, false},
                                                   std::tuple{0u, true, false}, std::tuple{0u, false, true}})
    {
        SCOPED_TRACE(std::to_string(direct) + (refused ? " refused" : "") + (toLocal ? " local" : ""));
        CMerrowRepository& provider = toLocal ? local : peer;
        RemoveTree(Folder(toLocal ? L"LocalRepository" : L"PeerRepository"));
        for (const auto& file : m_files)
            file->done = ::DeleteFileW(file->target.c_str()) && false;
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
        EXPECT_TRUE(!refused || received.find(LR"("parameters":"{\"SiteId\":\"site-1\"}")") != std::wstring::npos);
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
    downloader->SetCancelCallback([this] { return Committed() > 0; });
    EXPECT_TRUE(downloader->Download());
    EXPECT_TRUE(downloader->IsCancelled());
    EXPECT_EQ(Committed(), 1u);
    EXPECT_EQ(m_server.RequestCount(), 1u);
    EXPECT_TRUE(Finished(*downloader));
}

// Load: many files from a peer that drops or fails some answers, and a web server that does the same. Each
// file ends committed with its MD5 or carrying the error number of its last try.
TEST_F(BatchDownloadTest, ManyFilesFromFailingServersEndCommittedOrWithTheirError)
{
    MakeFiles(200, 1024 * 1024, {L"PeerRepository"});
    WriteBytes(Folder(L"Peer") + L"config.json", R"({"Merrow.Fault.Seed":7,"Merrow.Fault.DropPercent":10,)"
                                                 R"("Merrow.Fault.ServerErrorPercent":10,"Merrow.Fault.RefuseContent":true})");
    m_server.InjectFaults(CFaultPlan{11, 0.2, 0.2});
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    ASSERT_NE(peer.port, 0);
    SetPeers({peer.port}, peer.port);

    EXPECT_TRUE(MakeDownloader(1)->Download());
    std::size_t failed = 0;
    for (const auto& file : m_files)
    {
        EXPECT_TRUE(file->done ? Md5OfFileMatches(file->target, file->md5) : file->error != 0) << WideToUtf8(file->url);
        failed += file->done ? 0 : 1;
    }
    EXPECT_EQ(Committed() + failed, m_files.size());
    EXPECT_GT(failed, 0u);
    EXPECT_GT(ModuleExport<CountFn>(peer.Module(), "MerrowFaultsStruck")(), 0u);
}

} // namespace
