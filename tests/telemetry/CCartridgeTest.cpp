// Cartridges over a test publisher check and a fake extractor: the kinds, what counts as downloaded and
// installed, catalogs, self-extracting packages run with the suite's child programs, and removal.

#include "CAgentInstall.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "host/ComponentExports.h"
#include "host/IDecompressor.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "telemetry/CCartridge.h"
#include "telemetry/CCartridgeCatalog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <future>
#include <string>
#include <vector>

namespace
{
constexpr GUID kCartridgeUnit = trace::ParseGuid("8837445b-482e-4a75-83dd-e848de9874c9");

// The publisher check and the compression component as the test says; notes the extractor kinds asked for.
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
// Narrow, as catalogs are written; upper-case on request.
std::string Md5(const std::string& bytes, bool upper = false)
{
    std::wstring hex;
    EXPECT_EQ(Md5HexOfBuffer(bytes.data(), bytes.size(), hex), static_cast<DWORD>(ERROR_SUCCESS));
    std::string text(hex.begin(), hex.end());
    for (char& c : text)
        c = static_cast<char>(upper ? std::toupper(c) : c);
    return text;
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class CCartridgeTest : public ::testing::Test
{
protected:
    CartridgeServices Fakes(DWORD selfExtractLimitMs = CartridgeServices::kSelfExtractLimitMs)
    {
        CartridgeServices services;
        services.isTrusted = [this](const wchar_t*) { return m_fakes.trusted; };
        services.getExtractor = [this](DWORD kind) -> IDecompressor* {
            m_fakes.given.push_back(kind);
            return m_fakes.hasExtractor ? &m_fakes : nullptr;
        };
        services.freeExtractor = [this](DWORD kind, IDecompressor** extractor) {
            m_fakes.freed.push_back(kind);
            *extractor = nullptr;
        };
        services.selfExtractLimitMs = selfExtractLimitMs;
        return services;
    }

    CFakes m_fakes;
    CAgentInstall m_install; // a fresh folder of the test's own
    const std::wstring m_folder = m_install.Folder();
    const std::wstring m_unpacked = m_folder + L"unpacked\\deeper";
};

TEST_F(CCartridgeTest, KindDecidesMainFileAndUnpacking)
{
    // extractorsAsked none: not extracted.
    const struct
    {
        const wchar_t* package;
        bool mainFileUnpacked;
        std::vector<DWORD> extractorsAsked;
    } rows[] = {{L"pkg.ZIP", true, {kArchiveZip}}, {L"pkg.rar", true, {kArchiveRar}}, {L"pkg.7z", false, {}}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.package)));
        m_fakes = CFakes();
        WriteBytes(m_folder + row.package, "package");
        CCartridge cartridge(m_folder + row.package, false, L"main.dll", m_unpacked, Fakes());
        std::wstring mainFile;
        ASSERT_TRUE(cartridge.GetPluginPath(mainFile));
        EXPECT_EQ(mainFile, row.mainFileUnpacked ? m_unpacked + L"\\main.dll" : m_folder + row.package);
        EXPECT_TRUE(cartridge.Unpack());
        EXPECT_EQ(m_fakes.given, row.extractorsAsked);
        EXPECT_EQ(m_fakes.freed, row.extractorsAsked);
    }

    // An archive fails to unpack when extraction fails (the extractor given back all the same), without an
    // extractor and without its package file; it has no main file without a plug-in name.
    CCartridge archive(m_folder + L"pkg.ZIP", false, L"main.dll", m_unpacked, Fakes());
    m_fakes.extractResult = ERROR_BAD_PATHNAME;
    EXPECT_FALSE(archive.Unpack());
    EXPECT_EQ(m_fakes.freed.size(), 1u);
    m_fakes.hasExtractor = false;
    EXPECT_FALSE(archive.Unpack());
    EXPECT_FALSE(CCartridge(m_folder + L"none.zip", false, L"main.dll", m_unpacked, Fakes()).Unpack());
    std::wstring mainFile;
    EXPECT_FALSE(CCartridge(m_folder + L"pkg.zip", false, L"", m_unpacked, Fakes()).GetPluginPath(mainFile));
    EXPECT_FALSE(CCartridge(m_folder + L"pkg.zip", false, L"", m_unpacked, Fakes()).IsInstalled(L"", L""));
    // A plain package names itself as the plug-in: without a package file there is none.
    EXPECT_FALSE(CCartridge(L"", false, L"", L"", Fakes()).GetPluginPath(mainFile));
}

TEST_F(CCartridgeTest, TrustAndMd5DecideDownloadedAndInstalled)
{
    WriteBytes(m_folder + L"plugin.dll", "plug-in");
    CCartridge plain(m_folder + L"plugin.dll", false, L"", L"", Fakes());
    m_fakes.trusted = false;
    EXPECT_FALSE(plain.IsDownloaded(Wide(Md5("plug-in"))));
    EXPECT_FALSE(plain.IsInstalled(Wide(Md5("plug-in")), L""));
    m_fakes.trusted = true;
    EXPECT_TRUE(plain.IsDownloaded(Wide(Md5("plug-in", true))));
    EXPECT_TRUE(plain.IsInstalled(Wide(Md5("plug-in")), L""));
    EXPECT_FALSE(plain.IsDownloaded(Wide(Md5("other"))));
    EXPECT_FALSE(plain.IsInstalled(Wide(Md5("other")), L""));

    // An archive is downloaded whoever signed it; with no catalog MD5 it is installed once its trusted main
    // file is there.
    WriteBytes(m_folder + L"pkg.zip", "archive");
    CCartridge archive(m_folder + L"pkg.zip", false, L"main.dll", m_folder, Fakes());
    m_fakes.trusted = false;
    EXPECT_TRUE(archive.IsDownloaded(Wide(Md5("archive"))));
    m_fakes.trusted = true;
    EXPECT_FALSE(archive.IsInstalled(L"", L""));
    WriteBytes(m_folder + L"main.dll", "main");
    EXPECT_TRUE(archive.IsInstalled(L"", L""));
    m_fakes.trusted = false;
    EXPECT_FALSE(archive.IsInstalled(L"", L""));
}

TEST_F(CCartridgeTest, CatalogListsFilesThatMatchInsideTheFolder)
{
    const std::wstring folder = m_folder + L"Plugins\\";
    ::CreateDirectoryW((folder + L"sub").c_str(), nullptr);
    WriteBytes(folder + L"a.txt", "alpha");
    WriteBytes(folder + L"sub\\b.txt", "beta");
    WriteBytes(m_folder + L"outside.txt", "outside"); // matches its entries: only its place fails them
    const std::string a = "a.txt:" + Md5("alpha", true);
    const std::string b = "sub\\b.txt:" + Md5("beta");
    const std::string out = "outside.txt:" + Md5("outside");
    const std::string outside(m_folder.begin(), m_folder.end());
    const std::pair<std::string, bool> rows[] = {
        {a + "\n" + b, true}, // the last line without LF
        {a + "\r\n" + b + "\n", true},
        {"", true},
        {a + "\n\n" + b + "\n", false},
        {":" + Md5("alpha") + "\n", false},
        {a + "\nsub\\b.txt:" + Md5("gamma") + "\n", false},
        {a + "\nmissing.txt:" + Md5("alpha") + "\n", false},
        {"..\\" + out, false},
        {outside.substr(2) + out, false}, // absolute, without its drive
        {outside + out, false},
    };
    for (const auto& [text, valid] : rows)
    {
        SCOPED_TRACE(text);
        WriteBytes(folder + L"catalog.dat", text);
        EXPECT_EQ(CCartridgeCatalog(folder + L"catalog.dat").Check(folder), valid);
    }
    EXPECT_FALSE(CCartridgeCatalog(folder + L"none.dat").Check(folder));
}

TEST_F(CCartridgeTest, SelfExtractingPackageIsRunInstalledAndRemoved)
{
    // A zip extension with the flag set: run, not extracted; the folder made with its parents.
    ASSERT_TRUE(m_install.Add(L"test_child_unpack.exe", L"", L"pkg.zip"));
    CCartridge cartridge(m_folder + L"pkg.zip", true, L"plugin.dll", m_unpacked, Fakes());
    ASSERT_TRUE(cartridge.Unpack());
    EXPECT_TRUE(m_fakes.given.empty());
    EXPECT_EQ(ReadBytes(m_unpacked + L"\\plugin.dll"), "plug-in");

    const std::string catalog = "plugin.dll:" + Md5("plug-in") + "\nsub\\data.txt:" + Md5("data");
    WriteBytes(m_unpacked + L"\\catalog.dat", catalog);
    EXPECT_TRUE(cartridge.IsInstalled(L"", Wide(Md5(catalog, true))));
    EXPECT_FALSE(cartridge.IsInstalled(L"", Wide(Md5("another catalog"))));

    EXPECT_TRUE(cartridge.Remove(false));
    EXPECT_FALSE(Exists(m_unpacked));
    EXPECT_TRUE(Exists(m_folder + L"pkg.zip"));
    ASSERT_TRUE(cartridge.Unpack());
    EXPECT_TRUE(cartridge.Remove(true)); // a read-only file among them
    EXPECT_FALSE(Exists(m_unpacked));
    EXPECT_FALSE(Exists(m_folder + L"pkg.zip"));

    // One that ends with another code than 0 has not unpacked (this child wants arguments it is not given), nor
    // has one that is no program, or one whose folder cannot be made (a file holds its place).
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    ASSERT_TRUE(m_install.Add(L"test_child_launcher.exe", L"", L"fails.exe"));
    EXPECT_FALSE(CCartridge(m_folder + L"fails.exe", true, L"plugin.dll", m_unpacked, Fakes()).Unpack());
    EXPECT_TRUE(capture.Has(kCartridgeUnit, 20));
    WriteBytes(m_folder + L"text.exe", "not a program");
    EXPECT_FALSE(CCartridge(m_folder + L"text.exe", true, L"plugin.dll", m_unpacked, Fakes()).Unpack());
    EXPECT_TRUE(capture.Has(kCartridgeUnit, 18));
    WriteBytes(m_folder + L"taken", "");
    EXPECT_FALSE(CCartridge(m_folder + L"fails.exe", true, L"plugin.dll", m_folder + L"taken\\x", Fakes()).Unpack());
    EXPECT_TRUE(capture.Has(kCartridgeUnit, 17));

    // A package file held open stays, and the removal says so.
    const CFileHandle held(::CreateFileW((m_folder + L"fails.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(CCartridge(m_folder + L"fails.exe", true, L"plugin.dll", m_unpacked, Fakes()).Remove(true));
    EXPECT_TRUE(Exists(m_folder + L"fails.exe"));
    EXPECT_TRUE(capture.Has(kCartridgeUnit, 26));
}

TEST_F(CCartridgeTest, SelfExtractingPackageThatNeverEndsIsEnded)
{
    ASSERT_TRUE(m_install.Add(L"test_child_sleep.exe", L"", L"pkg.exe"));
    CCartridge cartridge(m_folder + L"pkg.exe", true, L"plugin.dll", m_unpacked, Fakes(3000));
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
    EXPECT_TRUE(::GetExitCodeProcess(child.Get(), &exitCode) && exitCode == ERROR_PROCESS_ABORTED) << exitCode;
}
} // namespace
