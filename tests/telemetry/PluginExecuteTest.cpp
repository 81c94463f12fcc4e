// The plug-in package and the "PluginExecute" processor in process: a fetch that serves the test's bytes, a
// fake extractor and publisher check, the suite's child programs as launchers, an agent install and data
// folder of the test's own.

#include "CAgentInstall.h"
#include "CFakeComponents.h"
#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "CStubComms.h"
#include "TestFiles.h"

#include "host/IDecompressor.h"
#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/TextUtil.h"
#include "telemetry/CPluginExecuteEventProcessor.h"
#include "telemetry/CTelemetryDownloadablePlugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <tuple>

namespace
{

// Splits as the communications component does, as far as the path goes.
struct CSplittingComms : CStubComms
{
    bool SplitUrl(const wchar_t* url, CommsUrlComponents* parts) override
    {
        const std::wstring_view text(url);
        const std::size_t host = text.find(L"://") == std::wstring_view::npos ? 0 : text.find(L"://") + 3;
        const std::size_t path = std::min(text.find(L'/', host), text.size());
        parts->m_path = url + path;
        parts->m_pathLength = static_cast<DWORD>(std::min(text.find_first_of(L"?#", path), text.size()) - path);
        return true;
    }
};

// The server's package and the archive's content as the test says; counts fetches and extractions.
struct CServed : IDecompressor
{
    std::string package = "plug-in bytes";
    DWORD fetchError = ERROR_SUCCESS;   // recorded instead of serving
    std::string catalogLine;            // for an archive: "catalog.dat" as unpacked; empty: catalog entry valid
    int fetches = 0, extractions = 0;

    DWORD Extract(const std::wstring&, const std::wstring& folder, std::vector<std::wstring>&) override
    {
        ++extractions;
        std::wstring md5;
        static_cast<void>(Md5HexOfBuffer("main", 4, md5));
        static_cast<void>(::CreateDirectoryW(folder.c_str(), nullptr));
        WriteBytes(folder + L"tool.exe", "main");
        WriteBytes(folder + L"catalog.dat", catalogLine.empty() ? "tool.exe:" + WideToUtf8(md5) : catalogLine);
        return ERROR_SUCCESS;
    }
};
CServed g_served;

std::wstring Md5(const std::string& bytes)
{
    std::wstring hex;
    EXPECT_EQ(Md5HexOfBuffer(bytes.data(), bytes.size(), hex), static_cast<DWORD>(ERROR_SUCCESS));
    return hex;
}

std::wstring Md5OfText(const std::wstring& text)
{
    std::wstring hex;
    EXPECT_EQ(Md5HexOfString(text.c_str(), hex), static_cast<DWORD>(ERROR_SUCCESS));
    return hex;
}

class PluginExecuteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_served = CServed();
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName",
                                            L"Plugin Test " + std::to_wstring(::GetCurrentProcessId())) &&
                    m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        ASSERT_EQ(MakeFolderTree(m_data + L"Config"), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_TRUE(m_install.Add(L"test_child_launcher.exe", L"Additional files", L"Wexler.exe"));
        m_services.package.components = &m_components;
        m_services.package.cartridge.isTrusted = [](const wchar_t*) { return true; };
        m_services.package.cartridge.getExtractor = [](DWORD) -> IDecompressor* { return &g_served; };
        m_services.package.cartridge.freeExtractor = [](DWORD, IDecompressor** extractor) { *extractor = nullptr; };
        m_services.package.fetch = [this](const std::vector<IDownloadableFile*>& files) {
            ++g_served.fetches;
            if (g_served.fetchError != ERROR_SUCCESS)
                return files[0]->SetLastError(g_served.fetchError), true;
            const std::wstring temp = m_data + L"Downloads\\Temp\\fetched.tmp";   // as the download places it
            static_cast<void>(MakeFolderTree(m_data + L"Downloads\\Temp"));
            WriteBytes(temp, g_served.package);
            if (files[0]->VerifyDownload(temp))
                files[0]->CommitDownload(temp, L"");
            else
                files[0]->SetLastError(ERROR_INVALID_DATA), ::DeleteFileW(temp.c_str());
            return true;
        };
    }

    void TearDown() override { EXPECT_TRUE(RemoveTree(m_company)); }

    CTelemetryPluginPackage Package(const std::wstring& source, const std::wstring& catalogMd5 = L"")
    {
        return CTelemetryPluginPackage(L"plugin-1", L"tool.exe", L"", {source, Md5(g_served.package), catalogMd5},
                                       &m_config, &m_dispatcher, nullptr, m_services.package);
    }

    DWORD Process(const std::string& event)
    {
        CMessageObject payload;
        EXPECT_TRUE(payload.FromUtf8Json(event));
        return CPluginExecuteEventProcessor(&m_config, &m_dispatcher, nullptr, m_services).Process(&payload);
    }

    std::string Event(const std::string& extra, const std::string& id = "plugin-1")
    {
        return R"({"PluginId":")" + id + R"(","PluginName":"tool.exe","Cartridge":{"SourcePath":)"
               R"("http://server.test/pkg/tool.exe","SourceMd5":")" + WideToUtf8(Md5(g_served.package)) + "\"}" +
               extra + "}";
    }

    CAgentInstall m_install;
    CFakeConfigUtil m_config;
    CNoDispatcher m_dispatcher;
    CSplittingComms m_comms;
    CFakeComponents m_components{&m_comms};
    PluginExecuteServices m_services;
    std::wstring m_company, m_data;
};

TEST(CGenericRepositoryDownloadableResourceTest, RepositoryUrlIsHttpHostAndDigestOfAfterScheme)
{
    const std::tuple<std::wstring, std::wstring> rows[] = {
        {L"https://cdn.test:8443/pkg/a.zip", L"cdn.test:8443"}, {L"ftp://cdn.test/a.zip", L"cdn.test"},
        {L"cdn.test/a.zip", L"cdn.test"}};
    for (const auto& [url, host] : rows)
    {
        const std::wstring rest = url.substr(url.find(L"://") == std::wstring::npos ? 0 : url.find(L"://") + 3);
        std::wstring digest;
        ASSERT_EQ(Sha256HexOfBuffer(rest.data(), rest.size() * 2, digest), static_cast<DWORD>(ERROR_SUCCESS));
        const CTelemetryDownloadablePlugin file(url, L"", L"");
        EXPECT_EQ(file.GetRepositoryUrl(), L"http://" + host + L"/" + digest);
        EXPECT_EQ(file.GetFullUrl(), url);
    }
    EXPECT_EQ(CTelemetryDownloadablePlugin(L"http://", L"", L"").GetRepositoryUrl(), L"http://");
}

TEST_F(PluginExecuteTest, PackageFileNamedByLastSegmentElseByDigestOfSource)
{
    const std::tuple<std::wstring, std::wstring> rows[] = {
        {L"http://server.test/pkg/tool.exe?v=2", L"tool.exe"}, {L"http://server.test", L""},
        {L"http://server.test/pkg/", L""}, {L"http://server.test/pkg/..", L""}, {L"http://server.test/a:b", L""}};
    for (const auto& [source, name] : rows)
    {
        SCOPED_TRACE(WideToUtf8(source));
        std::wstring plugin, launcher;
        ASSERT_EQ(Package(source).Prepare(plugin, launcher), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(plugin, m_data + L"Downloads\\" + (name.empty() ? Md5OfText(source) : name));
        EXPECT_EQ(launcher, L"");
        EXPECT_EQ(Package(source).Cleanup(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_FALSE(Exists(plugin));
    }
}

// An archive: fetched and unpacked once, then reused; unpacked again without a fetch when only the folder
// changed; fetched again when the package file changed; nothing left after any failure.
TEST_F(PluginExecuteTest, ArchiveReusedUnpackedAgainOrFetchedAgain)
{
    g_served.package = "archive bytes";
    const std::wstring source = L"http://server.test/pkg/sample.zip";
    const std::wstring catalogMd5 = Md5("tool.exe:" + WideToUtf8(Md5("main")));
    const std::wstring packageFile = m_data + L"Downloads\\sample.zip", folder = m_data + L"Downloads\\plugin-1\\";
    std::wstring plugin, launcher;
    const auto prepare = [&](int fetches, int extractions) {
        EXPECT_EQ(Package(source, catalogMd5).Prepare(plugin, launcher), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(plugin, folder + L"tool.exe");
        EXPECT_EQ(std::make_pair(g_served.fetches, g_served.extractions), std::make_pair(fetches, extractions));
    };
    prepare(1, 1);
    prepare(1, 1);
    WriteBytes(folder + L"tool.exe", "changed");
    prepare(1, 2);
    WriteBytes(packageFile, "changed");
    WriteBytes(folder + L"tool.exe", "changed");
    prepare(2, 3);

    g_served.catalogLine = "tool.exe:" + WideToUtf8(Md5("other"));   // a catalogued file that does not match
    const std::wstring badCatalogMd5 = Md5(g_served.catalogLine);
    WriteBytes(packageFile, "changed");
    EXPECT_EQ(Package(source, badCatalogMd5).Prepare(plugin, launcher),
              static_cast<DWORD>(ERROR_INSTALL_PACKAGE_INVALID));
    EXPECT_FALSE(Exists(packageFile) || Exists(folder));
    g_served.fetchError = 404;
    EXPECT_EQ(Package(source, catalogMd5).Prepare(plugin, launcher), 404u);
    EXPECT_FALSE(Exists(packageFile) || Exists(folder));

    g_served = CServed();
    g_served.package = "archive bytes";
    prepare(1, 1);
    const CFileHandle held(::CreateFileW((folder + L"tool.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(Package(source, catalogMd5).Cleanup(), static_cast<DWORD>(ERROR_UNABLE_TO_CLEAN));
}

// The launcher gets the configuration file's path, finds the Part's members in order, and the file is gone
// afterwards; the package goes unless "Reuse" is the Boolean true (a string "false" is no Boolean).
TEST_F(PluginExecuteTest, LauncherRunsOnItsConfigurationFile)
{
    const std::string package = WideToUtf8(m_data) + "Downloads\\tool.exe";
    std::string escaped = package;
    for (std::size_t at = escaped.find('\\'); at != std::string::npos; at = escaped.find('\\', at + 2))
        escaped.insert(at, 1, '\\');
    const std::tuple<std::string, std::string, std::string, bool> rows[] = {
        {R"(,"Parameters":[{"Name":"a","Value":"1"},7,{"Name":"b"},{"Name":"","Value":""}],"OperationId":"op-1",)"
         R"("Owner":"me","Reuse":"false")",
         R"(_op-1_)",
         R"({"Plugin":")" + escaped + R"(","Parameters":[{"Name":"a","Value":"1"},{"Name":"","Value":""}],)"
         R"("Reuse":true,"OperationId":"op-1","Owner":"me"})",
         true},
        {R"(,"Parameters":{"Name":"a","Value":"1"},"Reuse":false,"LauncherPluginName":"other.exe")", "_",
         R"({"Plugin":")" + escaped + R"(","Reuse":false,"OperationId":"","Owner":""})", false}};
    for (const auto& [extra, namePart, config, kept] : rows)
    {
        SCOPED_TRACE(extra);
        EXPECT_EQ(Process(Event(extra)), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ReadBytes(m_install.Folder() + L"seen.cfg"), config);
        const std::string path = ReadBytes(m_install.Folder() + L"seen.path");
        EXPECT_EQ(path.rfind(WideToUtf8(m_data) + "Config\\plugin-1" + namePart, 0), 0u) << path;
        EXPECT_EQ(path.size(), WideToUtf8(m_data).size() + 7 + 8 + namePart.size() + 36 + 4) << path;
        EXPECT_FALSE(Exists(Utf8ToWide(path)));
        EXPECT_EQ(Exists(Utf8ToWide(package)), kept);
    }
}

TEST_F(PluginExecuteTest, FailuresAnswerWithTheirNumber)
{
    const std::wstring downloads = m_data + L"Downloads";
    for (const char* id : {"..", "a\\\\b", "a:b", ""})   // nothing touched on disk
        EXPECT_EQ(Process(Event(R"(,"Reuse":false)", id)), static_cast<DWORD>(ERROR_INVALID_NAME)) << id;
    EXPECT_FALSE(Exists(downloads));
    EXPECT_EQ(Process(R"({"PluginId":"p","Reuse":false})"), static_cast<DWORD>(ERROR_INVALID_DATA));

    m_services.package.cartridge.isTrusted = [](const wchar_t* path) {
        return std::wstring(path).find(L"Wexler") == std::wstring::npos;
    };
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(CRYPT_E_NO_TRUSTED_SIGNER));
    EXPECT_FALSE(Exists(m_install.Folder() + L"seen.cfg"));
    m_services.package.cartridge.isTrusted = [](const wchar_t*) { return true; };
    ASSERT_TRUE(m_install.Remove(L"Additional files", L"Wexler.exe"));
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // A launcher that outlasts the wait is left running; its configuration file goes all the same.
    ASSERT_TRUE(m_install.Add(L"test_child_sleep.exe", L"Additional files", L"Wexler.exe"));
    m_services.launcherWaitMs = 300;
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_TIMEOUT));
    const CHandle sleeper(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                        std::stoul("0" + ReadBytes(m_install.Folder() + L"sleeper.pid"))));
    ASSERT_TRUE(sleeper);
    EXPECT_TRUE(::TerminateProcess(sleeper.Get(), 0) && ::WaitForSingleObject(sleeper.Get(), 5000) == WAIT_OBJECT_0);
    WIN32_FIND_DATAW found{};
    EXPECT_FALSE(CFindHandle(::FindFirstFileW((m_data + L"Config\\*.cfg").c_str(), &found)));
}

} // namespace
