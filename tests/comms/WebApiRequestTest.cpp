#include "CFakeConfigUtil.h"

#include "comms/DownloadRequest.h"
#include "comms/WebApiRequest.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace
{

constexpr wchar_t kService[] = L"Method_Test";

std::wstring Key(const wchar_t* entry, const wchar_t* name)
{
    return std::wstring(L"Communications.") + entry + L'.' + name;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

const std::wregex kMessageId(L"[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}");
const std::wregex kMessageDate(L"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z");

} // namespace

TEST(WebApiRequestTest, ComposesTheConfiguredUrl)
{
    const struct { const wchar_t *scheme, *host, *path, *resource; UrlParameterMap parameters; const wchar_t* url; }
        rows[] = {
        // Path and resource join without a separator; the unfilled a goes with its "?", "&" becomes "?".
        {L"s", L"srv", L"/api/ver", L"items/{Id}?a={A}&b={B}", {{L"Id", L"7"}, {L"B", L"x"}},
         L"s://srv/api/veritems/7?b=x"},
        {L"https://", L"srv", L"api", L"", {}, L"https://srv/api"},
        {L"https:", L"srv/", L"api/", L"x", {}, L"https:srv/api/x"},
        {L"https:\\\\", L"srv\\", L"\\api\\v1\\", L"a\\b", {}, L"https://srv/api/v1/a/b"},
        {L"s", L"", L"p/", L"r", {}, L"s://p/r"},
        {L"s", L"srv", L"", L"items/{Id}", {{L"Id", L""}}, L""},
        {L"s", L"srv", L"", L"items/{Id", {{L"Id", L"7"}}, L""},
        {L"s", L"srv", L"", L"items?a={A}", {}, L"s://srv/items"},
        {L"s", L"srv", L"", L"items?a={A}&b={B}&c=1", {}, L"s://srv/items?c=1"},
        {L"s", L"srv", L"", L"items/{Id}?a={A}&c=1", {}, L"s://srv/items/{Id}?c=1"},
        // An inserted value is not scanned again, and a placeholder outside the query stays.
        {L"s", L"srv", L"", L"{P}/{Q}/{R}", {{L"P", L"{Q}"}, {L"Q", L"z"}}, L"s://srv/{Q}/z/{R}"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(Narrow(row.resource));
        CFakeConfigUtil config;
        config.Set(Key(kService, L"Scheme"), row.scheme);
        config.Set(Key(kService, L"Hostname"), row.host);
        config.Set(Key(kService, L"Path"), row.path);
        WebApiRequest request(&config, L"", nullptr, kService, row.parameters, row.resource);
        EXPECT_EQ(row.url, request.GetUrl());
        EXPECT_EQ(0, config.Outstanding());
    }
}

TEST(WebApiRequestTest, SettingsFallBackToDefaultsAndAreReadEverySend)
{
    CFakeConfigUtil config;
    config.Set(Key(L"Defaults", L"Scheme"), L"https");
    config.Set(Key(L"Defaults", L"Hostname"), L"default.example");
    config.Set(Key(kService, L"Hostname"), L"");   // empty counts as missing
    config.Set(Key(kService, L"Path"), L"/v1/");
    config.Set(Key(L"Defaults", L"Verb"), L"PUT");
    config.Set(Key(kService, L"Verb"), L"POST");
    config.Set(Key(L"Defaults", L"User-Agent"), L"Agent/1");

    WebApiRequest request(&config, L"label", nullptr, kService, {}, L"send");
    EXPECT_EQ(L"Method_Test label", request.GetDescription());
    EXPECT_EQ(L"https://default.example/v1/send", request.GetUrl());
    EXPECT_EQ(L"POST", request.GetVerb());
    EXPECT_EQ(L"Agent/1", request.GetUserAgent());

    config.Set(Key(kService, L"Hostname"), L"service.example");
    EXPECT_EQ(L"https://service.example/v1/send", request.GetUrl());
    EXPECT_EQ(0, config.Outstanding());

    // Without any configured verb a web API call has none; a download still gets "GET".
    CFakeConfigUtil empty;
    EXPECT_EQ(L"", WebApiRequest(&empty, L"", nullptr, kService, {}, L"").GetVerb());
    EXPECT_EQ(L"", WebApiRequest(&empty, L"", nullptr, kService, {}, L"").GetUserAgent());
}

TEST(WebApiRequestTest, WithoutServiceOrForADownloadTheGivenUrlIsUsed)
{
    CFakeConfigUtil config;
    config.Set(Key(L"Defaults", L"Scheme"), L"ignored");
    config.Set(Key(L"Defaults", L"User-Agent"), L"Agent/1");
    config.Set(Key(L"", L"User-Agent"), L"wrong");
    WebApiRequest request(&config, L"", nullptr, L"", {{L"Id", L"7"}}, L"items/{Id}?a={A}");
    request.SetVerb(L"POST");
    request.SetBaseUrl(L"https://host.example:8443\\api/");
    EXPECT_EQ(L"post host.example:8443", request.GetDescription());
    EXPECT_EQ(L"https://host.example:8443/api/items/7", request.GetUrl());
    EXPECT_EQ(L"POST", request.GetVerb());
    EXPECT_EQ(L"Agent/1", request.GetUserAgent());
    // A value's brace is no placeholder, however often the URL is asked for.
    WebApiRequest braces(&config, L"", nullptr, L"", {{L"Id", L"{Q"}}, L"items/{Id}");
    braces.SetBaseUrl(L"https://h/");
    EXPECT_EQ(L"https://h/items/{Q", braces.GetUrl());
    // Parameters given after the URL still fill it.
    WebApiRequest late(&config, L"", nullptr, L"", {}, L"items/{Id}");
    late.SetBaseUrl(L"https://h/");
    late.SetUrlParameters({{L"Id", L"8"}});
    EXPECT_EQ(L"https://h/items/8", late.GetUrl());

    // A download keeps its URL and defaults to "GET".
    DownloadRequest download(&config, L"http://host/dir/file.zip");
    EXPECT_EQ(L"Download_File file.zip", download.GetDescription());
    EXPECT_EQ(L"http://host/dir/file.zip", download.GetUrl());
    EXPECT_EQ(L"GET", download.GetVerb());
    EXPECT_EQ(nullptr, download.GetBody());

    download.SetBaseUrl(L"http://host\\other\\next.cab");
    EXPECT_EQ(L"Download_File next.cab", download.GetDescription());
    EXPECT_EQ(L"http://host/other/next.cab", download.GetUrl());

    EXPECT_EQ(L"Download_File", DownloadRequest(&config, L"").GetDescription());

    config.Set(Key(L"Defaults", L"Verb"), L"HEAD");
    EXPECT_EQ(L"HEAD", download.GetVerb());
    config.Set(Key(kDownloadService, L"Verb"), L"POST");
    EXPECT_EQ(L"POST", download.GetVerb());
    EXPECT_EQ(0, config.Outstanding());
}

TEST(WebApiRequestTest, HeadersDependOnTheVerbAndKeepTheirFirstValues)
{
    const struct { const wchar_t *verb, *accept; bool gzip; } rows[] = {
        {L"post", L"application/json", true}, {L"PUT", L"application/json", true},
        {L"get", L"*/*", false}, {L"DELETE", L"<none>", false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(Narrow(row.verb));
        CFakeConfigUtil config;
        config.Set(Key(kService, L"Verb"), row.verb);
        WebApiRequest request(&config, L"", nullptr, kService, {}, L"");
        HeaderMap headers{{L"stale", L"x"}};
        request.GetHeaders(headers);
        EXPECT_EQ(0u, headers.count(L"stale"));
        const std::wstring id = headers[L"x-korvo-messageId"], date = headers[L"x-korvo-messageDate"];
        EXPECT_TRUE(std::regex_match(id, kMessageId)) << Narrow(id);
        EXPECT_TRUE(std::regex_match(date, kMessageDate)) << Narrow(date);
        EXPECT_EQ(row.accept, headers.count(L"Accept") == 1 ? headers[L"Accept"] : L"<none>");
        EXPECT_EQ(row.gzip, headers.count(L"Accept-encoding") == 1);
    }

    CFakeConfigUtil config;
    config.Set(Key(kService, L"Verb"), L"POST");
    WebApiRequest request(&config, L"", nullptr, kService, {}, L"");
    request.AddHeader(L"Accept", L"text/plain");
    request.AddHeader(L"accept", L"a/b");
    HeaderMap first;
    request.GetHeaders(first);
    EXPECT_EQ(L"text/plain", first[L"Accept"]);
    EXPECT_EQ(L"a/b", first[L"accept"]);
    ::Sleep(20);
    HeaderMap second;
    request.GetHeaders(second);
    EXPECT_EQ(first, second);   // a resend keeps the message id and date
    WebApiRequest other(&config, L"", nullptr, kService, {}, L"");
    HeaderMap third;
    other.GetHeaders(third);
    EXPECT_NE(first[L"x-korvo-messageId"], third[L"x-korvo-messageId"]);
}

TEST(WebApiRequestTest, ParsesHeaderLinesAndAddsAllOrNothing)
{
    const struct { const wchar_t* text; bool parsed; HeaderMap headers; } rows[] = {
        {L"", true, {}}, {L"A: 1\r\nB:2\r\n", true, {{L"A", L"1"}, {L"B", L"2"}}},
        {L"  Name  :  x y  \r\n", true, {{L"Name", L"x y"}}}, {L"Host: h:80", true, {{L"Host", L"h:80"}}},
        {L"HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", true, {{L"A", L"1"}}}, {L"A: 1\r\nA: 2\r\n", true, {{L"A", L"1"}}},
        {L"A: 1\nB: 22\n", true, {{L"A", L"1"}, {L"B", L"22"}}},
        {L"A: 1\r\n : 2\r\nB: 3\r\n", false, {{L"A", L"1"}}},
        {L"A: 1\r\nB:   \r\nC: 3\r\n", false, {{L"A", L"1"}}},
        {L"A\t: 1\r\n", true, {{L"A\t", L"1"}}},   // only U+0020 is a blank
    };
    CFakeConfigUtil config;
    WebApiRequest request(&config, L"", nullptr, kService, {}, L"");
    for (const auto& row : rows)
    {
        SCOPED_TRACE(Narrow(row.text));
        HeaderMap out{{L"stale", L"x"}};
        EXPECT_EQ(row.parsed, request.ParseHeaderText(row.text, out));
        EXPECT_EQ(row.headers, out);
    }

    request.SetHeaders({{L"Keep", L"old"}});
    EXPECT_FALSE(request.AddHeadersFromText(L"New: 1\r\nBroken:\r\n"));
    EXPECT_TRUE(request.AddHeadersFromText(L"Keep: new\r\nAdded: 2\r\n"));
    request.AddHeaders({{L"Added", L"3"}, {L"More", L"4"}});
    HeaderMap headers;
    request.GetHeaders(headers);
    EXPECT_EQ(0u, headers.count(L"New"));
    EXPECT_EQ(L"old", headers[L"Keep"]);
    EXPECT_EQ(L"2", headers[L"Added"]);
    EXPECT_EQ(L"4", headers[L"More"]);
}
