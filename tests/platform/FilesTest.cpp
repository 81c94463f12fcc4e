#include "platform/CUniqueHandle.h"
#include "platform/Files.h"
#include "platform/Path.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
class FilesTest : public ::testing::Test
{
protected:
    FilesTest()
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_path = WithTrailingBackslash(temp) + L"files-test-" + std::to_wstring(::GetCurrentProcessId()) + L".bin";
    }
    ~FilesTest() override { ::DeleteFileW(m_path.c_str()); }

    std::wstring m_path;
};
} // namespace

TEST_F(FilesTest, WritesReplaceOrAppendAndReadBackWhole)
{
    std::string bytes = "kept";
    EXPECT_EQ(ReadWholeFile(m_path, bytes), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(bytes, "kept");

    ASSERT_EQ(WriteWholeFile(m_path, std::string("a\0b", 3)), ERROR_SUCCESS);
    ASSERT_EQ(WriteWholeFile(m_path, "cd", kFileAppend | kFileFlush), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(m_path, bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, std::string("a\0bcd", 5));
    EXPECT_EQ(WriteWholeFile(m_path, "new", kFileNew), ERROR_FILE_EXISTS);
    ASSERT_EQ(WriteWholeFile(m_path, ""), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(m_path, bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, "");
    ASSERT_TRUE(::DeleteFileW(m_path.c_str()));
    ASSERT_EQ(WriteWholeFile(m_path, "new", kFileNew), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(m_path, bytes), ERROR_SUCCESS);
    EXPECT_EQ(bytes, "new");

    EXPECT_EQ(WriteWholeFile(m_path + L".missing\\x", "x"), ERROR_PATH_NOT_FOUND);
}

TEST_F(FilesTest, ReadRefusesWhatItCannotTakeWhole)
{
    ASSERT_EQ(WriteWholeFile(m_path, "x"), ERROR_SUCCESS);
    std::string bytes = "kept";
    {
        // A holder that shares nothing.
        const CFileHandle held(::CreateFileW(m_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(ReadWholeFile(m_path, bytes, FILE_SHARE_READ | FILE_SHARE_WRITE), ERROR_SHARING_VIOLATION);
    }
    {
        // A writer that holds it open is refused by a reader that shares reading only.
        const CFileHandle writer(::CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(ReadWholeFile(m_path, bytes), ERROR_SHARING_VIOLATION);
        // 4 GiB: one byte more than one read takes (sparse, nothing is written).
        LARGE_INTEGER size;
        size.QuadPart = 0x100000000LL;
        ASSERT_TRUE(::SetFilePointerEx(writer.Get(), size, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(writer.Get()));
    }
    EXPECT_EQ(ReadWholeFile(m_path, bytes), ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(bytes, "kept");
}
