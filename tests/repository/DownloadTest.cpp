// The download source, the classification of download outcomes, and single-file downloads through the real
// communications component against the server fixture, where every outcome happens on the wire.

#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CServerFixture.h"
#include "TestFiles.h"

#include "comms/WebApiResponse.h"
#include "host/CConfigHelper.h"
#include "host/ILogService.h"
#include "host/InstallLocations.h"
#include "platform/CUniqueHandle.h"
#include "platform/TextUtil.h"
#include "repository/CDownloadSource.h"
#include "repository/DownloadFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

using Repository::CFileDownloader;
using Repository::DownloadResult;

struct CRecordingLog : ILogService
{
    std::vector<std::wstring> lines;
    void Write(DWORD level, const wchar_t* text) override { lines.push_back(std::to_wstring(level) + L" " + text); }
};

// Notes what the download does with it, in order.
struct CTestFile : IDownloadableFile
{
    std::wstring url = L"http://files.test/pkg/a.bin";
    DWORD size = 0;
    std::wstring stored;
    bool verifies = true;
    std::string calls, verifiedBody;
    std::wstring committedDate;

    void SetUrl(const std::wstring& to) override { url = to; }
    std::wstring GetFullUrl() const override { return url; }
    std::wstring GetRepositoryUrl() const override { return url; }
    DWORD GetSize() const override { return size; }
    std::wstring GetLastModified() const override { return stored; }
    bool IsDownloaded() const override { return false; }
    bool VerifyDownload(const std::wstring& path) override
    {
        calls += "verify ";
        verifiedBody = ReadBytes(path);
        return verifies;
    }
    void CommitDownload(const std::wstring&, const std::wstring& date) override
    {
        calls += "commit ";
        committedDate = date;
    }
    void OnNotModified() override { calls += "not-modified "; }
    void SetLastError(DWORD error) override { calls += "error " + std::to_string(error) + " "; }
    DWORD GetLastError() const override { return 0; }
    bool Reserved8() const override { return false; }
    bool Reserved9() const override { return false; }
    bool CanDownloadDirect() const override { return true; }
    bool CanRequestFromRepository() const override { return true; }
    bool IsUnscoped() const override { return false; }
};

TEST(CDownloadSourceTest, ResolveUrlJoinsBaseAndPathWithOneSlash)
{
    struct Row
    {
        const wchar_t* base;   // null: not configured
        const wchar_t* path;
        const wchar_t* full;
        bool resolves;
        const wchar_t* url;
    } rows[] = {
        {L"http://repo.test/files/", L"/pkg/a.bin", L"", true, L"http://repo.test/files/pkg/a.bin"},
        {L"http://repo.test/files", L"pkg/a.bin", L"", true, L"http://repo.test/files/pkg/a.bin"},
        {L"http://repo.test/files/", L"pkg/a.bin", L"", true, L"http://repo.test/files/pkg/a.bin"},
        {L"http://repo.test/files", L"/pkg/a.bin", L"http://cdn.test/a", true, L"http://repo.test/files/pkg/a.bin"},
        {L"http://repo.test/files", L"", L"http://cdn.test/a", true, L"http://cdn.test/a"},
        {nullptr, L"pkg/a.bin", L"http://cdn.test/a", true, L"http://cdn.test/a"},
        {L"", L"pkg/a.bin", L"", false, L"untouched"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(WideToUtf8(std::wstring(row.base ? row.base : L"(none)") + L" + " + row.path));
        CFakeConfigUtil config;
        if (row.base != nullptr)
            config.Set(L"Communications.Defaults.FileRepositoryBase", row.base);
        std::wstring url = L"untouched";
        EXPECT_EQ(CDownloadSource(&config).ResolveUrl(row.full, row.path, url), row.resolves);
        EXPECT_EQ(url, row.url);
    }
}

TEST(ClassifyDownloadResultTest, TransportStatusThenHttpStatusDecide)
{
    struct Row
    {
        DWORD status, http;
        DownloadResult result;
        DWORD error;
        const wchar_t* lastModified;
    } rows[] = {
        {0, 200, DownloadResult::Downloaded, 0, L"Wed, 01 May 2024 09:03:07 GMT"},
        {ERROR_CONTINUE, 200, DownloadResult::Downloaded, 0, L"Wed, 01 May 2024 09:03:07 GMT"},
        {ERROR_ACCESS_DENIED, 200, DownloadResult::TransportError, ERROR_ACCESS_DENIED, L"kept"},
        {ERROR_INTERNAL_ERROR, 0, DownloadResult::TransportError, ERROR_INTERNAL_ERROR, L"kept"},
        {12030, 0, DownloadResult::TransportError, 12030, L"kept"},
        {ERROR_CONTINUE, 304, DownloadResult::NotModified, 304, L"kept"},
        {ERROR_CONTINUE, 404, DownloadResult::ClientError, 404, L"kept"},
        {ERROR_BAD_NET_RESP, 302, DownloadResult::ClientError, 302, L"kept"},
        {ERROR_CONTINUE, 503, DownloadResult::ServerError, 503, L"kept"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::to_string(row.status) + " / HTTP " + std::to_string(row.http));
        WebApiResponse response(nullptr);
        response.SetResult(SYSTEMTIME{}, row.http, nullptr, 0);
        response.AddHeader(L"Last-Modified", L"Wed, 01 May 2024 09:03:07 GMT");
        response.AddHeader(L"last-modified", L"the name's case differs");
        DWORD error = 77;
        std::wstring lastModified = L"kept";
        EXPECT_EQ(Repository::ClassifyDownloadResult(row.status, response, error, lastModified), row.result);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(lastModified, row.lastModified);
    }
}

// An agent install with the real communications component, its own data folder, and the fixture serving
// the files of a folder below /files/.
class DownloadFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const wchar_t* library : {L"Quillon.dll", L"QuillonLC.dll"})
            ASSERT_TRUE(m_install.Add(library, L"Utils"));
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName",
                                            L"Download Test " + std::to_wstring(::GetCurrentProcessId())));
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        m_served = m_install.Folder() + L"served\\";
        ASSERT_TRUE(::CreateDirectoryW(m_served.c_str(), nullptr));
        WriteBytes(m_served + L"a.bin", "package bytes");
        m_server.ServeFiles("/files/", m_served);
        m_config.Set(L"Register.Agent.TestMode", L"1");
    }

    void TearDown() override
    {
        // Nothing of any download is left behind.
        WIN32_FIND_DATAW found{};
        EXPECT_FALSE(CFindHandle(::FindFirstFileW((m_data + L"Downloads\\Temp\\*.tmp*").c_str(), &found)));
        EXPECT_TRUE(RemoveTree(m_company));
    }

    DownloadResult Download(const std::wstring& path, CTestFile& file, bool fromRepository)
    {
        CFileDownloader downloader(&m_config, m_writer, nullptr);
        if (m_freeSpace >= 0)
            downloader.SetFreeSpaceReader([this](const std::wstring& folder, ULONGLONG& free) {
                m_freeSpaceFolder = folder;
                free = static_cast<ULONGLONG>(m_freeSpace);
                return m_freeSpace > 0;
            });
        return downloader.DownloadFile(m_server.BaseUrlW() + path, file, fromRepository);
    }

    CAgentInstall m_install;
    CServerFixture m_server;
    CFakeConfigUtil m_config;
    CRecordingLog m_log;
    CLogWriter m_writer{&m_log};
    std::wstring m_company, m_data, m_served, m_freeSpaceFolder;
    long long m_freeSpace = -1;   // the real free-space read
};

TEST_F(DownloadFileTest, EveryOutcomeOnTheWire)
{
    m_server.Reply("GET", "/busy.bin", CScriptedReply{503, {}, "", "text/plain", {}});
    CScriptedReply drop;
    drop.dropConnection = true;
    m_server.Reply("GET", "/drop.bin", drop);
    CScriptedReply cut{200, {}, "package bytes", "application/octet-stream", {}};
    cut.cutBody = true;
    m_server.Reply("GET", "/cut.bin", cut);
    // The served file's date, as the server states it.
    CTestFile probe;
    ASSERT_EQ(Download(L"/files/a.bin", probe, true), DownloadResult::Downloaded);
    ASSERT_FALSE(probe.committedDate.empty());
    const std::wstring date = probe.committedDate;

    struct Row
    {
        const wchar_t* path;
        const wchar_t* stored;
        bool fromRepository, verifies;
        DownloadResult result;
        std::string calls;
        const wchar_t* loggedError;   // null: no log line
    } rows[] = {
        {L"/files/a.bin", L"", false, true, DownloadResult::Downloaded, "verify commit ", nullptr},
        {L"/files/a.bin", date.c_str(), false, true, DownloadResult::NotModified, "not-modified ", nullptr},
        {L"/files/a.bin", L"Mon, 01 Jan 2001 00:00:00 GMT", true, false, DownloadResult::Downloaded,
         "verify error 13 ", nullptr},
        {L"/files/none.bin", L"", false, true, DownloadResult::ClientError, "error 404 ", L"404"},
        {L"/files/none.bin", L"", true, true, DownloadResult::ClientError, "error 404 ", nullptr},
        {L"/busy.bin", L"", false, true, DownloadResult::ServerError, "error 503 ", L"503"},
        {L"/drop.bin", L"", true, true, DownloadResult::TransportError, "error ", nullptr},
        {L"/cut.bin", L"", false, true, DownloadResult::TransportError, "error 12030 ", L"12030"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(WideToUtf8(std::wstring(row.path) + L" since " + row.stored));
        m_server.ClearRequests();
        m_log.lines.clear();
        CTestFile file;
        file.stored = row.stored;
        file.verifies = row.verifies;
        EXPECT_EQ(Download(row.path, file, row.fromRepository), row.result);
        EXPECT_EQ(file.calls.substr(0, row.calls.size()), row.calls);
        ASSERT_EQ(m_server.RequestCount(), 1u);
        // The stored date goes back exactly as it came; without one there is no condition.
        EXPECT_EQ(m_server.Requests()[0].Header("If-Modified-Since"), WideToUtf8(row.stored));
        EXPECT_EQ(file.verifiedBody, row.result == DownloadResult::Downloaded ? "package bytes" : "");
        EXPECT_EQ(file.committedDate, file.calls == "verify commit " ? date : L"");
        std::vector<std::wstring> logged;
        if (row.loggedError != nullptr)
            logged.push_back(L"30 Download error. Url: " + m_server.BaseUrlW() + row.path + L" - Error: " +
                             row.loggedError);
        EXPECT_EQ(m_log.lines, logged);
    }
    // Test mode: every exchange left its trace file.
    WIN32_FIND_DATAW found{};
    EXPECT_TRUE(CFindHandle(::FindFirstFileW((m_data + L"Messages\\*").c_str(), &found)));
}

TEST_F(DownloadFileTest, FreeSpaceIsCheckedBeforeAnyRequest)
{
    CTestFile file;
    file.size = 5000;
    m_freeSpace = 4999;
    EXPECT_EQ(Download(L"/files/a.bin", file, false), DownloadResult::NotModified);
    EXPECT_EQ(file.calls, "error 112 ");
    EXPECT_EQ(m_log.lines, std::vector<std::wstring>{
                               L"30 Disk is full. File. http://files.test/pkg/a.bin - Free space: 4999d - "
                               L"Required Size: 5000d"});
    EXPECT_EQ(m_server.RequestCount(), 0u);
    EXPECT_EQ(m_freeSpaceFolder, m_data + L"Downloads\\Temp\\");

    // Nothing needed, nothing to check: even an unreadable free space lets it through.
    file = CTestFile();
    m_freeSpace = 0;
    EXPECT_EQ(Download(L"/files/a.bin", file, false), DownloadResult::Downloaded);
    EXPECT_EQ(file.calls, "verify commit ");

    // The real read, on a volume with room for a small file.
    file = CTestFile();
    file.size = 13;
    m_freeSpace = -1;
    EXPECT_EQ(Download(L"/files/a.bin", file, false), DownloadResult::Downloaded);
}

TEST_F(DownloadFileTest, ProxyRoutesOnlyForDirectDownloads)
{
    CServerFixture proxy;
    m_config.Set(L"Proxy.Default.FallbackList",
                 L"{\"ProxyConfig\":[{\"source\":\"explicit\",\"proxyList\":\"" + Utf8ToWide(proxy.HostAndPort()) +
                     L"\"}]}");
    CTestFile direct, fromRepository;
    EXPECT_EQ(Download(L"/files/a.bin", direct, false), DownloadResult::Downloaded);
    EXPECT_EQ(proxy.RequestCount(), 1u);
    EXPECT_EQ(Download(L"/files/a.bin", fromRepository, true), DownloadResult::Downloaded);
    EXPECT_EQ(proxy.RequestCount(), 1u);
    EXPECT_EQ(m_server.RequestCount(), 2u);
}

} // namespace
