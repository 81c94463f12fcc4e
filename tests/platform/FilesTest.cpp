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
    const auto expect = [](const wchar_t* name, bool plainName, bool plainPath) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
        EXPECT_EQ(IsPlainFileName(name), plainName);
        EXPECT_EQ(IsPlainRelativePath(name), plainPath);
    };
    // Only the whole base name is a device.
    for (const wchar_t* name : {L"tool.exe", L"CONSOLE.exe", L"com10", L"lpt0"})
        expect(name, true, true);
    for (const wchar_t* path : {L"bin\\tool.exe", L"bin/sub dir/tool.exe"})
        expect(path, false, true);
    // Empty or dot segments, roots, drives and shares.
    for (const wchar_t* escape :
         {L"", L"..", L"..\\..\\Program Files\\X\\any.exe", L"bin\\..\\..\\x.exe", L"bin\\.\\x.exe", L"bin\\\\x.exe",
          L"\\x.exe", L"/x.exe", L"C:x.exe", L"C:\\x.exe", L"\\\\server\\share\\x.exe", L"\\\\?\\C:\\x.exe"})
        expect(escape, false, false);
    // Refused characters and device names, whatever their case, extension or blanks.
    for (const wchar_t* device :
         {L"x.exe:stream", L"a*b", L"a\tb", L"NUL", L"Aux.txt", L"prn.tar.gz", L"lpt9.log", L"com\u00b9", L"NUL...",
          L"nul  ", L"CON .txt", L"conin$", L"CONOUT$.x", L"bin\\nul.exe"})
        expect(device, false, false);
}
