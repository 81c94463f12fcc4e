// The batch downloader against real peers: Merrow repositories in the test process, listed by Pelter and
// reached through Fenrik, Yarran and Ostrel, with the server fixture as the files' own web server.

#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CMerrowRepository.h"
#include "CServerFixture.h"
#include "TestFiles.h"

#include "host/CDispatcherHelper.h"
#include "host/InstallLocations.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/FolderTree.h"
#include "platform/TextUtil.h"
#include "repository/CRepositoryBatchDownloader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <tuple>
#include <memory>
#include <string>
#include <vector>

namespace
{

using Repository::CRepositoryBatchDownloader;
using CountFn = CMerrowRepository::CountFn;
using CallsFn = DWORD (*)(DWORD);
using LastMessageFn = DWORD (*)(wchar_t*, DWORD);

// Counters of a stand-in component that the test keeps loaded, so they outlive the downloader's own use.
template <typename Fn>
Fn Export(const wchar_t* path, const char* name)
{
    const HMODULE module = ::LoadLibraryW(path);
    return module == nullptr ? nullptr : ModuleExport<Fn>(module, name);
}

// A file that checks its MD5 and moves into its target, as a package's file does.
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
        error = 0;
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
class CTestDownloader : public CRepositoryBatchDownloader
{
public:
    using CRepositoryBatchDownloader::CRepositoryBatchDownloader;

protected:
    bool ReadDnsName(std::wstring& name) override { return name = L"127.0.0.1", true; }
};

class BatchDownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.AddComponents());
        const std::wstring company = L"Batch Test " + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName", company) &&
                    m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        for (const wchar_t* folder : {L"Peer", L"PeerRepository", L"LocalRepository", L"Served", L"Target"})
            ASSERT_EQ(MakeFolderTree(Folder(folder)), ERROR_SUCCESS);
        ASSERT_TRUE(m_install.Add(L"Merrow.dll", L"Peer"));
        m_server.ServeFiles("/pkg/", Folder(L"Served"));
        m_config.Set(L"Register.Register.DeviceId", L"device-1");
        m_config.Set(L"Register.Register.SiteId", L"site-1");
    }

    void TearDown() override
    {
        CDispatcherHelper::Instance().UnloadDispatcher();
        EXPECT_TRUE(TempFolderEmpty());
        EXPECT_TRUE(RemoveTree(m_company));
    }

    bool TempFolderEmpty() const
    {
        WIN32_FIND_DATAW found{};
        const CFindHandle find(::FindFirstFileW((m_data + L"Downloads\\Temp\\*").c_str(), &found));
        if (!find)
            return true;
        do
            if (std::wcscmp(found.cFileName, L".") != 0 && std::wcscmp(found.cFileName, L"..") != 0)
                return false;
        while (::FindNextFileW(find.Get(), &found));
        return true;
    }

    std::wstring Folder(const wchar_t* name) const { return m_install.Folder() + name + L"\\"; }

    // count files of size bytes served by the fixture under /pkg/ (and, with copies, placed in a repository
    // folder under Telemetry\pkg\), each with its own content. pad lengthens the URLs.
    void MakeFiles(std::size_t count, std::size_t size, const std::wstring& padding = {})
    {
        for (std::size_t i = 0; i < count; ++i)
        {
            const std::wstring name = L"f" + std::to_wstring(i) + L".bin";
            std::string bytes = std::string(name.begin(), name.end()) + std::string(size, static_cast<char>('a' + i % 26));
            bytes.resize(size);
            WriteBytes(Folder(L"Served") + name, bytes);
            auto file = std::make_unique<CBatchFile>();
            file->url = m_server.BaseUrlW() + L"/pkg/" + name + (padding.empty() ? L"" : L"?" + padding);
            file->target = Folder(L"Target") + name;
            file->size = static_cast<DWORD>(size);
            EXPECT_EQ(Md5HexOfBuffer(bytes.data(), bytes.size(), file->md5), ERROR_SUCCESS);
            m_list.push_back(file.get());
            m_files.push_back(std::move(file));
        }
    }

    void PlaceInRepository(const wchar_t* repository)
    {
        ASSERT_EQ(MakeFolderTree(Folder(repository) + L"Telemetry\\pkg"), ERROR_SUCCESS);
        for (const auto& file : m_files)
        {
            const std::wstring name = file->target.substr(file->target.rfind(L'\\') + 1);
            ASSERT_TRUE(::CopyFileW((Folder(L"Served") + name).c_str(),
                                    (Folder(repository) + L"Telemetry\\pkg\\" + name).c_str(), FALSE));
        }
    }

    // The peers Pelter lists, in order, and the port Fenrik and Yarran reach a bare address on.
    void SetPeers(const std::vector<int>& ports, int requestPort, const std::string& extra = {})
    {
        std::string providers;
        for (int port : ports)
            providers += std::string(providers.empty() ? "" : ",") + R"({"Address":"127.0.0.1","Port":)" +
                         std::to_string(port) + R"(,"DeviceId":"peer-)" + std::to_string(port) + "\"}";
        const std::string config = R"({"Pelter.Repository.Providers":[)" + providers + R"(],"Fenrik.RepositoryPort":)" +
                                   std::to_string(requestPort) + R"(,"Yarran.RepositoryPort":)" +
                                   std::to_string(requestPort) + extra + "}";
        WriteBytes(Folder(L"Utils") + L"config.json", config);
    }

    // 0: the local server is off.
    void EnableLocalServer(int port)
    {
        m_config.Set(L"Repository.Server.Settings", port == 0 ? L"{\"Enabled\":false}"
                                                              : L"{\"Enabled\":true,\"Port\":" + std::to_wstring(port) + L"}");
    }

    // No further attempt is worth making.
    static bool Finished(CRepositoryBatchDownloader& downloader)
    {
        std::uint32_t wait = 7;
        return downloader.GetRetryWait(wait) && wait == 0;
    }

    std::unique_ptr<CTestDownloader> MakeDownloader(std::uint32_t directEveryAttempt)
    {
        return std::make_unique<CTestDownloader>(&m_list, nullptr, nullptr, &m_config, directEveryAttempt,
                                                 L"Telemetry");
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

TEST_F(BatchDownloadTest, FilesAtTheLocalRepositoryAreTakenFromIt)
{
    MakeFiles(3, 1000);
    PlaceInRepository(L"LocalRepository");
    CMerrowRepository local(Folder(L"Repository"), Folder(L"LocalRepository"));
    ASSERT_NE(local.port, 0);
    EnableLocalServer(local.port);
    SetPeers({}, local.port);

    const auto downloader = MakeDownloader(1);
    EXPECT_TRUE(downloader->Download());
    EXPECT_EQ(Committed(), 3u);
    EXPECT_EQ(m_server.RequestCount(), 0u);
    EXPECT_TRUE(Finished(*downloader));
    EXPECT_EQ(downloader->Attempts(), 1u);
}

TEST(CRepositoryBatchDownloaderTest, ProviderUrlPutsAddressPortAndScopeBeforeTheRepositoryPath)
{
    CBatchFile file;
    // Repository URL, unscoped, provider port, the URL at the provider.
    const std::tuple<const wchar_t*, bool, std::uint32_t, const wchar_t*> rows[] = {
        {L"https://cdn.test/pkg/a.bin", false, 18226, L"http://peer:18226/Telemetry/pkg/a.bin"},
        {L"https://cdn.test/pkg/a.bin", false, 0, L"http://peer/Telemetry/pkg/a.bin"},
        {L"https://cdn.test/pkg/a.bin", true, 0, L"http://peer/pkg/a.bin"},
        {L"cdn.test/b.bin", false, 80, L"http://peer:80/Telemetry/b.bin"},
        {L"https://cdn.test", false, 1, L"http://peer:1/Telemetry/"}};
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
    CMessageObject working;
    working.AddInt64(L"RetryCount", 1);
    working.AddObject(L"Repository", true)->AddString(L"Address", L"peer");
    // Setting, its value ("" unset), the wait after the first attempt on a working provider (-1: finished).
    const std::tuple<const wchar_t*, const wchar_t*, long long> rows[] = {
        {L"WaitOnRetry", L"", 300}, {L"WaitOnRetry", L"0", 0},  {L"WaitOnRetry", L"abc", 300},
        {L"WaitOnRetry", L" 42x", 42}, {L"WaitOnRetry", L"4294967297", 1}, {L"WaitOnRetry", L"99999999999999999999", 300},
        {L"MaxRetries", L"0", -1}};
    for (const auto& [key, value, expected] : rows)
    {
        CFakeConfigUtil config;
        if (*value != L'\0')
            config.Set(std::wstring(L"Repository.BatchDownload.") + key, value);
        CRepositoryBatchDownloader downloader(&files, nullptr, nullptr, &config, 0, L"Telemetry");
        ASSERT_TRUE(downloader.LoadState(working));
        std::uint32_t wait = 77;
        EXPECT_EQ(downloader.GetRetryWait(wait), expected < 0) << key << "=" << value;
        EXPECT_EQ(wait, expected < 0 ? 0u : static_cast<std::uint32_t>(expected)) << key << "=" << value;
    }

    CFakeConfigUtil config;
    CRepositoryBatchDownloader downloader(&files, nullptr, nullptr, &config, 0, L"Telemetry");
    EXPECT_FALSE(downloader.LoadState(CMessageObject()));
    // With three retries a fourth attempt is still made, a fifth not.
    for (std::int64_t attempts : {0, 3, 4})
    {
        CMessageObject state;
        state.AddInt64(L"RetryCount", attempts);
        ASSERT_TRUE(downloader.LoadState(state));
        std::uint32_t wait = 0;
        EXPECT_EQ(downloader.GetRetryWait(wait), attempts == 4) << attempts;
    }
    EXPECT_EQ(downloader.WorkingProvider(), nullptr);

    // An empty list is no attempt; without the agent services component no attempt can be made.
    CRepositoryBatchDownloader empty(&none, nullptr, nullptr, &config, 1, L"Telemetry");
    EXPECT_TRUE(empty.Download());
    EXPECT_EQ(empty.Attempts(), 0u);
    struct CNoAgentServices : CRepositoryBatchDownloader
    {
        using CRepositoryBatchDownloader::CRepositoryBatchDownloader;
        std::unique_ptr<IAgentServiceClient> MakeAgentServiceClient() override { return nullptr; }
    } unreachable(&files, nullptr, nullptr, &config, 1, L"Telemetry");
    EXPECT_FALSE(unreachable.Download());
    EXPECT_EQ(unreachable.Attempts(), 0u);
}

TEST_F(BatchDownloadTest, ProvidersThatFailAreNotKeptAndTheNextIsTried)
{
    MakeFiles(2, 5000);
    PlaceInRepository(L"PeerRepository");
    int down = 0;
    {
        CServerFixture gone;
        down = gone.Port();
    }
    CServerFixture busy;
    busy.Reply("GET", "/Telemetry/", CScriptedReply{503, {}, "busy", "text/plain"}, EPathMatch::Prefix);
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    ASSERT_NE(peer.port, 0);
    SetPeers({down, busy.Port(), peer.port}, peer.port);

    const auto downloader = MakeDownloader(1);
    EXPECT_TRUE(downloader->Download());
    EXPECT_EQ(Committed(), 2u);
    EXPECT_EQ(busy.RequestCount(), 2u);
    EXPECT_EQ(m_server.RequestCount(), 0u);
    ASSERT_NE(downloader->WorkingProvider(), nullptr);
    EXPECT_EQ(downloader->WorkingProvider()->Port(), static_cast<std::uint32_t>(peer.port));

    // Everything is there: the next downloader finds nothing to do after the provider loop.
    const auto again = MakeDownloader(1);
    EXPECT_TRUE(again->Download());
    EXPECT_TRUE(Finished(*again));
    EXPECT_EQ(again->Attempts(), 1u);
    EXPECT_EQ(m_server.RequestCount(), 0u);
}

// A provider that answers without the files is asked to fetch them: a peer through Fenrik (or Yarran when
// Fenrik refuses), the local server through Ostrel. The direct download runs on the same attempt or not.
TEST_F(BatchDownloadTest, AnsweringProviderIsAskedToFetchTheFiles)
{
    const std::size_t kSize = 400 * 1024;
    MakeFiles(3, kSize);
    const auto fenrikSent = Export<CountFn>((Folder(L"Utils") + L"Fenrik.dll").c_str(), "FenrikSentRequests");
    const auto yarranCalls = Export<CallsFn>((Folder(L"Utils") + L"Yarran.dll").c_str(), "YarranCalls");
    const auto yarranMessage = Export<LastMessageFn>((Folder(L"Utils") + L"Yarran.dll").c_str(), "YarranLastMessage");
    ASSERT_TRUE(fenrikSent && yarranCalls && yarranMessage);
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    CMerrowRepository local(Folder(L"Repository"), Folder(L"LocalRepository"));
    ASSERT_TRUE(peer.port != 0 && local.port != 0);
    m_config.Set(L"Repository.BatchDownload.WaitForRequestedFiles", L"0");   // ignored: 180 stays

    struct Row
    {
        std::uint32_t directEveryAttempt;
        bool fenrikRefuses, toLocal;
    };
    for (const Row row : {Row{1, false, false}, Row{0, false, false}, Row{0, true, false}, Row{0, false, true}})
    {
        SCOPED_TRACE(std::to_string(row.directEveryAttempt) + (row.fenrikRefuses ? " refused" : "") +
                     (row.toLocal ? " local" : ""));
        CMerrowRepository& provider = row.toLocal ? local : peer;
        const wchar_t* repository = row.toLocal ? L"LocalRepository" : L"PeerRepository";
        ASSERT_TRUE(RemoveTree(Folder(repository) + L"Telemetry"));
        for (const auto& file : m_files)
            file->done = ::DeleteFileW(file->target.c_str()) && false;
        EnableLocalServer(row.toLocal ? local.port : 0);
        SetPeers(row.toLocal ? std::vector<int>{} : std::vector<int>{peer.port}, peer.port,
                 row.fenrikRefuses ? ",\"Fenrik.Fault.Refuse\":true" : "");
        const DWORD sentBefore = fenrikSent(), discoveryBefore = yarranCalls(6);
        m_server.ClearRequests();

        const auto downloader = MakeDownloader(row.directEveryAttempt);
        EXPECT_TRUE(downloader->Download());
        ASSERT_NE(downloader->WorkingProvider(), nullptr);
        EXPECT_EQ(downloader->WorkingProvider()->Port(), static_cast<std::uint32_t>(provider.port));
        EXPECT_EQ(fenrikSent() - sentBefore, row.toLocal ? 0u : 1u);
        EXPECT_EQ(yarranCalls(6) - discoveryBefore, row.fenrikRefuses ? 1u : 0u);
        if (row.fenrikRefuses)
        {
            std::wstring received(8192, L'\0');
            received.resize(yarranMessage(&received[0], static_cast<DWORD>(received.size())));
            EXPECT_NE(received.find(LR"("parameters":"{\"SiteId\":\"site-1\"}")"), std::wstring::npos) << WideToUtf8(received);
        }
        ASSERT_TRUE(provider.waitIdle(20000));
        for (const auto& file : m_files)
            EXPECT_TRUE(Exists(Folder(repository) + L"Telemetry\\pkg\\" +
                               file->target.substr(file->target.rfind(L'\\') + 1)));
        if (row.directEveryAttempt == 1)
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
        EXPECT_EQ(restored->Attempts(), 1u);
        const std::size_t direct = m_server.RequestCount();
        EXPECT_TRUE(restored->Download());
        EXPECT_EQ(Committed(), 3u);
        EXPECT_EQ(m_server.RequestCount(), direct);
        EXPECT_EQ(restored->Attempts(), 2u);
    }
}

TEST_F(BatchDownloadTest, LongRequestsGoAsSeveralBatchesOfWholeEntries)
{
    const std::size_t kFiles = 30;
    MakeFiles(kFiles, 100, std::wstring(1600, L'p'));
    const auto fenrikSent = Export<CountFn>((Folder(L"Utils") + L"Fenrik.dll").c_str(), "FenrikSentRequests");
    ASSERT_TRUE(fenrikSent);
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    ASSERT_NE(peer.port, 0);
    SetPeers({peer.port}, peer.port);

    const auto downloader = MakeDownloader(0);
    EXPECT_TRUE(downloader->Download());
    EXPECT_EQ(fenrikSent(), 2u);
    ASSERT_TRUE(peer.waitIdle(20000));
    EXPECT_EQ(ModuleExport<CountFn>(peer.Module(), "MerrowFetchedFiles")(), kFiles);
    EXPECT_EQ(peer.refused(), 0u);
}

TEST_F(BatchDownloadTest, CancelStopsBeforeTheNextFile)
{
    MakeFiles(3, 1000);
    SetPeers({}, 1);
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
    const std::size_t kFiles = 200, kSize = 1024 * 1024;
    MakeFiles(kFiles, kSize);
    PlaceInRepository(L"PeerRepository");
    WriteBytes(Folder(L"Peer") + L"config.json", R"({"Merrow.Fault.Seed":7,"Merrow.Fault.DropPercent":10,)"
                                                 R"("Merrow.Fault.ServerErrorPercent":10,"Merrow.Fault.RefuseContent":true})");
    CFaultPlan plan;
    plan.seed = 11;
    plan.dropShare = 0.2;
    plan.serverErrorShare = 0.2;
    m_server.InjectFaults(plan);
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    ASSERT_NE(peer.port, 0);
    SetPeers({peer.port}, peer.port);

    const auto downloader = MakeDownloader(1);
    EXPECT_TRUE(downloader->Download());
    std::size_t failed = 0;
    for (const auto& file : m_files)
    {
        if (file->done)
            EXPECT_TRUE(Md5OfFileMatches(file->target, file->md5));
        else
            EXPECT_NE(file->error, 0u) << WideToUtf8(file->url);
        failed += file->done ? 0 : 1;
    }
    EXPECT_EQ(Committed() + failed, kFiles);
    EXPECT_GT(failed, 0u);
    EXPECT_GT(ModuleExport<CountFn>(peer.Module(), "MerrowFaultsStruck")(), 0u);
}

} // namespace
