// The readers of what the configuration and the server hand the communications code, fed seeded mutations
// of the inputs the other suites use (the server's answers are fed in the response's own tests). Fuzz.h says
// what each case checks and how to run it longer.

#include "CFakeConfigUtil.h"
#include "Fuzz.h"

#include "comms/Authorization.h"
#include "comms/WebApiRequest.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

// The text as a component hands it out: up to its first NUL.
std::wstring UpToNul(const std::wstring& text)
{
    return text.c_str();
}

bool HasSurrogate(const std::wstring& text)
{
    return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0xd800 && c <= 0xdfff; });
}

} // namespace

TEST(CommsReadersFuzzTest, AuthorizationRecord)
{
    const wchar_t* const keys[] = {L"AuthorizationId", L"AuthorizationService", L"AuthorizationServiceVersion",
                                   L"Secret"};
    const std::vector<std::wstring> seeds[] = {
        {L"me", L"device-7"}, {L"KWS", L"kws"}, {L"2", L"2abc", L"4294967296", L" +2"}, {L"s", L"p\u00e9\u20ac", L""}};
    CFuzzRun run("authorization record");
    run.ForEachInput([&](int) {
        // One value mutated, the others as the seeds have them or absent.
        const size_t mutated = run.Random()() % std::size(keys);
        CFakeConfigUtil util;
        std::wstring values[std::size(keys)];
        bool present[std::size(keys)];
        for (size_t k = 0; k < std::size(keys); ++k)
        {
            present[k] = k == mutated || run.Random()() % 6 != 0;
            values[k] = k == mutated ? run.Text(seeds[k]) : seeds[k][run.Random()() % seeds[k].size()];
            if (present[k])
                util.Set(std::wstring(L"Communications.Authorization.") + keys[k], values[k]);
        }
        // A value read must fit the reader's 256 characters with its terminator.
        const auto readable = [&](size_t k) { return present[k] && values[k].size() < 256; };
        AuthorizationRecord record;
        record.m_authorizationId = L"untouched";
        record.m_scheme = 77;
        const bool read = ReadAuthorization(&util, record, L"Communications", nullptr, true);
        run.Outcome(read ? record.m_scheme : 0);
        if (!read)
        {
            run.Expect(record.m_authorizationId == L"untouched" && record.m_scheme == 77,
                       "a failed read changed the record");
            run.Expect(!readable(0) || !readable(3), "the read failed with an id and a secret");
            return;
        }
        std::int32_t version = 0;
        bool overflowed = false;
        const bool scheme2 = readable(1) && UpToNul(values[1]) == L"KWS" && readable(2) &&
                             ReadLeadingInt32(UpToNul(values[2]), version, &overflowed) && !overflowed && version == 2;
        run.Expect(readable(0) && readable(3) && record.m_authorizationId == UpToNul(values[0]),
                   "the id was not read as configured");
        run.Expect(record.m_scheme == (scheme2 ? 2u : 1u) && record.m_schemeName == (scheme2 ? L"KWS2" : L"KWS"),
                   "the wrong scheme was chosen");
        run.Expect(HasSurrogate(values[3]) || Utf8ToWide(record.m_secret) == UpToNul(values[3]),
                   "the secret does not read back as configured");
    });
    run.ExpectClean(3);
}

// The configured URL with its placeholders, the URL given to a request without a service, and header text:
// what each is split into lies inside what was given.
TEST(CommsReadersFuzzTest, RequestUrlAndHeaders)
{
    const std::vector<std::wstring> urlSeeds = {L"https://srv.example/api/v1/items/{Id}?a={A}&b={B}",
                                                L"http://10.0.0.1:8080/x?y=1#z", L"srv/{P}/{Q}/{R}",
                                                L"https://host.example:8443\\api/items/{Id}"};
    const std::vector<std::wstring> valueSeeds = {L"7", L"{Q}", L"a b&c=d"};
    const std::vector<std::wstring> headerSeeds = {L"HTTP/1.1 409 Conflict\r\nB: 2\r\nRetry-After:  5 \r\nC: 4",
                                                   L"Content-Type: application/json\nX-A: b:c\r\n\r\n"};
    CFuzzRun run("request URL and headers");
    run.ForEachInput([&](int n) {
        if (n % 2 == 0)
        {
            const std::wstring text = run.Text(headerSeeds);
            HeaderMap headers{{L"Kept", L"1"}};
            const bool parsed = ParseHeaderLines(text, headers);
            run.Outcome(std::string(parsed ? "headers " : "refused ") +
                        std::to_string(std::min<size_t>(headers.size(), 4)));
            run.Expect(headers.count(L"Kept") == 1, "a header already there was lost");
            for (const auto& [name, value] : headers)
            {
                const bool trimmed = !name.empty() && !value.empty() && name.front() != L' ' && name.back() != L' ' &&
                                     value.front() != L' ' && value.back() != L' ';
                run.Expect(name == L"Kept" ||
                               (trimmed && name.find_first_of(L":\n") == std::wstring::npos &&
                                value.find(L'\n') == std::wstring::npos && text.find(name) != std::wstring::npos &&
                                text.find(value) != std::wstring::npos),
                           "a header is not a trimmed piece of one line of the text");
            }
            return;
        }
        const std::wstring base = run.Text(urlSeeds);
        const std::wstring value = MutateText(valueSeeds[n % valueSeeds.size()], run.Random());
        WebApiRequest request(nullptr, L"", nullptr, L"", {{L"Id", value}, {L"P", L"p"}}, L"");
        request.SetVerb(L"GET");
        request.SetBaseUrl(base);
        const std::wstring url = request.GetUrl();
        const std::wstring description = request.GetDescription();
        run.Outcome(url.empty() ? "no URL" : description.size() > 4 ? "host" : "no host");
        // Without a query nothing is dropped after the host was described.
        const bool query = (base + value).find_first_of(L"?&") != std::wstring::npos;
        run.Expect(description.compare(0, 4, L"get ") == 0 &&
                       (query || url.find(description.substr(4)) != std::wstring::npos),
                   "the host described is not part of the URL");
        const bool fillable = !value.empty() && value.find_first_of(L"{}") == std::wstring::npos;
        run.Expect(!fillable || url.find(L"{Id}") == std::wstring::npos, "a placeholder with a value stayed unfilled");
        run.Expect(!url.empty() || base.empty() || !fillable || base.find(L'{') != std::wstring::npos,
                   "a URL without a placeholder was lost");
    });
    run.ExpectClean(6);
}
