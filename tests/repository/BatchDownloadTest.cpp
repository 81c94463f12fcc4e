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
#include "repository/CRepositoryBatchDownloader.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace
{

using Repository::CRepositoryBatchDownloader;

// A file that checks its MD5 and moves into its target, as a package's file does.
struct CBatchFile : IDownloadableFile
{
    std::wstring url, target, md5;
    DWORD size = 0, error = 0;
    bool done = false;

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
    bool IsUnscoped() const override { return false; }
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

    void EnableLocalServer(int port)
    {
        m_config.Set(L"Repository.Server.Settings", L"{\"Enabled\":true,\"Port\":" + std::to_wstring(port) + L"}");
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
    std::uint32_t wait = 7;
    EXPECT_TRUE(downloader->GetRetryWait(wait));
    EXPECT_EQ(wait, 0u);
    EXPECT_EQ(downloader->Attempts(), 1u);
}

} // namespace
