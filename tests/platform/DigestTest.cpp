#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

std::wstring TempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    return folder + std::wstring(name);
}

// The digest of the input; the call must succeed.
template <typename Digest, typename... Input>
std::wstring Hex(Digest digest, Input... input)
{
    std::wstring hex;
    EXPECT_EQ(ERROR_SUCCESS, digest(input..., hex));
    return hex;
}

} // namespace

TEST(DigestTest, EmptyOrNullInputIsInvalidAndLeavesOutputAlone)
{
    std::wstring hex = L"kept";
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Md5HexOfBuffer("x", 0, hex));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Md5HexOfBuffer(nullptr, 4, hex));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Sha256HexOfBuffer("x", 0, hex));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Md5HexOfString(L"", hex));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Md5HexOfString(nullptr, hex));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Md5HexOfFile(L"", hex));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, Sha256HexOfFile(nullptr, hex));
    EXPECT_EQ(L"kept", hex);
}

TEST(DigestTest, FileDigestIsTheDigestOfItsContent)
{
    // Byte i is i * 7 + i / 251; digests as md5sum and sha256sum give them. A small size, exactly one read block
    // (256 KiB), and several blocks with a short tail.
    const struct
    {
        std::size_t size;
        const wchar_t *md5, *sha256;
    } rows[] = {
        {1, L"93b885adfe0da089cdf634904fd59f71", L"6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d"},
        {256 * 1024, L"3cd2f99b33ba34daa35b7d09e37078c8",
         L"737b0671b0d28d4cb9ca2bcc4b2ec40696586dbb6b21aa501a7658dc445040c5"},
        {3 * 256 * 1024 + 17, L"8adf10df8b41e464f3df73cc18d51cf1",
         L"f37c31d276f972c32861a59e5040d6710efc103c6896c81b03d66b42fd1d7f11"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.size);
        std::string content(row.size, '\0');
        for (std::size_t i = 0; i < row.size; ++i)
            content[i] = static_cast<char>(i * 7 + i / 251);
        COwnedFile file;
        ASSERT_EQ(DWORD{ERROR_SUCCESS}, file.Write(TempPath(L"digest-test.bin"), content));
        EXPECT_EQ(row.md5, Hex(Md5HexOfFile, file.Path().c_str()));
        EXPECT_EQ(row.sha256, Hex(Sha256HexOfFile, file.Path().c_str()));
        EXPECT_EQ(row.md5, Hex(Md5HexOfBuffer, content.data(), row.size));
        EXPECT_EQ(row.sha256, Hex(Sha256HexOfBuffer, content.data(), row.size));
    }
}

TEST(DigestTest, FileThatCannotBeReadIsNotFound)
{
    const std::wstring missing = TempPath(L"no-such-file-7f3a.bin");
    std::wstring hex = L"kept";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Md5HexOfFile(missing.c_str(), hex));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Sha256HexOfFile(missing.c_str(), hex));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Md5HexOfFile(TempPath(L"").c_str(), hex)); // a folder is not a file

    // The digest shares reading only: a file others read can be hashed, one someone is writing cannot.
    COwnedFile file;
    ASSERT_EQ(DWORD{ERROR_SUCCESS}, file.Write(TempPath(L"digest-test.bin"), "abc"));
    const wchar_t* path = file.Path().c_str();
    const auto open = [&](DWORD access) {
        return CFileHandle(::CreateFileW(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    {
        const CFileHandle reader = open(GENERIC_READ);
        ASSERT_TRUE(reader);
        EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", Hex(Md5HexOfFile, path));
    }
    const CFileHandle writer = open(GENERIC_WRITE);
    ASSERT_TRUE(writer);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Md5HexOfFile(path, hex));
    EXPECT_EQ(L"kept", hex);
}
