#pragma once
// Batch downloads against real peers, for the repository suite and the end-to-end load test: an agent install
// with the stand-ins (Merrow.dll also in "Peer", for CMerrowRepository), a data folder of its own, the server
// fixture serving "Served" under /pkg/ as the files' own web server, and the files a test makes. Fixtures call
// SetUp and TearDown from theirs.

#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CServerFixture.h"
#include "CTestDownloadableFile.h"
#include "TestFiles.h"

#include "host/CDispatcherHelper.h"
#include "host/InstallLocations.h"
#include "platform/FolderTree.h"
#include "platform/TextUtil.h"
#include "repository/CRepositoryBatchDownloader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class CBatchDownloadInstall
{
public:
    // The local provider is this process's loopback, whatever the computer's name.
    struct CDownloader : Repository::CRepositoryBatchDownloader
    {
        using CRepositoryBatchDownloader::CRepositoryBatchDownloader;
        bool ReadDnsName(std::wstring& name) override
        {
            name = L"127.0.0.1";
            return true;
        }
    };

    void SetUp()
    {
        ASSERT_TRUE(m_install.AddComponents());
        ASSERT_TRUE(
            m_install.SetSetupValue(L"InitialCompanyName", L"Batch " + std::to_wstring(::GetCurrentProcessId())) &&
            m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        for (const wchar_t* folder : {L"Peer", L"Served", L"Target"})
            ASSERT_EQ(MakeFolderTree(Folder(folder)), ERROR_SUCCESS);
        ASSERT_TRUE(m_install.Add(L"Merrow.dll", L"Peer"));
        m_server.ServeFiles("/pkg/", Folder(L"Served"));
        m_config.Set(L"Register.Register.DeviceId", L"device-1");
        m_config.Set(L"Register.Register.SiteId", L"site-1");
    }

    void TearDown()
    {
        CDispatcherHelper::Instance().UnloadDispatcher();
        // Removed only when empty: no temporary file is left behind.
        EXPECT_TRUE(::RemoveDirectoryW((m_data + L"Downloads\\Temp").c_str()));
        EXPECT_TRUE(RemoveTree(m_company));
    }

    std::wstring Folder(const wchar_t* name) const { return m_install.Folder() + name + L"\\"; }

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
            auto file = std::make_unique<CTestDownloadableFile>();
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

    std::unique_ptr<CDownloader> MakeDownloader(std::uint32_t directEveryAttempt)
    {
        return std::make_unique<CDownloader>(&m_list, nullptr, nullptr, &m_config, directEveryAttempt, L"Telemetry");
    }

    // Files in their target with their MD5.
    std::size_t Committed() const
    {
        std::size_t committed = 0;
        for (const auto& file : m_files)
            committed += file->done && Md5OfFileMatches(file->target, file->md5) ? 1 : 0;
        return committed;
    }

protected:
    CAgentInstall m_install;
    CServerFixture m_server;
    CFakeConfigUtil m_config;
    std::wstring m_company, m_data;
    std::vector<std::unique_ptr<CTestDownloadableFile>> m_files;
    Repository::CRepositoryBatchDownloader::Files m_list;
};
