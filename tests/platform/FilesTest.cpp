#include "platform/CUniqueHandle.h"
#include "platform/Files.h"
#include "platform/FolderTree.h"
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

TEST_F(FilesTest, OwnedFileIsGoneWithItsOwnerOrByRemove)
{
    std::string bytes;
    {
        COwnedFile file;
        ASSERT_EQ(file.Write(m_path, "config"), ERROR_SUCCESS);
        EXPECT_EQ(file.Path(), m_path);
        EXPECT_EQ(ReadWholeFile(m_path, bytes), ERROR_SUCCESS);
        EXPECT_EQ(bytes, "config");
    }
    EXPECT_FALSE(IsFile(m_path));

    COwnedFile file;
    EXPECT_EQ(file.Write(m_path + L".missing\\x", "x"), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(file.Path(), L"");
    ASSERT_EQ(file.Write(m_path, "config"), ERROR_SUCCESS);
    {
        // A reader that does not share deletion keeps it; the owner says so and tries again later.
        const CFileHandle reader(::CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader);
        EXPECT_EQ(file.Remove(), ERROR_SHARING_VIOLATION);
        EXPECT_EQ(file.Path(), m_path);
    }
    EXPECT_EQ(file.Remove(), ERROR_SUCCESS);
    EXPECT_FALSE(IsFile(m_path));
    EXPECT_EQ(file.Path(), L"");
    EXPECT_EQ(file.Remove(), ERROR_SUCCESS);
}

TEST_F(FilesTest, FolderTreeIsMadeOnceAndRemovedWhole)
{
    const std::wstring folder = m_path + L".d\\";
    EXPECT_EQ(MakeFolderTree(folder + L"a\\b\\\\"), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(MakeFolderTree(folder + L"a\\b"), DWORD{ERROR_SUCCESS});
    ASSERT_EQ(WriteWholeFile(folder + L"a\\file", "x"), ERROR_SUCCESS);
    EXPECT_EQ(MakeFolderTree(folder + L"a\\file"), DWORD{ERROR_ALREADY_EXISTS});
    EXPECT_EQ(MakeFolderTree(folder + std::wstring(MAX_PATH, L'x')), DWORD{ERROR_FILENAME_EXCED_RANGE});

    ASSERT_TRUE(::SetFileAttributesW((folder + L"a\\file").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesW((folder + L"a").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(RemoveTree(folder));
    EXPECT_FALSE(IsFolder(folder));
    EXPECT_TRUE(RemoveTree(folder));
    EXPECT_FALSE(RemoveTree(L"\\\\"));
}

TEST(PathTest, NamesAndPathsThatStayInTheirFolder)
{
    struct Row
    {
        const wchar_t* name;
        bool plainName;
        bool plainPath;
    };
    const Row rows[] = {
        {L"tool.exe", true, true},
        {L"bin\\tool.exe", false, true},
        {L"bin/sub dir/tool.exe", false, true},
        {L"CONSOLE.exe", true, true}, // only the whole base name is a device
        {L"com10", true, true},
        {L"lpt0", true, true},
        {L"", false, false},
        {L".", false, false},
        {L"..", false, false},
        {L"..\\..\\Program Files\\X\\any.exe", false, false},
        {L"bin\\..\\..\\x.exe", false, false},
        {L"bin\\.\\x.exe", false, false},
        {L"bin\\\\x.exe", false, false},
        {L"\\x.exe", false, false},
        {L"/x.exe", false, false},
        {L"C:x.exe", false, false},
        {L"C:\\x.exe", false, false},
        {L"\\\\server\\share\\x.exe", false, false},
        {L"\\\\?\\C:\\x.exe", false, false},
        {L"x.exe:stream", false, false},
        {L"a*b", false, false},
        {L"a\tb", false, false},
        {L"NUL", false, false},
        {L"con", false, false},
        {L"Aux.txt", false, false},
        {L"prn.tar.gz", false, false},
        {L"COM1", false, false},
        {L"lpt9.log", false, false},
        {L"com\u00b9", false, false},
        {L"NUL...", false, false},
        {L"nul  ", false, false},
        {L"CON .txt", false, false},
        {L"conin$", false, false},
        {L"CONOUT$.x", false, false},
        {L"bin\\nul.exe", false, false},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.name)));
        EXPECT_EQ(IsPlainFileName(row.name), row.plainName);
        EXPECT_EQ(IsPlainRelativePath(row.name), row.plainPath);
    }
}
