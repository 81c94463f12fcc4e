// Exchange trace files as people read them: written into the Messages folder of an agent data folder of the
// test's own.

#include "CAgentInstall.h"
#include "CFakeComms.h"
#include "CFakeConfigUtil.h"
#include "CTextBody.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "comms/ExchangeTrace.h"
#include "comms/WebApiRequest.h"
#include "host/InstallLocations.h"
#include "platform/CUniqueHandle.h"

#include <winhttp.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace
{

// A request whose header set is only what the test gives it.
class CPlainRequest : public WebApiRequest
{
public:
    CPlainRequest(IConfigUtil* util, const std::wstring& label, IRequestBody* body)
        : WebApiRequest(util, label, body, L"Method_Trace", {}, {})
    {
    }
    void GetHeaders(HeaderMap& out) override { out = headers; }
    HeaderMap headers;
};

using namespace std::literals;

constexpr GUID kTraceUnit = trace::ParseGuid("215ff7b0-50e8-4f28-b657-996a33883230");

class CZippedBody : public CTextBody
{
public:
    using CTextBody::CTextBody;
    bool IsCompressed() const override { return true; }
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

const std::regex kTimeLine("Time=\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}");

class ExchangeTraceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::wstring company = L"Trace Test " + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName", company));
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        ::CreateDirectoryW(m_company.c_str(), nullptr);
        ASSERT_TRUE(::CreateDirectoryW(m_data.c_str(), nullptr));
        m_util.Set(L"Communications.Defaults.Verb", L"POST");
        m_util.Set(L"Communications.Defaults.User-Agent", L"TraceTest/1");
    }
    void TearDown() override { EXPECT_TRUE(RemoveTree(m_company)); }

    CAgentInstall m_install;
    std::wstring m_company, m_data;
    CFakeConfigUtil m_util;
};

TEST_F(ExchangeTraceTest, RecordsLineByLineOnlyUnderADescriptionThatIsAFileName)
{
    // No headers, no body, error 0; the answer's header lines joined by " | ".
    CPlainRequest bare(&m_util, L"bare", nullptr);
    CExchangeTrace trace;
    trace.WriteRequestTrace(bare, L"http://srv/api", ERROR_SUCCESS, nullptr, nullptr);
    const std::string content = "{\"ok\":true}";
    CommsResult result{kCommsResultSize, 0, 200, L"HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\n\r\n",
                       reinterpret_cast<const BYTE*>(content.data()), static_cast<DWORD>(content.size()), {}};
    trace.WriteResponseTrace(&result, ERROR_SUCCESS);

    ASSERT_EQ(trace.GetPath().rfind(m_data + L"Messages\\Method_Trace bare ", 0), 0u);
    EXPECT_TRUE(std::regex_match(trace.GetPath().substr(trace.GetPath().rfind(L"bare ") + 5),
                                 std::wregex(L"\\d{4}\\.\\d\\d\\.\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\.\\d{3}\\.log")));
    const std::string text = ReadBytes(trace.GetPath());
    EXPECT_EQ(text.compare(0, 9, "[REQUEST]"), 0);   // no byte-order mark
    auto lines = Lines(text);
    for (auto& line : lines)
        if (std::regex_match(line, kTimeLine))
            line = "Time=<time>";
    EXPECT_EQ(lines, (std::vector<std::string>{"[REQUEST]", "Time=<time>", "Verb=POST", "URL=http://srv/api",
                                                "User-Agent=TraceTest/1", "", "[RESPONSE]", "Time=<time>",
                                                "HTTPStatusCode=200", "ResponseContent={\"ok\":true}",
                                                "Headers=HTTP/1.1 200 OK | A: 1 | B: 2 |  | "}))
        << text;

    // Headers in map order, the body on its line with its own line breaks, the error; no result record
    // gives only the error and the time.
    CTextBody body("{\r\n  \"Message\": \"line one\\nline two\"\n}");
    CPlainRequest full(&m_util, L"full", &body);
    full.headers = {{L"b", L"2"}, {L"A", L"1"}};
    trace.WriteRequestTrace(full, L"http://srv/api", ERROR_WINHTTP_CANNOT_CONNECT, nullptr, nullptr);
    trace.WriteResponseTrace(nullptr, ERROR_WINHTTP_CANNOT_CONNECT);
    const std::string fullText = ReadBytes(trace.GetPath());
    EXPECT_NE(fullText.find("\r\nHeaders=A: 1 | b: 2 | \r\n"
                            "Body={\r\n  \"Message\": \"line one\\nline two\"\n}\r\n"
                            "LastError=12029\r\n\r\n[RESPONSE]\r\nLastError=12029\r\nTime="),
              std::string::npos)
        << fullText;
    EXPECT_EQ(Lines(fullText.substr(fullText.find("[RESPONSE]"))).size(), 3u);

    // Bodies and replies are written by their length, NUL bytes and all.
    const char nulJson[] = "{\"a\":\"x\0y\"}";
    const std::string withNul(nulJson, sizeof(nulJson) - 1);
    CTextBody nulBody(withNul);
    CPlainRequest nulRequest(&m_util, L"nul", &nulBody);
    trace.WriteRequestTrace(nulRequest, L"http://srv/api", ERROR_SUCCESS, nullptr, nullptr);
    CommsResult nulResult{kCommsResultSize, 0, 200, nullptr, reinterpret_cast<const BYTE*>(withNul.data()),
                          static_cast<DWORD>(withNul.size()), {}};
    trace.WriteResponseTrace(&nulResult, ERROR_SUCCESS);
    const std::string nulText = ReadBytes(trace.GetPath());
    EXPECT_NE(nulText.find("\r\nBody=" + withNul + "\r\n"), std::string::npos) << nulText;
    EXPECT_NE(nulText.find("\r\nResponseContent=" + withNul + "\r\n"), std::string::npos) << nulText;
    const std::wstring firstPath = trace.GetPath();

    // ":" from a host with a port, "?" and "*" from a URL, and separators that would leave the folder.
    for (const wchar_t* label : {L"127.0.0.1:8080", L"a?b", L"x*", L"..\\..\\..\\escape", L"a/b"})
    {
        SCOPED_TRACE(label);
        CPlainRequest odd(&m_util, label, nullptr);
        trace.WriteRequestTrace(odd, L"http://srv/b", ERROR_SUCCESS, nullptr, nullptr);
        EXPECT_TRUE(trace.GetPath().empty());
        // No file was made, and the answer never lands in the file of the earlier exchange.
        trace.WriteResponseTrace(nullptr, ERROR_SUCCESS);
    }
    EXPECT_EQ(ReadBytes(firstPath), nulText);
    WIN32_FIND_DATAW found{};
    EXPECT_FALSE(CFindHandle(::FindFirstFileW((m_data + L"escape*").c_str(), &found)));
}

TEST_F(ExchangeTraceTest, NamesTheRouteAndSkipsFilesThatCannotBeWritten)
{
    CZippedBody body("{}");
    CPlainRequest request(&m_util, L"route", &body);
    CExchangeTrace trace;
    const struct
    {
        DWORD mode;
        const char* line;
    } rows[] = {{kProxyModeExplicit, "Proxy=p:8080"}, {kProxyModeWpad, "Proxy=WPAD (http://w/p.pac)"}, {7, "Proxy="}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.line);
        CFakeProxyConfig proxy;
        proxy.mode = row.mode;
        proxy.proxyList = L"p:8080";
        proxy.wpadUrl = L"http://w/p.pac";
        trace.WriteRequestTrace(request, L"http://srv/", ERROR_SUCCESS, nullptr, &proxy);
        const std::string text = ReadBytes(trace.GetPath());
        EXPECT_NE(text.find("\r\n"s + row.line + "\r\nBodyIsCompressed=true\r\n"), std::string::npos) << text;
    }

    // The file gone before the answer, or no data folder to hold one: a warning and no file.
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
    const std::wstring gone = trace.GetPath();
    ASSERT_TRUE(::DeleteFileW(gone.c_str()));
    trace.WriteResponseTrace(nullptr, ERROR_SUCCESS);
    EXPECT_FALSE(Exists(gone));
    ASSERT_TRUE(RemoveTree(m_data));
    trace.WriteRequestTrace(request, L"http://srv/", ERROR_SUCCESS, nullptr, nullptr);
    EXPECT_TRUE(trace.GetPath().empty());
    for (const ULONG number : {16u, 13u, 15u})
        EXPECT_TRUE(capture.Has(kTraceUnit, number)) << number;
}

} // namespace
