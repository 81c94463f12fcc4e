// The repository's readers of outside input (settings, saved state, a download's answer, the repository base)
// fed seeded mutations of the inputs the other suites use. Fuzz.h says what each case checks.

#include "CFakeConfigUtil.h"
#include "CTestDownloadableFile.h"
#include "Fuzz.h"

#include "comms/WebApiResponse.h"
#include "platform/Path.h"
#include "platform/TextUtil.h"
#include "repository/CDiscoveryConfig.h"
#include "repository/CDownloadSource.h"
#include "repository/CRepositoryBatchDownloader.h"
#include "repository/CRepositoryServerConfig.h"
#include "repository/DownloadFile.h"

#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <tuple>

namespace
{

using Repository::DownloadResult;

// A configuration utility holding one key, with the text as JSON gave it (or as the bytes were).
void SetText(CFakeConfigUtil& util, const wchar_t* key, const std::string& utf8)
{
    std::wstring text;
    if (!BytesToWide(utf8, text, CP_UTF8))
        text.assign(utf8.begin(), utf8.end());
    util.Set(key, text);
}

std::wstring Text(const CMessageObject& object)
{
    std::wstring text;
    EXPECT_TRUE(object.Serialize(text));
    return text;
}

} // namespace

TEST(RepositoryReadersFuzzTest, ServerSettings)
{
    const std::vector<std::string> seeds = {
        R"({"Enabled":true,"Port":18300,"RepositoryPath":"D:\\Repo","MaxLogSize":2048})",
        R"({"RepositoryPath":"D:\\Repo\\","DriveLetter":"E:","Port":"18300"})",
        R"({"RepositoryPath":"\\\\host\\share","Enabled":"true"})",
        R"({})",
    };
    CFuzzRun run("repository server settings");
    run.ForEachInput([&](int) {
        CFakeConfigUtil util;
        SetText(util, L"Repository.Server.Settings", run.Json(seeds));
        Repository::CRepositoryServerConfig config(&util);
        const std::wstring path = config.RepositoryPath();
        run.Outcome(std::string(config.Enabled() ? "enabled" : "disabled") +
                    (config.Port() == Repository::kDefaultServerPort ? " default port" : " port") +
                    (path.empty() ? " no path" : " path"));
        run.Expect(path.empty() || path.back() == L'\\', "the repository path lacks its backslash");

        // Written back as settings, the same values.
        CMessageObject written;
        written.AddBool(L"Enabled", config.Enabled());
        written.AddUInt32(L"Port", config.Port());
        written.AddString(L"RepositoryPath", path);
        written.AddString(L"DriveLetter", config.DriveLetter());
        written.AddUInt32(L"MaxLogSize", config.MaxLogSize());
        CFakeConfigUtil again;
        again.Set(L"Repository.Server.Settings", Text(written));
        const Repository::CRepositoryServerConfig reread(&again);
        run.Expect(reread.Enabled() == config.Enabled() && reread.Port() == config.Port() &&
                       reread.RepositoryPath() == path && reread.MaxLogSize() == config.MaxLogSize() &&
                       (config.DriveLetter().empty() || reread.DriveLetter() == config.DriveLetter()),
                   "the settings written back read differently");
        // A reload of the same keys changes nothing.
        const std::wstring drive = config.DriveLetter();
        static_cast<void>(config.Reload());
        run.Expect(config.RepositoryPath() == path && config.DriveLetter() == drive, "a reload changed the settings");
    });
    run.ExpectClean(4);
}

TEST(RepositoryReadersFuzzTest, DiscoverySettings)
{
    const std::vector<std::string> seeds = {
        R"({"Enabled":false,"Port":21300,"DiscoveryInterval":30,"MaxProviders":8,"MaxFails":5})",
        R"({"Enabled":"false","Port":-1,"MaxProviders":4294967296})",
    };
    CFuzzRun run("discovery settings");
    run.ForEachInput([&](int) {
        CFakeConfigUtil util;
        SetText(util, L"AgentServices.Discovery.Settings", run.Json(seeds));
        const Discovery::CDiscoveryConfig config(&util);
        run.Outcome(std::string(config.Enabled() ? "enabled" : "disabled") +
                    (config.Port() == Discovery::CDiscoveryConfig::kDefaultPort ? " default port" : " port"));
        CMessageObject written;
        written.AddBool(L"Enabled", config.Enabled());
        written.AddUInt32(L"Port", config.Port());
        written.AddUInt32(L"DiscoveryInterval", config.DiscoveryInterval());
        written.AddUInt32(L"MaxProviders", config.MaxProviders());
        written.AddUInt32(L"MaxFails", config.MaxFails());
        CFakeConfigUtil again;
        again.Set(L"AgentServices.Discovery.Settings", Text(written));
        const auto fields = [](const Discovery::CDiscoveryConfig& c) {
            return std::make_tuple(c.Enabled(), c.Port(), c.DiscoveryInterval(), c.MaxProviders(), c.MaxFails());
        };
        run.Expect(fields(Discovery::CDiscoveryConfig(&again)) == fields(config),
                   "the settings written back read differently");
    });
    run.ExpectClean(3);
}

// A state that does not load leaves the downloader as it was; one that loads saves and loads again the same.
TEST(RepositoryReadersFuzzTest, BatchDownloaderState)
{
    const std::vector<std::string> seeds = {
        R"({"RetryCount":2,"Repository":{"Address":"10.0.0.5","Port":18226}})",
        R"({"RetryCount":0})",
        R"({"RetryCount":4,"Repository":{"Port":21226}})",
        R"({"Repository":{"Address":"peer"},"RetryCount":"3"})",
    };
    CTestDownloadableFile pending;
    const Repository::CRepositoryBatchDownloader::Files files{&pending};
    CFakeConfigUtil config;
    const auto make = [&] {
        return std::make_unique<Repository::CRepositoryBatchDownloader>(&files, nullptr, nullptr, &config, 0, L"Telemetry");
    };
    const auto saved = [](Repository::CRepositoryBatchDownloader& downloader) {
        CMessageObject state;
        EXPECT_TRUE(downloader.SaveState(state));
        return Text(state);
    };
    CMessageObject sentinel;
    ASSERT_TRUE(sentinel.FromUtf8Json(R"({"RetryCount":7,"Repository":{"Address":"sentinel","Port":1}})"));
    CFuzzRun run("batch downloader state");
    run.ForEachInput([&](int) {
        CMessageObject state;
        if (!state.FromUtf8Json(run.Json(seeds)))
            return run.Outcome("not JSON");
        const auto downloader = make();
        EXPECT_TRUE(downloader->LoadState(sentinel));
        const std::wstring before = saved(*downloader);
        if (!downloader->LoadState(state))
        {
            run.Outcome("refused");
            run.Expect(saved(*downloader) == before, "a refused state changed the downloader");
            return;
        }
        run.Outcome(downloader->WorkingProvider() != nullptr && downloader->WorkingProvider()->Address() != L"sentinel"
                        ? "loaded with a repository"
                        : "loaded");
        const std::wstring text = saved(*downloader);
        CMessageObject again;
        const auto reloaded = make();
        run.Expect(again.FromJson(text) && reloaded->LoadState(again) && saved(*reloaded) == text &&
                       reloaded->Attempts() == downloader->Attempts(),
                   "the state saved reads back differently");
    });
    run.ExpectClean(3);
}

// The class of a download's answer follows the HTTP status; only a 2xx answer gives its Last-Modified header.
TEST(RepositoryReadersFuzzTest, DownloadAnswer)
{
    const std::vector<std::wstring> seeds = {
        L"Last-Modified: Wed, 01 May 2024 09:03:07 GMT\r\nContent-Length: 10\r\n",
        L"HTTP/1.1 200 OK\r\nlast-modified: x\r\nLast-Modified:\r\n\r\n",
        L"Content-Type: application/octet-stream\r\nETag: \"a\"\r\n",
    };
    const DWORD statuses[] = {ERROR_SUCCESS, ERROR_SUCCESS, ERROR_INTERNAL_ERROR, ERROR_BAD_NET_RESP, ERROR_CONTINUE,
                              12002, 12029, ERROR_ACCESS_DENIED};
    const DWORD codes[] = {0, 100, 199, 200, 204, 299, 300, 304, 404, 499, 500, 599, 600, 0xffffffffu};
    CFuzzRun run("download answer");
    run.ForEachInput([&](int) {
        WebApiResponse response(nullptr);
        const DWORD status = statuses[run.Random()() % std::size(statuses)];
        const DWORD code = codes[run.Random()() % std::size(codes)];
        response.SetResult(SYSTEMTIME{}, code, nullptr, 0);
        static_cast<void>(response.ParseHeaderText(run.Text(seeds)));
        DWORD error = 77;
        std::wstring lastModified = L"kept";
        const DownloadResult result = Repository::ClassifyDownloadResult(status, response, error, lastModified);
        run.Outcome(static_cast<unsigned long>(result));
        HeaderMap headers;
        response.GetHeaders(headers);
        const auto header = headers.find(L"Last-Modified");
        if (result == DownloadResult::Downloaded)
            run.Expect(code / 100 == 2 && error == ERROR_SUCCESS &&
                           lastModified == (header == headers.end() ? L"kept" : header->second),
                       "a download gives another status or date than its answer's");
        else
            run.Expect(lastModified == L"kept" && error != ERROR_SUCCESS &&
                           (code / 100 != 2 || status != ERROR_SUCCESS),
                       "a failed download gave a date or no error, or a plain 2xx counts as failed");
    });
    run.ExpectClean(5);
}

// A path relative to the repository base stays on the base's server and below its path.
TEST(RepositoryReadersFuzzTest, DownloadSourceResolve)
{
    const std::vector<std::wstring> seeds = {L"http://repo.test/files", L"https://repo.test:8443/files/", L"/pkg/a.zip",
                                             L"pkg/tool.exe", L"http://server.test/pkg/tool.exe?v=2", L""};
    CFuzzRun run("download source resolve");
    run.ForEachInput([&](int) {
        const std::wstring base = run.Text(seeds), relative = run.Text(seeds), full = run.Text(seeds);
        CFakeConfigUtil config;
        if (run.Random()() % 4 != 0)
            config.Set(L"Communications.Defaults.FileRepositoryBase", base);
        const CDownloadSource source(&config);
        std::wstring url = L"kept";
        const bool resolved = source.ResolveUrl(full, relative, url);
        std::wstring stored;
        const bool hasBase = config.GetValue(L"Communications.Defaults.FileRepositoryBase", stored, 0) == ERROR_SUCCESS &&
                             !stored.empty();
        run.Outcome(std::string(resolved ? "resolved" : "not resolved") + (hasBase ? " with a base" : ""));
        if (!resolved)
        {
            run.Expect(url == L"kept" && full.empty(), "a failed resolve changed its output or had a full URL");
            return;
        }
        if (!hasBase || relative.empty())
            return static_cast<void>(run.Expect(url == full, "a URL without base or path is not the full one"));
        const std::wstring head = stored.back() == L'/' ? stored : stored + L'/';
        const std::wstring tail = relative.front() == L'/' ? relative.substr(1) : relative;
        run.Expect(url.rfind(head, 0) == 0 && url.size() >= head.size() + tail.size() &&
                       url.compare(url.size() - tail.size(), tail.size(), tail) == 0,
                   "the resolved URL is not below the base, or lost the relative path");
    });
    run.ExpectClean(3);
}
