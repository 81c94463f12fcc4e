// Brevik.dll from an agent install's Utils folder, refusing archives made here by libarchive. What it extracts is
// checked end to end with packages from real archivers.

#include "CAgentInstall.h"
#include "ModuleExport.h"
#include "TestFiles.h"

#include "host/ComponentExports.h"
#include "host/IDecompressor.h"
#include "platform/CUniqueHandle.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

struct Entry
{
    std::string name;
    std::string data = "x";
    mode_t type = AE_IFREG;
};

// A zip of the entries; a link's data is its target.
std::string Zip(const std::vector<Entry>& entries)
{
    std::string bytes(1 << 20, '\0');
    size_t used = 0;
    archive* writer = archive_write_new();
    archive_write_set_format_zip(writer);
    archive_write_open_memory(writer, bytes.data(), bytes.size(), &used);
    for (const Entry& e : entries)
    {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.c_str());
        archive_entry_set_mode(entry, e.type | 0644);
        archive_entry_set_symlink(entry, e.type == AE_IFLNK ? e.data.c_str() : nullptr);
        archive_entry_set_size(entry, e.type == AE_IFREG ? static_cast<la_int64_t>(e.data.size()) : 0);
        EXPECT_EQ(archive_write_header(writer, entry), ARCHIVE_OK) << e.name;
        if (e.type == AE_IFREG)
            archive_write_data(writer, e.data.data(), e.data.size());
        archive_entry_free(entry);
    }
    archive_write_free(writer);
    bytes.resize(used);
    return bytes;
}

// Bytes that deflate does not shrink much, so that an entry spans several reads.
std::string Noise(size_t size)
{
    std::string bytes;
    for (unsigned x = 1; bytes.size() < size; x = x * 1103515245u + 12345u)
        bytes += static_cast<char>(x >> 24);
    return bytes;
}

class BrevikTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(L"Brevik.dll", L"Utils"));
        m_library = LoadLibraryAt(m_install.Folder() + L"Utils\\Brevik.dll");
        m_get = ModuleExport<GetCompressionFn>(m_library.Get(), "GetCompression");
        m_free = ModuleExport<FreeCompressionFn>(m_library.Get(), "FreeCompression");
        m_outstanding = ModuleExport<DWORD (*)()>(m_library.Get(), "BrevikOutstandingObjects");
        ASSERT_TRUE(m_get && m_free && m_outstanding);
    }

    void TearDown() override { EXPECT_EQ(m_outstanding(), 0u); }

    // Extracts bytes (none: no archive file at all) of kind into "out\deeper\" of the install folder.
    DWORD Extract(DWORD kind, const std::string* bytes, std::vector<std::wstring>& files)
    {
        const std::wstring archive = m_install.Folder() + L"package.bin";
        if (bytes != nullptr)
            WriteBytes(archive, *bytes);
        IDecompressor* extractor = m_get(kind);
        EXPECT_NE(extractor, nullptr);
        const DWORD error = extractor ? extractor->Extract(archive, m_out, files) : ERROR_INVALID_FUNCTION;
        m_free(kind, &extractor);
        EXPECT_EQ(extractor, nullptr);
        return error;
    }

    CAgentInstall m_install;
    const std::wstring m_out = m_install.Folder() + L"out\\deeper\\";
    CModule m_library;
    GetCompressionFn m_get = nullptr;
    FreeCompressionFn m_free = nullptr;
    DWORD (*m_outstanding)() = nullptr;
};

TEST_F(BrevikTest, RefusesWholeArchiveWithAnyEntryOutsideTheFolder)
{
    const std::wstring places[] = {m_out, m_install.Folder(), m_install.Folder() + L"..\\", L"\\", L"C:\\"};
    const Entry escapes[] = {{"../../brevik-slip.dll"},
                             {"a/../../../../brevik-slip.dll"},
                             {"/brevik-slip.dll"},
                             {"C:/brevik-slip.dll"},
                             {"C:\\brevik-slip.dll"},
                             {"\\\\?\\C:\\brevik-slip.dll"},
                             {"C:brevik-slip.dll"},
                             {"..\\..\\brevik-slip.dll"},
                             {". ./brevik-slip.dll"},
                             {"NUL.txt"},
                             {"brevik-slip.dll", "../../brevik-slip.dll", AE_IFLNK}};
    // A good entry first, over a file of the folder: every entry is checked before anything is written.
    ASSERT_TRUE(::CreateDirectoryW((m_install.Folder() + L"out").c_str(), nullptr) &&
                ::CreateDirectoryW(m_out.c_str(), nullptr));
    WriteBytes(m_out + L"good.txt", "mine");
    for (const Entry& escape : escapes)
    {
        SCOPED_TRACE(escape.name);
        const std::string zip = Zip({{"good.txt", "good"}, escape});
        std::vector<std::wstring> files;
        EXPECT_EQ(Extract(kArchiveZip, &zip, files), ERROR_BAD_PATHNAME);
        EXPECT_TRUE(files.empty());
        EXPECT_EQ(ReadBytes(m_out + L"good.txt"), "mine");
        for (const std::wstring& place : places)
            EXPECT_FALSE(Exists(place + L"brevik-slip.dll")) << place;
    }
}

TEST_F(BrevikTest, DamagedOrMissingArchiveFailsAndLeavesNothing)
{
    for (DWORD kind : {0ul, 1ul, 4ul})
        EXPECT_EQ(m_get(kind), nullptr) << kind;
    const std::string zip = Zip({{"first.txt", "first"}, {"second.bin", Noise(64 * 1024)}});
    std::string corrupt = zip; // the second entry's data, its central directory intact
    corrupt.replace(corrupt.find("second.bin") + 2000, 500, 500, 'Z');
    const std::string cut = zip.substr(0, zip.size() - 40); // its central directory
    const std::string text = "not an archive";
    const struct
    {
        const char* what;
        DWORD kind;
        const std::string* bytes; // null: no archive file at all
        DWORD error;
    } cases[] = {{"missing", kArchiveZip, nullptr, ERROR_FILE_NOT_FOUND},
                 {"corrupt", kArchiveZip, &corrupt, ERROR_INVALID_DATA},
                 {"cut", kArchiveZip, &cut, ERROR_INVALID_DATA},
                 {"text as rar", kArchiveRar, &text, ERROR_INVALID_DATA},
                 {"zip as rar", kArchiveRar, &zip, ERROR_INVALID_DATA}};
    for (const auto& [what, kind, bytes, error] : cases)
    {
        SCOPED_TRACE(what);
        std::vector<std::wstring> files;
        EXPECT_EQ(Extract(kind, bytes, files), error);
        EXPECT_TRUE(files.empty());
        EXPECT_FALSE(Exists(m_install.Folder() + L"out"));
    }
}

} // namespace
