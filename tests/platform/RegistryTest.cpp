#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
// Each test reads and writes under a subkey of HKEY_CURRENT_USER of its own, removed afterwards.
class RegistryTest : public ::testing::Test
{
protected:
    ~RegistryTest() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); }

    const std::wstring m_key = L"Software\\TelemetryTests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                               std::to_wstring(reinterpret_cast<std::uintptr_t>(this));
};

std::vector<BYTE> Wide(const wchar_t* text)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(bytes, bytes + (std::wcslen(text) + 1) * sizeof(wchar_t));
}
} // namespace

TEST_F(RegistryTest, ReadsCheckTypeAndLeaveOutputOnFailure)
{
    const DWORD seven = 7;
    const auto* sevenBytes = reinterpret_cast<const BYTE*>(&seven);
    struct Row
    {
        const char* what;
        DWORD type;
        std::vector<BYTE> stored;
        LONG textStatus;
        const wchar_t* text; // when textStatus is ERROR_SUCCESS
        LONG numberStatus;
    };
    const std::wstring longText(300, L'x');
    const Row rows[] = {
        {"no terminator", REG_SZ, {'a', 0, 'b', 0, 'c', 0}, ERROR_SUCCESS, L"abc", ERROR_UNSUPPORTED_TYPE},
        {"odd byte count", REG_SZ, {'a', 0, 'b', 0, 'c'}, ERROR_SUCCESS, L"ab", ERROR_UNSUPPORTED_TYPE},
        {"embedded terminator", REG_SZ, {'a', 0, 0, 0, 'b', 0}, ERROR_SUCCESS, L"a", ERROR_UNSUPPORTED_TYPE},
        {"empty", REG_SZ, {}, ERROR_SUCCESS, L"", ERROR_UNSUPPORTED_TYPE},
        {"longer than a first small read", REG_SZ, Wide(longText.c_str()), ERROR_SUCCESS, longText.c_str(),
         ERROR_UNSUPPORTED_TYPE},
        {"not expanded", REG_EXPAND_SZ, Wide(L"%SystemRoot%"), ERROR_SUCCESS, L"%SystemRoot%", ERROR_UNSUPPORTED_TYPE},
        {"number", REG_DWORD, {sevenBytes, sevenBytes + 4}, ERROR_UNSUPPORTED_TYPE, nullptr, ERROR_SUCCESS},
        {"short number", REG_DWORD, {7, 0}, ERROR_UNSUPPORTED_TYPE, nullptr, ERROR_INVALID_DATA},
        {"binary", REG_BINARY, {sevenBytes, sevenBytes + 4}, ERROR_UNSUPPORTED_TYPE, nullptr, ERROR_UNSUPPORTED_TYPE},
    };
    const auto expectReads = [](const std::wstring& key, LONG textStatus, const wchar_t* expected, LONG numberStatus) {
        std::wstring text = L"kept";
        EXPECT_EQ(ReadRegistryText(HKEY_CURRENT_USER, key.c_str(), L"v", text), textStatus);
        EXPECT_EQ(text, textStatus == ERROR_SUCCESS ? expected : L"kept");
        DWORD number = 77;
        EXPECT_EQ(ReadRegistryDword(HKEY_CURRENT_USER, key.c_str(), L"v", number), numberStatus);
        EXPECT_EQ(number, numberStatus == ERROR_SUCCESS ? 7u : 77u);
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(WriteRegistryValue(HKEY_CURRENT_USER, m_key.c_str(), L"v", row.type, row.stored.data(),
                                     static_cast<DWORD>(row.stored.size())),
                  ERROR_SUCCESS);
        expectReads(m_key, row.textStatus, row.text, row.numberStatus);
    }

    // A missing value, then a missing key.
    ASSERT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, m_key.c_str(), L"v"), ERROR_SUCCESS);
    expectReads(m_key, ERROR_FILE_NOT_FOUND, nullptr, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ProbeRegistryKey(HKEY_CURRENT_USER, m_key.c_str()), ERROR_SUCCESS);
    const std::wstring missing = m_key + L"\\missing";
    expectReads(missing, ERROR_FILE_NOT_FOUND, nullptr, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ProbeRegistryKey(HKEY_CURRENT_USER, missing.c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, missing.c_str(), L"v"), ERROR_FILE_NOT_FOUND);
}

// A held key reads what the registry holds now: a key that appears later, a value changed or removed, the key
// deleted (the held handle then answers ERROR_KEY_DELETED inside) and made again.
TEST_F(RegistryTest, HeldKeyReadsTheValueAsItIsNow)
{
    CHeldRegistryKey held(m_key.c_str(), HKEY_CURRENT_USER);
    std::wstring text = L"kept";
    EXPECT_EQ(held.Text(L"v", text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text, L"kept");

    const auto write = [&](const std::wstring& value) {
        ASSERT_EQ(WriteRegistryText(HKEY_CURRENT_USER, m_key.c_str(), L"v", value), ERROR_SUCCESS);
    };
    write(L"first");
    ASSERT_EQ(held.Text(L"v", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"first");
    DWORD number = 77;
    EXPECT_EQ(held.Dword(L"v", number), ERROR_UNSUPPORTED_TYPE);

    ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()), ERROR_SUCCESS);
    EXPECT_EQ(held.Text(L"v", text), ERROR_FILE_NOT_FOUND);
    write(L"third");
    ASSERT_EQ(held.Text(L"v", text), ERROR_SUCCESS);
    EXPECT_EQ(text, L"third");
    ASSERT_EQ(DeleteRegistryValue(HKEY_CURRENT_USER, m_key.c_str(), L"v"), ERROR_SUCCESS);
    EXPECT_EQ(held.Text(L"v", text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text, L"third");
}
