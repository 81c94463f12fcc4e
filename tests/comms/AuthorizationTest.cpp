#include "CFakeConfigUtil.h"
#include "TraceCapture.h"

#include "comms/Authorization.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

namespace
{

constexpr GUID kAuthorizationUnit = trace::ParseGuid("916ad050-7f1e-4ada-9d09-dd0d48951245");

std::wstring Key(const wchar_t* section, const wchar_t* key)
{
    return std::wstring(section) + L".Authorization." + key;
}

// Fills the whole buffer and leaves no terminator, or throws, as a careless component might.
class CHostileConfigUtil : public CFakeConfigUtil
{
public:
    DWORD QuerySectionValue(const wchar_t*, const wchar_t*, const wchar_t*, wchar_t* buffer, DWORD* size,
                            DWORD) override
    {
        if (throws)
            throw std::bad_alloc();
        std::wmemset(buffer, L'x', *size);
        return ERROR_SUCCESS;
    }
    bool throws = false;
};

} // namespace

TEST(AuthorizationTest, ChoosesTheSchemeAndNeedsIdAndSecret)
{
    // A null text is not configured; the version is read only for "KWS"; trace 0: no error trace.
    const struct { const wchar_t *id, *service, *version, *secret; bool ok; DWORD scheme; int calls; ULONG trace; }
        rows[] = {
        {L"me", L"KWS", L"2", L"s", true, 2, 4, 0}, {L"me", L"kws", L"2", L"s", true, 1, 3, 11},
        {L"me", L"KWS", L"3", L"s", true, 1, 4, 0}, {L"me", nullptr, L"2", L"s", true, 1, 3, 10},
        {L"me", L"KWS", nullptr, L"s", true, 1, 4, 12}, {L"me", L"KWS", L"abc", L"s", true, 1, 4, 13},
        {L"me", L"KWS", L"4294967296", L"s", true, 1, 4, 13}, {L"me", L"KWS", L"2abc", L"s", true, 2, 4, 0},
        {L"me", L"KWS", L"2", L"", true, 2, 4, 0}, {nullptr, L"KWS", L"2", L"s", false, 0, 1, 14},
        {L"me", L"KWS", L"2", nullptr, false, 0, 4, 15},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        CFakeConfigUtil util;
        const std::pair<const wchar_t*, const wchar_t*> settings[] = {
            {L"AuthorizationId", row.id}, {L"AuthorizationService", row.service},
            {L"AuthorizationServiceVersion", row.version}, {L"Secret", row.secret}};
        for (const auto& [key, value] : settings)
            if (value != nullptr)
                util.Set(Key(L"Communications", key), value);
        CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);

        AuthorizationRecord record;
        record.m_authorizationId = L"untouched";
        ASSERT_EQ(row.ok, ReadAuthorization(&util, record, L"Communications", nullptr, true));
        EXPECT_EQ(row.calls, util.Calls());
        EXPECT_EQ(row.trace != 0, !capture.Messages().empty());
        EXPECT_EQ(row.trace != 0, capture.Has(kAuthorizationUnit, row.trace));
        EXPECT_EQ(row.ok ? L"me" : L"untouched", record.m_authorizationId);
        if (!row.ok)
            continue;
        EXPECT_EQ(row.scheme, record.m_scheme);
        EXPECT_EQ(row.scheme == 2 ? L"KWS2" : L"KWS", record.m_schemeName);
        EXPECT_EQ(row.secret[0] == L'\0' ? "" : "s", record.m_secret);
    }
}

TEST(AuthorizationTest, CopiesTimeFlagAndUtf8Secret)
{
    CFakeConfigUtil util;
    util.Set(Key(L"Services", L"AuthorizationId"), L"device-7");
    util.Set(Key(L"Services", L"Secret"), L"p\u00e9\u20ac");
    util.Set(Key(L"Communications", L"Secret"), L"other");

    AuthorizationRecord record;
    ASSERT_TRUE(ReadAuthorization(&util, record, L"Services", nullptr, false));
    EXPECT_EQ(L"device-7", record.m_authorizationId);
    EXPECT_EQ("p\xc3\xa9\xe2\x82\xac", record.m_secret);
    EXPECT_FALSE(record.m_signRequest);
    const SYSTEMTIME zero{};
    EXPECT_EQ(0, std::memcmp(&zero, &record.m_requestTime, sizeof(zero)));

    const SYSTEMTIME now{2024, 3, 2, 5, 7, 8, 9, 10};
    ASSERT_TRUE(ReadAuthorization(&util, record, L"Services", &now, true));
    EXPECT_TRUE(record.m_signRequest);
    EXPECT_EQ(0, std::memcmp(&now, &record.m_requestTime, sizeof(now)));
}

TEST(AuthorizationTest, HostileComponentsNeitherOverrunNorThrow)
{
    CHostileConfigUtil util;
    AuthorizationRecord record;
    ASSERT_TRUE(ReadAuthorization(&util, record, L"Communications", nullptr, true));
    EXPECT_EQ(std::wstring(256, L'x'), record.m_authorizationId);
    EXPECT_EQ(std::string(256, 'x'), record.m_secret);

    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    util.throws = true;
    EXPECT_FALSE(ReadAuthorization(&util, record, L"Communications", nullptr, true));
    EXPECT_TRUE(capture.Has(kAuthorizationUnit, 18));
    EXPECT_FALSE(ReadAuthorization(nullptr, record, L"Communications", nullptr, true));
    EXPECT_TRUE(capture.Has(kAuthorizationUnit, 17));
}
