// The download source, the classification of download outcomes, and single-file downloads through the real
// communications component against the server fixture, where every outcome happens on the wire.

#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CServerFixture.h"
#include "CTestDownloadableFile.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "comms/WebApiResponse.h"
#include "host/InstallLocations.h"
#include "platform/CUniqueHandle.h"
#include "platform/FolderTree.h"
#include "platform/TextUtil.h"
#include "repository/CDownloadSource.h"
#include "repository/DownloadFile.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using Repository::DownloadResult;

constexpr GUID kDownloadUnit = trace::ParseGuid("e3940424-11db-4f78-8eba-8e95ebc3f65e");

// Notes what the download does with it, in order; lastModified is the date stored from an earlier download.
struct CTestFile : CTestDownloadableFile
{
    bool verifies = true;
    std::string calls, body; // body: what was verified
    std::wstring committed;  // the server's date handed to the commit

    CTestFile() { url = L"http://files.test/pkg/a.bin"; }
    void SetUrl(const std::wstring&) override {}
    bool VerifyDownload(const std::wstring& path) override
    {
        calls += "verify ";
        body = ReadBytes(path);
        return verifies;
    }
    void CommitDownload(const std::wstring&, const std::wstring& date) override
    {
        calls += "commit ";
        committed = date;
    }
    void OnNotModified() override { calls += "not-modified "; }
    void SetLastError(DWORD value) override { calls += "error " + std::to_string(value) + " "; }
};

TEST(CDownloadSourceTest, ResolveUrlJoinsBaseAndPathWithOneSlash)
{
    const std::wstring joined = L"http://repo.test/files/pkg/a.bin", full = L"http://cdn.test/a", none = L"untouched";
    const wchar_t *base = L"http://repo.test/files", *slash = L"http://repo.test/files/";
    // base null: not configured; resolved none: ResolveUrl answers false and leaves the URL alone.
    const struct
    {
        const wchar_t *base, *path;
        std::wstring fullUrl, resolved;
    } rows[] = {
        {slash, L"/pkg/a.bin", L"", joined}, {base, L"pkg/a.bin", L"", joined}, {slash, L"pkg/a.bin", L"", joined},
        {base, L"/pkg/a.bin", full, joined}, {base, L"", full, full},           {nullptr, L"pkg/a.bin", full, full},
        {L"", L"pkg/a.bin", L"", none}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(
            WideToUtf8(std::wstring(row.base ? row.base : L"<unset>") + L" + " + row.path + L" | " + row.fullUrl));
        CFakeConfigUtil config;
        if (row.base != nullptr)
            config.Set(L"Communications.Defaults.FileRepositoryBase", row.base);
        std::wstring url = none;
        EXPECT_EQ(CDownloadSource(&config).ResolveUrl(row.fullUrl, row.path, url), row.resolved != none);
        EXPECT_EQ(url, row.resolved);
    }
}

// What the wire below cannot produce: statuses of the component that leave the HTTP status to decide or not.
TEST(ClassifyDownloadResultTest, TransportStatusThenHttpStatusDecide)
{
    const std::wstring date = L"Wed, 01 May 2024 09:03:07 GMT";
    // status: the component's.
    const struct
    {
        DWORD status, http;
        DownloadResult result;
        DWORD error;
    } rows[] = {{ERROR_CONTINUE, 200, DownloadResult::Downloaded, 0},
                {ERROR_ACCESS_DENIED, 200, DownloadResult::TransportError, ERROR_ACCESS_DENIED},
                {ERROR_CONTINUE, 0, DownloadResult::TransportError, ERROR_CONTINUE},
                // Success without an answer is a failure all the same.
                {ERROR_SUCCESS, 0, DownloadResult::TransportError, ERROR_BAD_NET_RESP}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.status);
        WebApiResponse response(nullptr);
        response.SetResult(SYSTEMTIME{}, row.http, nullptr, 0);
        response.AddHeader(L"last-modified", L"another name");
        response.AddHeader(L"Last-Modified", date);
        DWORD error = 77;
        std::wstring lastModified = L"kept";
        EXPECT_EQ(Repository::ClassifyDownloadResult(row.status, response, error, lastModified), row.result);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(lastModified, row.result == DownloadResult::Downloaded ? date : L"kept");
    }
}

// An agent install with the real communications component, a data folder of its own, and the fixture serving
// the files of a folder below /files/. No test leaves anything in the temporary folder.
class DownloadFileTest : public ::testing::Test, public ILogService
{
protected:
    void Write(DWORD level, const wchar_t* text) override { m_log += std::to_wstring(level) + L" " + text + L"\n"; }

    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(L"Quillon.dll", L"Utils") && m_install.Add(L"QuillonLC.dll", L"Utils"));
        const std::wstring company = L"Download Test " + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName", company) &&
                    m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        WriteBytes(m_install.Folder() + L"a.bin", "package bytes");
        m_server.ServeFiles("/files/", m_install.Folder());
        m_config.Set(L"Register.Agent.TestMode", L"1");
    }

    void TearDown() override
    {
        WIN32_FIND_DATAW found{};
        EXPECT_FALSE(CFindHandle(::FindFirstFileW((m_data + L"Downloads\\Temp\\*.tmp*").c_str(), &found)));
        EXPECT_TRUE(RemoveTree(m_company));
    }

    DownloadResult Download(const std::wstring& path, CTestFile& file, bool fromRepository)
    {
        Repository::CFileDownloader downloader(&m_config, m_writer, nullptr);
        if (m_freeSpace >= 0)
            downloader.SetFreeSpaceReader([this](const std::wstring&, ULONGLONG& free) {
                free = static_cast<ULONGLONG>(m_freeSpace);
                return m_freeSpace > 0; // 0: unreadable
            });
        return downloader.DownloadFile(m_server.BaseUrlW() + path, file, fromRepository);
    }

    CAgentInstall m_install;
    CServerFixture m_server;
    CFakeConfigUtil m_config;
    std::wstring m_log; // the agent log
    CLogWriter m_writer{this};
    std::wstring m_company, m_data;
    long long m_freeSpace = -1; // the real free-space read
};

// Direct downloads take the configured proxy (the second fixture forwards them), repository ones do not.
TEST_F(DownloadFileTest, EveryOutcomeOnTheWire)
{
    CServerFixture proxy;
    m_config.Set(L"Proxy.Default.FallbackList", L"{\"ProxyConfig\":[{\"source\":\"explicit\",\"proxyList\":\"" +
                                                    Utf8ToWide(proxy.HostAndPort()) + L"\"}]}");
    m_server.Reply("GET", "/busy.bin", CScriptedReply{503, {}, "", "text/plain", {}});
    m_server.Reply("GET", "/cut.bin", CScriptedReply{200, {}, "package bytes", "text/plain", {}, false, true});
    CTestFile probe; // learns the served file's date as the server states it; free space read for real
    ASSERT_EQ(Download(L"/files/a.bin", probe, true), DownloadResult::Downloaded);

    CTestFile tooLarge; // more than the free space: 112 and the agent-log line, before any request
    tooLarge.size = 5000;
    m_freeSpace = 4999;
    EXPECT_EQ(Download(L"/files/a.bin", tooLarge, false), DownloadResult::NotModified);
    EXPECT_EQ(tooLarge.calls, "error 112 ");
    EXPECT_EQ(m_log, L"30 Disk is full. File. http://files.test/pkg/a.bin - Free space: 4999d - Required Size: "
                     L"5000d\n");
    EXPECT_EQ(m_server.RequestCount(), 1u);
    m_freeSpace = 0; // unreadable from here on: files of size 0 go through all the same

    // loggedError null: no log line.
    const struct
    {
        const wchar_t *path, *stored, *loggedError;
        bool fromRepository, verifies;
        DownloadResult result;
        std::string calls;
    } rows[] = {
        {L"/files/a.bin", L"", nullptr, false, true, DownloadResult::Downloaded, "verify commit "},
        {L"/files/a.bin", probe.committed.c_str(), nullptr, false, true, DownloadResult::NotModified, "not-modified "},
        {L"/files/a.bin", L"Mon, 01 Jan 2001 00:00:00 GMT", nullptr, true, false, DownloadResult::Downloaded,
         "verify error 13 "},
        {L"/files/none.bin", L"", L"404", false, true, DownloadResult::ClientError, "error 404 "},
        {L"/busy.bin", L"", L"503", false, true, DownloadResult::ServerError, "error 503 "},
        {L"/cut.bin", L"", nullptr, true, true, DownloadResult::TransportError, "error 12030 "}, // cut short
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(WideToUtf8(std::wstring(row.path) + L" since " + row.stored));
        m_server.ClearRequests();
        m_log.clear();
        CTestFile file;
        file.lastModified = row.stored;
        file.verifies = row.verifies;
        EXPECT_EQ(Download(row.path, file, row.fromRepository), row.result);
        EXPECT_EQ(file.calls, row.calls);
        ASSERT_EQ(m_server.RequestCount(), 1u);
        // The stored date goes back exactly as it came; without one there is no condition.
        EXPECT_EQ(m_server.Requests()[0].Header("If-Modified-Since"), WideToUtf8(row.stored));
        EXPECT_EQ(file.body, row.result == DownloadResult::Downloaded ? "package bytes" : "");
        EXPECT_EQ(file.committed, file.calls == "verify commit " ? probe.committed : L"");
        const std::wstring logLine = L"30 Download error. Url: " + m_server.BaseUrlW() + row.path + L" - Error: ";
        EXPECT_EQ(m_log, row.loggedError ? logLine + row.loggedError + L"\n" : L"");
    }
    EXPECT_EQ(proxy.RequestCount(), 4u);
    WIN32_FIND_DATAW found{}; // test mode: the exchanges left their trace files
    EXPECT_TRUE(CFindHandle(::FindFirstFileW((m_data + L"Messages\\*").c_str(), &found)));
}

// A file where the "Downloads" folder belongs: neither the folder nor a unique name can be had, so the fixed
// name in its place is tried; the download then fails on writing, nothing is committed and nothing stays.
TEST_F(DownloadFileTest, DownloadsFolderTakenByAFileFailsTheDownload)
{
    ASSERT_EQ(MakeFolderTree(m_data), static_cast<DWORD>(ERROR_SUCCESS));
    WriteBytes(m_data + L"Downloads", "");
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
    std::wstring path;
    Repository::MakeDownloadTempPath(path);
    EXPECT_EQ(path.rfind(m_data + L"Downloads\\Temp\\", 0), 0u) << WideToUtf8(path);
    EXPECT_TRUE(capture.Has(kDownloadUnit, 11) && capture.Has(kDownloadUnit, 12));

    CTestFile file;
    EXPECT_EQ(Download(L"/files/a.bin", file, true), DownloadResult::TransportError);
    EXPECT_EQ(file.calls.rfind("error ", 0), 0u) << file.calls;
    EXPECT_EQ(ReadBytes(m_data + L"Downloads"), "");
}

} // namespace
