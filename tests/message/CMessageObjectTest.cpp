#include "message/CMessageObject.h"

#include <gtest/gtest.h>

namespace
{
std::wstring Text(const CMessageObject& object)
{
    std::wstring text;
    EXPECT_TRUE(object.Serialize(text));
    return text;
}
} // namespace

TEST(CMessageObjectTest, ObjectsAndArraysReplaceOnlyWhenAsked)
{
    CMessageObject message;
    CMessageObject* first = message.AddObject(L"o", false);
    first->AddInt32(L"n", 1);
    message.AddObject(L"o", false);
    message.AddArray(L"");
    message.AddArray(L"");
    EXPECT_EQ(Text(message), LR"({"o":{"n":1},"o":{},"":[],"":[]})");
    CMessageItem* found = nullptr;
    ASSERT_TRUE(message.FindItem(L"o", found));
    EXPECT_EQ(found->m_value.object, first);

    message.AddArray(L"o"); // replaces the first "o"
    EXPECT_EQ(Text(message), LR"({"o":[],"o":{},"":[],"":[]})");
    const CMessageObject* array = nullptr;
    ASSERT_TRUE(message.GetArray(L"o", array));
    EXPECT_EQ(array, message.Items()[0].m_value.object);
}

TEST(CMessageObjectTest, GettersNeverConvertAndLeaveOutputUntouched)
{
    CMessageObject message;
    message.AddString(L"digits", L"42");
    message.AddInt32(L"number", 42);
    message.AddNull(L"nothing");
    message.AddUInt64(L"big", (1ull << 32) | 5);
    message.AddInt32(L"minus", -1);

    // Booleans, arrays and names in another letter case: the trust, proxy and routing tests' rows.
    std::wstring text = L"kept";
    std::uint32_t number = 99;
    EXPECT_FALSE(message.GetString(L"number", text));
    EXPECT_FALSE(message.GetUInt32(L"digits", number));
    EXPECT_FALSE(message.GetString(L"nothing", text));
    EXPECT_EQ(text, L"kept");
    EXPECT_EQ(number, 99u);

    // GetUInt32 delivers the low half of any integer.
    ASSERT_TRUE(message.GetUInt32(L"big", number));
    EXPECT_EQ(number, 5u);
    ASSERT_TRUE(message.GetUInt32(L"minus", number));
    EXPECT_EQ(number, 4294967295u);
    EXPECT_EQ(message.Items()[4].m_value.i64, -1); // sign-extended to 64 bits
}

TEST(CMessageObjectTest, RemoveAndClear)
{
    CMessageObject message(L"name");
    message.AddInt32(L"a", 1);
    message.AddInt32(L"b", 2);
    message.AddInt32(L"c", 3);
    EXPECT_TRUE(message.RemoveItem(L"b"));
    EXPECT_FALSE(message.RemoveItem(L"b"));
    EXPECT_EQ(Text(message), LR"("name":{"a":1,"c":3})");

    message.SetArray(true);
    message.m_type = Object;
    message.Clear();
    EXPECT_EQ(Text(message), L"[]"); // no items, no name, still an array
    EXPECT_EQ(message.m_type, Undefined);
}

TEST(CMessageObjectTest, CopiesAreDeepAndMovesEmptyTheSource)
{
    CMessageObject original(L"root");
    original.AddObject(L"child", true)->AddString(L"leaf", L"v");
    {
        CMessageObject copy(original);
        CMessageObject* copiedChild = copy.Items()[0].m_value.object;
        EXPECT_NE(copiedChild, original.Items()[0].m_value.object);
        copiedChild->AddString(L"leaf", L"changed");
    } // the copy and its nested objects are gone
    EXPECT_EQ(Text(original), LR"("root":{"child":{"leaf":"v"}})");

    CMessageObject* nested = original.Items()[0].m_value.object;
    CMessageObject moved(std::move(original));
    EXPECT_EQ(moved.Items()[0].m_value.object, nested); // transferred, not copied
    EXPECT_EQ(Text(original), L"{}");                   // no items, no name

    CMessageItem item(moved);
    CMessageItem taken(std::move(item));
    EXPECT_EQ(taken.m_type, Object);
    EXPECT_EQ(taken.m_name, L"root");
    EXPECT_EQ(item.m_type, Undefined);
    EXPECT_TRUE(item.m_name.empty());
    EXPECT_EQ(item.m_value.u64, 0u);

    item = taken; // assigned copies are deep too
    EXPECT_EQ(item.m_name, L"root");
    EXPECT_NE(item.m_value.object, taken.m_value.object);
}

TEST(CMessageObjectTest, NestedObjectsStayPutWhileTheParentGrows)
{
    CMessageObject message;
    CMessageObject* child = message.AddObject(L"child", true);
    for (int i = 0; i < 1000; ++i)
        message.AddInt32(L"n" + std::to_wstring(i), i);
    child->AddBool(L"still", true);
    EXPECT_EQ(Text(*message.Items()[0].m_value.object), LR"("child":{"still":true})");
    EXPECT_TRUE(message.AddItem(&message.Items()[5]));
    EXPECT_FALSE(message.AddItem(nullptr));
    EXPECT_EQ(message.Items().size(), 1001u);
}
