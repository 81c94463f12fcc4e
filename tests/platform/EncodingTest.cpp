#include "platform/Encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
// What an encoder or decoder makes of the input, or "<failed>".
template <typename In, typename Out>
std::string Coded(bool (*code)(const In*, DWORD, Out*, DWORD*), const std::string& input)
{
    Out out[256];
    DWORD length = sizeof(out);
    if (!code(reinterpret_cast<const In*>(input.data()), static_cast<DWORD>(input.size()), out, &length))
        return "<failed>";
    return std::string(reinterpret_cast<const char*>(out), length);
}
} // namespace

TEST(EncodingTest, Base64RoundTripsAndPads)
{
    const struct
    {
        std::string bytes, standard, url;
    } rows[] = {
        {"f", "Zg==", "Zg"},
        {"fo", "Zm8=", "Zm8"},
        {"foobar", "Zm9vYmFy", "Zm9vYmFy"},
        {std::string("\xfb\xff\xbf", 3), "+/+/", "-_-_"},
        {std::string("\0\0\0\0", 4), "AAAAAA==", "AAAAAA"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.standard);
        EXPECT_EQ(row.standard, Coded(Base64Encode, row.bytes));
        EXPECT_EQ(row.url, Coded(Base64UrlEncode, row.bytes));
        EXPECT_EQ(row.bytes, Coded(Base64Decode, row.standard));
        EXPECT_EQ(row.bytes, Coded(Base64UrlDecode, row.url));
    }
    EXPECT_EQ("A", Coded(Base64UrlDecode, "QQ"));
}

TEST(EncodingTest, MalformedBase64Fails)
{
    for (const char* text :
         {"", "QQ", "QQ=", "QUJDRA", "QU=D", "=QUJ", "Q===", "====", "QUJD\nQQ==", "QU-D", "QQ==QUJD"})
        EXPECT_EQ("<failed>", Coded(Base64Decode, text)) << text;
    for (const char* text : {"", "Q", "QUJDR", "QU.D", "Q-=Q"})
        EXPECT_EQ("<failed>", Coded(Base64UrlDecode, text)) << text;
    EXPECT_EQ("<failed>", Coded(Base64Encode, ""));
    EXPECT_EQ("<failed>", Coded(Base64UrlEncode, ""));
}

TEST(EncodingTest, SmallBuffersAreNeverOverrun)
{
    const BYTE bytes[] = {1, 2, 3, 4};
    char text[9] = "########";
    DWORD length = 7;
    EXPECT_FALSE(Base64Encode(bytes, 4, text, &length));
    EXPECT_EQ(8u, length);
    EXPECT_STREQ("########", text);
    length = 5;
    EXPECT_FALSE(Base64UrlEncode(bytes, 4, text, &length));
    EXPECT_EQ(6u, length);
}

TEST(EncodingTest, HexCapacityRules)
{
    const BYTE bytes[] = {0x00, 0x9f, 0xa0, 0xff};
    char out[10] = "#########";
    DWORD capacity = 7;
    EXPECT_FALSE(HexEncode(bytes, 4, out, &capacity));
    EXPECT_EQ(8u, capacity);
    EXPECT_EQ('#', out[0]);

    // Exactly the characters: no room for a terminator, none written.
    ASSERT_TRUE(HexEncode(bytes, 4, out, &capacity));
    EXPECT_EQ(8u, capacity);
    EXPECT_EQ("009fa0ff#", std::string(out, 9));
    capacity = 9;
    ASSERT_TRUE(HexEncode(bytes, 4, out, &capacity));
    EXPECT_STREQ("009fa0ff", out);

    capacity = 10;
    EXPECT_FALSE(HexEncode(bytes, 0, out, &capacity));
    EXPECT_FALSE(HexEncode(nullptr, 4, out, &capacity));
    EXPECT_FALSE(HexEncode(bytes, 4, out, nullptr));
}

TEST(EncodingTest, PlainKeyBlobHeaderThenKey)
{
    const BYTE key[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                          0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};
    const auto blob = MakePlainKeyBlob(key, sizeof(key), CALG_AES_128);
    ASSERT_TRUE(blob);
    std::vector<BYTE> expected = {8, 2, 0, 0, 0x0e, 0x66, 0, 0, 16, 0, 0, 0};
    expected.insert(expected.end(), key, key + sizeof(key));
    ASSERT_EQ(expected, *blob);
    EXPECT_EQ(1, blob.use_count());

    EXPECT_FALSE(MakePlainKeyBlob(nullptr, 16, CALG_AES_128));
}
