// Cartridges over a test publisher check and a fake extractor: the kinds, what counts as downloaded and
// installed, catalogs, self-extracting packages run with the suite's child programs, and removal.

#include "TempFolder.h"
#include "TestFiles.h"

#include "host/ComponentExports.h"
#include "host/IDecompressor.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "telemetry/CCartridge.h"
#include "telemetry/CCartridgeCatalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <future>
#include <string>
#include <vector>

namespace
{
// What the fakes below were asked, and how they answer.
struct CFakes : IDecompressor
{
    bool trusted = true;
    bool hasExtractor = true;
    DWORD extractResult = ERROR_SUCCESS;
    std::vector<DWORD> given;
    std::vector<DWORD> freed;

    DWORD Extract(const std::wstring&, const std::wstring&, std::vector<std::wstring>&) override
    {
        return extractResult;
    }
};
CFakes g_fakes;

CartridgeServices FakeServices(DWORD selfExtractLimitMs = CartridgeServices::kSelfExtractLimitMs)
{
    CartridgeServices services;
    services.isTrusted = [](const wchar_t*) { return g_fakes.trusted; };
    services.getExtractor = [](DWORD kind) -> IDecompressor* {
        g_fakes.given.push_back(kind);
        return g_fakes.hasExtractor ? &g_fakes : nullptr;
    };
    services.freeExtractor = [](DWORD kind, IDecompressor** extractor) {
        g_fakes.freed.push_back(kind);
        *extractor = nullptr;
    };
    services.selfExtractLimitMs = selfExtractLimitMs;
    return services;
}

std::wstring Md5(const std::string& bytes, bool upper = false)
{
    std::wstring hex;
    EXPECT_EQ(Md5HexOfBuffer(bytes.data(), bytes.size(), hex), static_cast<DWORD>(ERROR_SUCCESS));
    if (upper)
        std::transform(hex.begin(), hex.end(), hex.begin(), [](wchar_t c) { return std::towupper(c); });
    return hex;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

class CCartridgeTest : public ::testing::Test
{
protected:
    void SetUp() override { g_fakes = CFakes(); }

    CTempFolder m_folder;
    const std::wstring m_unpacked = m_folder.Path() + L"unpacked\\deeper";
};

TEST_F(CCartridgeTest, KindDecidesMainFileAndUnpacking)
{
    struct Row
    {
        const wchar_t* package;
        bool selfExtracting;
        bool mainFileUnpacked;
        DWORD extractorKind;   // 0: not extracted
    };
    const Row rows[] = {
        {L"pkg.ZIP", false, true, kArchiveZip},
        {L"pkg.rar", false, true, kArchiveRar},
        {L"pkg.7z", false, false, 0},
        {L"pkg", false, false, 0},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::Message() << Narrow(row.package));
        g_fakes = CFakes();
        const std::wstring package = m_folder.Path() + row.package;
        WriteBytes(package, "package");
        CCartridge cartridge(package, row.selfExtracting, L"main.dll", m_unpacked, FakeServices());
        std::wstring mainFile;
        ASSERT_TRUE(cartridge.GetPluginPath(mainFile));
        EXPECT_EQ(mainFile, row.mainFileUnpacked ? m_unpacked + L"\\main.dll" : package);
        EXPECT_TRUE(cartridge.Unpack());
        EXPECT_EQ(g_fakes.given, row.extractorKind ? std::vector<DWORD>{row.extractorKind} : std::vector<DWORD>{});
        EXPECT_EQ(g_fakes.freed, g_fakes.given);
    }

    // An archive fails to unpack without an extractor, when extraction fails (the extractor given back all
    // the same), without its package file, and has no main file without a plug-in name.
    CCartridge archive(m_folder.Path() + L"pkg.ZIP", false, L"main.dll", m_unpacked, FakeServices());
    g_fakes.extractResult = ERROR_BAD_PATHNAME;
    EXPECT_FALSE(archive.Unpack());
    EXPECT_EQ(g_fakes.freed.size(), 1u);
    g_fakes.hasExtractor = false;
    EXPECT_FALSE(archive.Unpack());
    EXPECT_FALSE(CCartridge(m_folder.Path() + L"none.zip", false, L"main.dll", m_unpacked, FakeServices()).Unpack());
    std::wstring mainFile;
    CCartridge unnamed(m_folder.Path() + L"pkg.zip", false, L"", m_unpacked, FakeServices());
    EXPECT_FALSE(unnamed.GetPluginPath(mainFile));
}

TEST_F(CCartridgeTest, TrustAndMd5DecideDownloadedAndInstalled)
{
    const std::wstring plain = m_folder.Path() + L"plugin.dll";
    WriteBytes(plain, "plug-in");
    CCartridge cartridge(plain, false, L"", L"", FakeServices());
    g_fakes.trusted = false;
    EXPECT_FALSE(cartridge.IsDownloaded(Md5("plug-in")));
    EXPECT_FALSE(cartridge.IsInstalled(Md5("plug-in"), L""));
    g_fakes.trusted = true;
    EXPECT_TRUE(cartridge.IsDownloaded(Md5("plug-in", true)));
    EXPECT_TRUE(cartridge.IsInstalled(Md5("plug-in"), L""));
    EXPECT_FALSE(cartridge.IsDownloaded(Md5("other")));
    EXPECT_FALSE(cartridge.IsInstalled(Md5("other"), L""));

    // An archive is downloaded whoever signed it; with no catalog MD5 it is installed once its trusted main
    // file is there.
    const std::wstring zip = m_folder.Path() + L"pkg.zip";
    WriteBytes(zip, "archive");
    CCartridge archive(zip, false, L"main.dll", m_folder.Path(), FakeServices());
    g_fakes.trusted = false;
    EXPECT_TRUE(archive.IsDownloaded(Md5("archive")));
    g_fakes.trusted = true;
    EXPECT_FALSE(archive.IsInstalled(L"", L""));
    WriteBytes(m_folder.Path() + L"main.dll", "main");
    EXPECT_TRUE(archive.IsInstalled(L"", L""));
    g_fakes.trusted = false;
    EXPECT_FALSE(archive.IsInstalled(L"", L""));
}

TEST_F(CCartridgeTest, CatalogListsFilesThatMatchInsideTheFolder)
{
    const std::wstring folder = m_folder.Path() + L"unpacked\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    ::CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    WriteBytes(folder + L"a.txt", "alpha");
    WriteBytes(folder + L"sub\\b.txt", "beta");
    WriteBytes(m_folder.Path() + L"outside.txt", "outside");   // matches its entries: only its place fails them
    const std::string a = "a.txt:" + Narrow(Md5("alpha", true));
    const std::string b = "sub\\b.txt:" + Narrow(Md5("beta"));
    const std::string out = ":" + Narrow(Md5("outside"));
    const std::string outsidePath = Narrow(m_folder.Path()) + "outside.txt";
    const struct
    {
        std::string text;
        bool valid;
    } rows[] = {
        {a + "\n" + b, true},   // last line without LF
        {a + "\r\n" + b + "\n", true},
        {"", true},
        {a + "\n\n" + b + "\n", false},
        {"a.txt\n", false},
        {":" + Narrow(Md5("alpha")) + "\n", false},
        {a + "\nsub\\b.txt:" + Narrow(Md5("gamma")) + "\n", false},
        {a + "\nmissing.txt" + out + "\n", false},
        {"..\\outside.txt" + out, false},
        {"sub\\..\\..\\outside.txt" + out, false},
        {"sub/../../outside.txt" + out, false},
        {outsidePath.substr(2) + out, false},   // absolute, without its drive
        {outsidePath + out, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.text);
        WriteBytes(folder + L"catalog.dat", row.text);
        EXPECT_EQ(CCartridgeCatalog(folder + L"catalog.dat").Check(folder), row.valid);
    }
    EXPECT_FALSE(CCartridgeCatalog(folder + L"none.dat").Check(folder));
}

TEST_F(CCartridgeTest, SelfExtractingPackageIsRunInstalledAndRemoved)
{
    // A zip extension with the flag set: run, not extracted; the folder made with its parents.
    const std::wstring package = m_folder.Path() + L"pkg.zip";
    ASSERT_TRUE(::CopyFileW(ChildProgram(L"unpack").c_str(), package.c_str(), FALSE));
    CCartridge cartridge(package, true, L"plugin.dll", m_unpacked, FakeServices());
    ASSERT_TRUE(cartridge.Unpack());
    EXPECT_TRUE(g_fakes.given.empty());
    EXPECT_EQ(ReadBytes(m_unpacked + L"\\plugin.dll"), "plug-in");

    const std::string catalog = "plugin.dll:" + Narrow(Md5("plug-in")) + "\nsub\\data.txt:" + Narrow(Md5("data"));
    WriteBytes(m_unpacked + L"\\catalog.dat", catalog);
    EXPECT_TRUE(cartridge.IsInstalled(L"", Md5(catalog, true)));
    EXPECT_FALSE(cartridge.IsInstalled(L"", Md5("another catalog")));

    EXPECT_TRUE(cartridge.Remove(false));
    EXPECT_FALSE(Exists(m_unpacked));
    EXPECT_TRUE(Exists(package));
    ASSERT_TRUE(cartridge.Unpack());
    EXPECT_TRUE(cartridge.Remove(true));   // a read-only file among them
    EXPECT_FALSE(Exists(m_unpacked));
    EXPECT_FALSE(Exists(package));
}

TEST_F(CCartridgeTest, SelfExtractingPackageThatNeverEndsIsEnded)
{
    const std::wstring package = m_folder.Path() + L"pkg.exe";
    ASSERT_TRUE(::CopyFileW(ChildProgram(L"sleep").c_str(), package.c_str(), FALSE));
    CCartridge cartridge(package, true, L"plugin.dll", m_unpacked, FakeServices(3000));
    auto unpacked = std::async(std::launch::async, [&] { return cartridge.Unpack(); });
    // Its process is held while it runs, to read how it ended.
    CHandle child;
    for (int i = 0; i < 200 && !child; ++i, ::Sleep(20))
    {
        const std::string pid = ReadBytes(m_unpacked + L"\\sleeper.pid");
        if (!pid.empty())
            child.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, std::stoul(pid)));
    }
    EXPECT_FALSE(unpacked.get());
    ASSERT_TRUE(child);
    DWORD exitCode = 0;
    EXPECT_EQ(::WaitForSingleObject(child.Get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(::GetExitCodeProcess(child.Get(), &exitCode));
    EXPECT_EQ(exitCode, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
}
} // namespace
