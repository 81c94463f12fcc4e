#include "message/CMessageObject.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

namespace
{
std::wstring Text(const ISerializableClass& value)
{
    std::wstring text;
    EXPECT_TRUE(value.Serialize(text));
    return text;
}

CMessageObject Read(const std::string& json)
{
    CMessageObject message;
    EXPECT_TRUE(message.FromUtf8Json(json)) << json;
    return message;
}

std::string Utf8(const CMessageObject& message)
{
    std::string text;
    EXPECT_TRUE(message.SerializeUtf8(text));
    return text;
}
} // namespace

TEST(JsonTextTest, WritesExactTexts)
{
    CMessageObject object;
    object.AddInt32(L"a", 1);
    object.AddString(L"b", L"x\"y");
    EXPECT_EQ(Text(object), LR"({"a":1,"b":"x\"y"})");

    CMessageObject array;
    array.SetArray(true);
    array.AddBool(L"", true);
    array.AddNull(L"");
    array.AddDouble(L"", 2.5);
    EXPECT_EQ(Text(array), L"[true,null,2.500000]");

    CMessageObject named(L"Event");
    named.AddObject(L"Inner", true)->AddArray(L"List")->AddInt32(L"", 3);
    EXPECT_EQ(Text(named), LR"("Event":{"Inner":{"List":[3]}})");
    EXPECT_EQ(Text(named.Items()[0]), LR"("Inner":{"List":[3]})");

    // The UTF-8 form is converted in one piece, surrogate pairs included.
    CMessageObject wide;
    wide.AddString(L"k\u00e9y", L"\u20ac \U0001F600");
    EXPECT_EQ(Utf8(wide), "{\"k\xc3\xa9y\":\"\xe2\x82\xac \xf0\x9f\x98\x80\"}");
    std::string item;
    ASSERT_TRUE(wide.Items()[0].SerializeUtf8(item));
    EXPECT_EQ(Utf8(wide), "{" + item + "}");

    const std::pair<CMessageItem, std::wstring> rows[] = {
        {CMessageItem(L"s", L"tab\there \u00e9"), L"\"s\":\"tab\there \u00e9\""},
        {CMessageItem(L"s", L"\\n is not a line feed"), LR"("s":"\\n is not a line feed")"},
        {CMessageItem(L"s", L"cr\rlf\n/solidus\x01"), L"\"s\":\"cr\\rlf\\n/solidus\x01\""},
        {CMessageItem(L"u", std::numeric_limits<std::uint64_t>::max()), L"\"u\":18446744073709551615"},
        {CMessageItem::Int64(L"i", std::numeric_limits<std::int64_t>::min()), L"\"i\":-9223372036854775808"},
        {CMessageItem::Real(L"d", -0.1), L"\"d\":-0.100000"},
        {CMessageItem::Real(L"d", 1e20), L"\"d\":100000000000000000000.000000"},
        {CMessageItem::Real(L"d", std::numeric_limits<double>::infinity()), L"\"d\":null"},
        {CMessageItem(L"", false), L"false"},
        {CMessageItem(L"n"), L"\"n\":null"},
        // Names are escaped like values, so that a name read from a peer cannot break the text.
        {CMessageItem(L"q\"uote", true), L"\"q\\\"uote\":true"},
        // Texts end at U+0000, as they do when read.
        {CMessageItem(L"s", std::wstring(L"ab\0cd", 5)), L"\"s\":\"ab\""}};
    for (const auto& [item, json] : rows)
        EXPECT_EQ(Text(item), json);
}

TEST(JsonTextTest, AnUndefinedItemAnywhereFailsTheWholeText)
{
    CMessageObject message;
    message.AddInt32(L"a", 1);
    message.AddObject(L"deep", true)->AddItem(CMessageItem(), false);
    std::wstring text = L"stale";
    EXPECT_FALSE(message.Serialize(text));
    EXPECT_TRUE(text.empty());
    std::string utf8 = "stale";
    EXPECT_FALSE(message.SerializeUtf8(utf8));
    EXPECT_FALSE(CMessageItem().Serialize(text));
}

TEST(JsonTextTest, IntegersTooLongForSixtyFourBitsAreReadAsDoubles)
{
    // Instead of wrapping round; the numbers after them, and their written form, read back.
    const CMessageObject message = Read(R"([1.5, 99999999999999999999, -9223372036854775809,
                                            123456789012345678901.25, 100000000000000000000e2, 7])");
    ASSERT_EQ(message.Items().size(), 6u);
    const double expected[] = {1.5, 1e20, -9223372036854775809.0, 123456789012345678901.25, 1e22};
    for (std::size_t i = 0; i < 5; ++i)
    {
        ASSERT_EQ(message.Items()[i].m_type, Double) << i;
        EXPECT_DOUBLE_EQ(message.Items()[i].m_value.dbl, expected[i]) << i;
    }
    EXPECT_EQ(Text(message.Items()[5]), L"7");
    EXPECT_EQ(Text(Read("[9223372036854775807]")), L"[9223372036854775807]");

    EXPECT_EQ(Text(Read(Utf8(message))), Text(message));
    EXPECT_FALSE(CMessageObject().FromUtf8Json("[99999999999999999999.5.5]"));
}

TEST(JsonTextTest, ReadTextsWriteBackCompactAndByTheAddRules)
{
    const std::pair<const char*, const char*> rows[] = {
        {R"({ "FileUpload" : { "FilePath" : "C:\\ProgramData\\Agent\\Messages\\upload.zip", "Status" : "Success",
            "MetaData" : [ { "Name" : "Kind", "Value" : "Logs" } ], "RetryCount" : 0, "KeepFile" : false,
            "Ratio" : 0.25, "Note" : "line\nnext \/ slash \u0041" } })",
         R"({"FileUpload":{"FilePath":"C:\\ProgramData\\Agent\\Messages\\upload.zip","Status":"Success",)"
         R"("MetaData":[{"Name":"Kind","Value":"Logs"}],"RetryCount":0,"KeepFile":false,"Ratio":0.250000,)"
         R"("Note":"line\nnext / slash A"}})"},
        {R"( { "i": -12, "d": 1.0, "s": "a\tb\u00e9", "t": true, "f": false, "n": null,
              "o": {"x": []}, "a": [1, "two", {}] } )",
         "{\"i\":-12,\"d\":1.000000,\"s\":\"a\tb\xc3\xa9\",\"t\":true,\"f\":false,\"n\":null,\"o\":{\"x\":[]},"
         "\"a\":[1,\"two\",{}]}"},
        // Files written by Windows tools may start with a UTF-8 byte-order mark.
        {"\xEF\xBB\xBF{\"a\":1}", R"({"a":1})"},
        {R"({"a":1,"b":0,"a":2})", R"({"a":2,"b":0})"},
        {R"({"o":{},"o":{}})", R"({"o":{},"o":{}})"},
        {R"({"l":[1],"l":[2]})", R"({"l":[2]})"},
        {R"({"o":{"x":1},"o":5})", R"({"o":5})"},
        {R"([1,1,{"a":1,"a":2}])", R"([1,1,{"a":2}])"},
        {R"({"":1,"x":{"":[]}})", R"({"":1,"x":{"":[]}})"},
        {R"({"s":"a,]\\\"," })", R"({"s":"a,]\\\","})"},
        // Names and strings end at U+0000.
        {R"({"a\u0000b":"x\u0000y","c":"\u0000"})", R"({"a":"x","c":""})"}};
    for (const auto& [json, written] : rows)
        EXPECT_EQ(Utf8(Read(json)), written) << json;

    // Large objects take another path to the same result.
    std::string json = "{";
    std::wstring written = L"{";
    for (int i = 0; i < 40; ++i)
    {
        json += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
        written += L"\"k" + std::to_wstring(i) + L"\":" + (i == 3 ? L"99" : std::to_wstring(i)) + L",";
    }
    json += R"("k3":99,"o":{},"o":{}})";
    written += LR"("o":{},"o":{}})";
    EXPECT_EQ(Text(Read(json)), written);
}

TEST(JsonTextTest, ReadingReplacesEverythingOrNothing)
{
    // Plain syntax errors are the fuzz case's; these are no object at all, or what a lenient reader would take.
    const char* const inputs[] = {
        "", "42", R"({"a":1,})", R"({"a":[1,],"b":"],"})", R"({"a":1 /* note */})", "{'a':1}", R"({"a":01})", "[1,2]x"};
    CMessageObject message(L"kept");
    message.SetArray(true);
    message.AddString(L"", L"value");
    const std::wstring before = LR"("kept":["value"])"; // the name and the array flag are part of the text
    for (const char* input : inputs)
    {
        SCOPED_TRACE(input);
        EXPECT_FALSE(message.FromUtf8Json(input));
        EXPECT_EQ(Text(message), before);
        EXPECT_EQ(message.m_type, Undefined);
    }
    EXPECT_FALSE(message.FromJson(L""));
    EXPECT_EQ(Text(message), before);

    ASSERT_TRUE(message.FromUtf8Json(R"({"new":true})"));
    EXPECT_EQ(message.m_type, Object);
    EXPECT_EQ(Text(message), LR"({"new":true})"); // no name, no longer an array
}

TEST(JsonTextTest, NestingStopsAtDepth512)
{
    const auto nested = [](unsigned depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    const std::string deepest = nested(CMessageObject::kMaxJsonDepth);
    CMessageObject message = Read(deepest);
    EXPECT_EQ(Utf8(message), deepest);

    EXPECT_FALSE(message.FromUtf8Json(nested(CMessageObject::kMaxJsonDepth + 1)));
    EXPECT_FALSE(message.FromUtf8Json(nested(100000)));
    EXPECT_EQ(Utf8(message), deepest);
}
