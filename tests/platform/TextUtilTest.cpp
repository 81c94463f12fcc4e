#include "platform/TextUtil.h"

#include <gtest/gtest.h>

TEST(TextUtilTest, TimestampsHaveTheirFixedForms)
{
    // Year, month, day of the week (not read), day, hour, minute, second, milliseconds.
    std::wstring text;
    FormatTimestamp(text, {2024, 1, 0, 1, 0, 0, 0, 0}, false);
    EXPECT_EQ(text, L"2024-01-01T00:00:00.000Z");
    FormatTimestamp(text, {2024, 3, 0, 5, 7, 8, 9, 5}, true);
    EXPECT_EQ(text, L"2024-03-05 07:08:09.005");
    // A field wider than its pattern pushes the text past 23 characters: it is cut, then marked UTC.
    FormatTimestamp(text, {20240, 3, 0, 5, 7, 8, 9, 10}, false);
    EXPECT_EQ(text, L"20240-03-05T07:08:09.01Z");
}

TEST(TextUtilTest, ConversionsRoundTripAndStopAtNul)
{
    const std::wstring wide = L"a\u00e9\u20ac\U0001F600";
    std::string bytes;
    ASSERT_TRUE(WideToBytes(wide, bytes, CP_UTF8));
    EXPECT_EQ(bytes, "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    std::wstring back;
    ASSERT_TRUE(BytesToWide(bytes, back, CP_UTF8));
    EXPECT_EQ(back, wide);
    EXPECT_EQ(WideToUtf8(wide), bytes);
    EXPECT_EQ(Utf8ToWide(bytes), wide);

    ASSERT_TRUE(WideToBytes(std::wstring(L"ab\0cd", 5), bytes, CP_UTF8));
    EXPECT_EQ(bytes, "ab");
    ASSERT_TRUE(BytesToWide(std::string("\xff", 1), back, CP_UTF8)); // replaced, not refused
    EXPECT_EQ(back, L"\ufffd");

    bytes = "old";
    ASSERT_TRUE(WideToBytes(L"", bytes, CP_UTF8));
    EXPECT_TRUE(bytes.empty());
}

TEST(TextUtilTest, FailedConversionLeavesTheOutput)
{
    constexpr UINT kNoSuchCodePage = 54321;
    std::string bytes = "kept";
    std::wstring wide = L"kept";
    EXPECT_FALSE(WideToBytes(L"x", bytes, kNoSuchCodePage));
    EXPECT_FALSE(BytesToWide("x", wide, kNoSuchCodePage));
    EXPECT_EQ(bytes, "kept");
    EXPECT_EQ(wide, L"kept");
}

TEST(TextUtilTest, NumberTexts)
{
    EXPECT_EQ(UInt64ToText(18446744073709551615ull), L"18446744073709551615");
    EXPECT_EQ(Int64ToText(static_cast<std::int64_t>(18446744073709551615ull)), L"-1");
    EXPECT_EQ(UInt32ToText(4294967295u), L"4294967295");
    EXPECT_EQ(Int32ToText(-2147483647 - 1), L"-2147483648");
    EXPECT_EQ(SmallIntToText(-32768), L"-32768");
    EXPECT_EQ(Int32ToText(7), L"7");
}

TEST(TextUtilTest, LeadingInt64TakesItsWholeRangeAndNothingBeyond)
{
    struct Row
    {
        const wchar_t* text;
        bool read;
        std::int64_t value;
    };
    const Row rows[] = {
        {L" \t-9223372036854775808 and more", true, INT64_MIN},
        {L"+9223372036854775807", true, INT64_MAX},
        {L"9223372036854775808", false, 5},
        {L"-9223372036854775809", false, 5},
        {L"-", false, 5},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.text)));
        std::int64_t value = 5;
        EXPECT_EQ(ReadLeadingInt64(row.text, value), row.read);
        EXPECT_EQ(value, row.value);
    }
}
