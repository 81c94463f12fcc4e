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

namespace
{

// Splits as the communications component does, as far as the path goes; or fails without saying why.
struct CSplittingComms : CStubComms
{
    bool splits = true;

    bool SplitUrl(const wchar_t* url, CommsUrlComponents* parts) override
    {
        if (!splits)
        {
            ::SetLastError(ERROR_SUCCESS);
            return false;
        }
        const std::wstring_view text(url);
        const std::size_t host = text.find(L"://") == std::wstring_view::npos ? 0 : text.find(L"://") + 3;
        const std::size_t path = std::min(text.find(L'/', host), text.size());
        parts->m_path = url + path;
        parts->m_pathLength = static_cast<DWORD>(std::min(text.find_first_of(L"?#", path), text.size()) - path);
        return true;
    }
};

std::wstring Md5(const std::string& bytes)
{
    std::wstring hex;
    EXPECT_EQ(Md5HexOfBuffer(bytes.data(), bytes.size(), hex), static_cast<DWORD>(ERROR_SUCCESS));
    return hex;
}

// What one fetch of the batch downloader does with the package.
enum class Fetch
{
    Serves,
    RecordsError,  // the server's 404
    LosesTempFile, // the downloaded file is gone before the commit
    BringsNothing, // reports success, but nothing arrived and nothing was recorded
};

// The server's package and the archive's content as the test says; counts fetches and extractions.
struct CServed : IDecompressor
{
    std::string package = "plug-in bytes";
    Fetch fetch = Fetch::Serves;
    std::string catalogLine; // "catalog.dat" as unpacked; empty: the entry for tool.exe, valid
    DWORD extractError = ERROR_SUCCESS;
    bool shipsLauncher = false; // bin\launch.exe, a launcher of the package's own
    int fetches = 0, extractions = 0;

    DWORD Extract(const std::wstring&, const std::wstring& folder, std::vector<std::wstring>&) override
    {
        ++extractions;
        if (extractError != ERROR_SUCCESS)
            return extractError;
        static_cast<void>(MakeFolderTree(folder + L"bin"));
        WriteBytes(folder + L"tool.exe", "main");
        WriteBytes(folder + L"catalog.dat", catalogLine.empty() ? "tool.exe:" + WideToUtf8(Md5("main")) : catalogLine);
        if (shipsLauncher)
        {
            EXPECT_TRUE(::CopyFileW((CAgentInstall::BuildFolder() + L"test_child_launcher.exe").c_str(),
                                    (folder + L"bin\\launch.exe").c_str(), FALSE));
        }
        return ERROR_SUCCESS;
    }
};

class PluginExecuteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName",
                                            L"Plugin Test " + std::to_wstring(::GetCurrentProcessId())) &&
                    m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        ASSERT_EQ(MakeFolderTree(m_data + L"Config"), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_TRUE(m_install.Add(L"test_child_launcher.exe", L"Additional files", L"Wexler.exe"));
        m_services.components = &m_components;
        m_services.isTrusted = [](const wchar_t*) { return true; };
        m_services.getExtractor = [this](DWORD) -> IDecompressor* { return &m_served; };
        m_services.freeExtractor = [](DWORD, IDecompressor** extractor) { *extractor = nullptr; };
        m_services.fetch = [this](const std::vector<IDownloadableFile*>& files, IConfigUtil*, IDispatcherHelper*,
                                  ILogService*) { return Serve(*files[0]); };
    }

    void TearDown() override { EXPECT_TRUE(RemoveTree(m_company)); }

    // As the batch downloader does it: into a temporary file, verified, then committed.
    bool Serve(IDownloadableFile& file)
    {
        ++m_served.fetches;
        const std::wstring temp = m_data + L"Downloads\\Temp\\fetched.tmp";
        static_cast<void>(MakeFolderTree(m_data + L"Downloads\\Temp"));
        switch (m_served.fetch)
        {
        case Fetch::RecordsError: file.SetLastError(404); return true;
        case Fetch::BringsNothing: return true;
        case Fetch::LosesTempFile: file.CommitDownload(temp, L""); return true;
        case Fetch::Serves: break;
        }
        WriteBytes(temp, m_served.package);
        if (file.VerifyDownload(temp))
            file.CommitDownload(temp, L"");
        else
            file.SetLastError(ERROR_INVALID_DATA);
        ::DeleteFileW(temp.c_str());
        return true;
    }

    CTelemetryPluginPackage Package(const std::wstring& source, const std::wstring& catalogMd5 = L"")
    {
        return CTelemetryPluginPackage(L"plugin-1", L"tool.exe", L"", {source, Md5(m_served.package), catalogMd5},
                                       &m_config, &m_dispatcher, nullptr, m_services);
    }

    DWORD Process(const CMessageObject& event)
    {
        CMessageObject payload = event;
        return CPluginExecuteEventProcessor(&m_config, &m_dispatcher, nullptr, m_services).Process(&payload);
    }

    DWORD Process(const std::string& json)
    {
        CMessageObject payload;
        EXPECT_TRUE(payload.FromUtf8Json(json));
        return Process(payload);
    }

    // "plugin-1" with "tool.exe" as its main file, from a plain package (or an archive), and these members.
    std::string Event(const std::string& extra, const std::string& package = "tool.exe")
    {
        const std::string catalog = "tool.exe:" + WideToUtf8(Md5("main"));
        return R"({"PluginId":"plugin-1","PluginName":"tool.exe","Cartridge":{"SourcePath":"http://server.test/pkg/)" +
               package + R"(","SourceMd5":")" + WideToUtf8(Md5(m_served.package)) + R"(","CatalogMd5":")" +
               WideToUtf8(Md5(catalog)) + "\"}" + extra + "}";
    }

    int ConfigFiles() const { return static_cast<int>(FilesBelow(m_data + L"Config").size()); }

    CAgentInstall m_install;
    CFakeConfigUtil m_config;
    CNoDispatcher m_dispatcher;
    CSplittingComms m_comms;
    CFakeComponents m_components{&m_comms};
    CServed m_served;
    PluginExecuteServices m_services;
    std::wstring m_company, m_data;
};

TEST(CGenericRepositoryDownloadableResourceTest, RepositoryUrlIsHttpHostAndDigestOfAfterScheme)
{
    // SHA-256 of the UTF-16LE text after "://", as sha256sum gives it for that text written out in UTF-16LE.
    const struct
    {
        const wchar_t *url, *repositoryUrl;
    } rows[] = {
        {L"https://cdn.test:8443/pkg/a.zip",
         L"http://cdn.test:8443/35d7ecc02cf1c7c3e2a7e93db42ef6ec64d29b6cddf4753001bc9a3c08fe4839"},
        {L"ftp://cdn.test/a.zip", L"http://cdn.test/00f677003dd5483ee313db2528a662a1e27c29fe71a337ae88fed8fbca8754aa"},
        {L"cdn.test/a.zip", L"http://cdn.test/00f677003dd5483ee313db2528a662a1e27c29fe71a337ae88fed8fbca8754aa"},
        {L"http://", L"http://"}, // nothing after the scheme: the URL itself
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(WideToUtf8(row.url));
        const CTelemetryDownloadablePlugin file(row.url, L"", L"");
        EXPECT_EQ(file.GetRepositoryUrl(), row.repositoryUrl);
        EXPECT_EQ(file.GetFullUrl(), row.url);
    }
}

TEST_F(PluginExecuteTest, PackageFileNamedByLastSegmentElseByDigestOfSource)
{
    // fileName null: the MD5 text of the whole source. Which names are plain is the path helpers' to say.
    const struct
    {
        const wchar_t *source, *fileName;
    } rows[] = {
        {L"http://server.test/pkg/tool.exe?v=2", L"tool.exe"},
        {L"http://server.test", nullptr},
        {L"http://server.test/pkg/..", nullptr},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(WideToUtf8(row.source));
        std::wstring md5;
        ASSERT_EQ(Md5HexOfString(row.source, md5), static_cast<DWORD>(ERROR_SUCCESS));
        std::wstring plugin, launcher;
        ASSERT_EQ(Package(row.source).Prepare(plugin, launcher), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(plugin, m_data + L"Downloads\\" + (row.fileName != nullptr ? row.fileName : md5));
        EXPECT_EQ(launcher, L"");
        EXPECT_EQ(Package(row.source).Cleanup(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_FALSE(Exists(plugin));
    }

    // A source the component cannot split, without an error of its own, is no success.
    m_comms.splits = false;
    std::wstring plugin, launcher;
    EXPECT_EQ(Package(L"http://server.test/pkg/tool.exe").Prepare(plugin, launcher), 12005u);
    EXPECT_EQ(plugin, L"");
    // Without the communications component, or without its interface, there is no name and no fetch.
    m_components.commsLoads = false;
    EXPECT_EQ(Package(L"http://server.test/pkg/tool.exe").Prepare(plugin, launcher),
              static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    m_components.commsLoads = true;
    m_components.comms = nullptr;
    EXPECT_EQ(Package(L"http://server.test/pkg/tool.exe").Prepare(plugin, launcher),
              static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(m_served.fetches, 3);
}

// An archive: fetched and unpacked once, then reused; unpacked again without a fetch when only the folder
// changed; fetched again when the package file changed.
TEST_F(PluginExecuteTest, ArchiveReusedUnpackedAgainOrFetchedAgain)
{
    m_served.package = "archive bytes";
    const std::wstring source = L"http://server.test/pkg/sample.zip";
    const std::wstring catalogMd5 = Md5("tool.exe:" + WideToUtf8(Md5("main")));
    const std::wstring packageFile = m_data + L"Downloads\\sample.zip", folder = m_data + L"Downloads\\plugin-1\\";
    const auto prepare = [&](int fetches, int extractions) {
        std::wstring plugin, launcher;
        EXPECT_EQ(Package(source, catalogMd5).Prepare(plugin, launcher), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(plugin, folder + L"tool.exe");
        EXPECT_EQ(m_served.fetches, fetches);
        EXPECT_EQ(m_served.extractions, extractions);
    };
    prepare(1, 1);
    prepare(1, 1);
    WriteBytes(folder + L"tool.exe", "changed");
    prepare(1, 2);
    WriteBytes(packageFile, "changed");
    WriteBytes(folder + L"tool.exe", "changed");
    prepare(2, 3);

    const CFileHandle held(::CreateFileW((folder + L"tool.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(Package(source, catalogMd5).Cleanup(), static_cast<DWORD>(ERROR_UNABLE_TO_CLEAN));
}

// Nothing of a check is kept between events: a package in place is hashed and its publisher checked on every
// event again, so that a file changed in between is refused.
TEST_F(PluginExecuteTest, PackageInPlaceIsCheckedAgainOnEveryEvent)
{
    const std::wstring package = m_data + L"Downloads\\tool.exe";
    int checks = 0;
    m_services.isTrusted = [&](const wchar_t* path) {
        checks += package == path;
        return true;
    };
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(checks, 2);
    EXPECT_EQ(m_served.fetches, 1);

    WriteBytes(package, "plug-in bytez"); // as long as the original
    m_served.fetch = Fetch::RecordsError;
    ASSERT_TRUE(::DeleteFileW((m_install.Folder() + L"seen.path").c_str()));
    EXPECT_EQ(Process(Event("")), 404u);
    EXPECT_EQ(checks, 3);
    EXPECT_FALSE(Exists(package));
    EXPECT_FALSE(Exists(m_install.Folder() + L"seen.path")); // the launcher did not run
}

// Whatever fails on the way to an unpacked, verified package, nothing of it stays under "Downloads".
TEST_F(PluginExecuteTest, FailedFetchUnpackOrCheckLeavesNothing)
{
    const struct
    {
        const char* what;
        Fetch fetch;
        DWORD extractError;
        const char* catalog;
        DWORD status;
    } rows[] = {
        {"the server's 404", Fetch::RecordsError, ERROR_SUCCESS, "", 404},
        {"a commit that fails", Fetch::LosesTempFile, ERROR_SUCCESS, "", ERROR_CANNOT_COPY},
        {"success with nothing arrived", Fetch::BringsNothing, ERROR_SUCCESS, "", ERROR_REQUEST_REFUSED},
        {"an unpack that fails", Fetch::Serves, ERROR_BAD_FORMAT, "", kUnpackFailed},
        {"a catalog that does not match", Fetch::Serves, ERROR_SUCCESS, "tool.exe:0123456789abcdef0123456789abcdef",
         ERROR_INSTALL_PACKAGE_INVALID},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.what);
        m_served.fetch = row.fetch;
        m_served.extractError = row.extractError;
        m_served.catalogLine = row.catalog;
        // Kept for reuse: what goes, the failure itself removed.
        EXPECT_EQ(Process(Event("", "sample.zip")), row.status);
        EXPECT_EQ(FilesBelow(m_data + L"Downloads"), std::vector<std::wstring>{});
        EXPECT_FALSE(Exists(m_data + L"Downloads\\plugin-1"));
        EXPECT_EQ(ConfigFiles(), 0);
    }
}

// The launcher gets the configuration file's path, finds its members in order, and the file is gone
// afterwards; the package goes unless "Reuse" is the Boolean true (a string "false" is no Boolean).
TEST_F(PluginExecuteTest, LauncherRunsOnItsConfigurationFile)
{
    const std::string package = WideToUtf8(m_data) + "Downloads\\tool.exe";
    const std::string escaped = JsonEscaped(package);
    // nameAfterId: in the configuration file's name, before its UUID.
    const struct
    {
        std::string extra, nameAfterId, config;
        bool packageKept;
    } rows[] = {
        {R"(,"Parameters":[{"Name":"a","Value":"1"},7,{"Name":"b"},{"Name":"","Value":""}],"OperationId":"op-1",)"
         R"("Owner":"me","Reuse":"false")",
         "_op-1_",
         R"({"Plugin":")" + escaped +
             R"(","Parameters":[{"Name":"a","Value":"1"},{"Name":"","Value":""}],)"
             R"("Reuse":true,"OperationId":"op-1","Owner":"me"})",
         true},
        {R"(,"Parameters":{"Name":"a","Value":"1"},"Reuse":false)", "_",
         R"({"Plugin":")" + escaped + R"(","Reuse":false,"OperationId":"","Owner":""})", false}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.extra);
        EXPECT_EQ(Process(Event(row.extra)), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ReadBytes(m_install.Folder() + L"seen.cfg"), row.config);
        const std::string path = ReadBytes(m_install.Folder() + L"seen.path");
        EXPECT_EQ(path.rfind(WideToUtf8(m_data) + "Config\\plugin-1" + row.nameAfterId, 0), 0u) << path;
        EXPECT_EQ(path.size(), WideToUtf8(m_data).size() + 7 + 8 + row.nameAfterId.size() + 36 + 4) << path;
        EXPECT_EQ(ConfigFiles(), 0);
        EXPECT_EQ(Exists(Utf8ToWide(package)), row.packageKept);
    }
}

// In an archive the main file is "LauncherPluginName" when it is given; "PluginLauncher" runs a launcher of
// the package's own in place of the agent's, once its publisher is trusted.
TEST_F(PluginExecuteTest, MainFileAndLauncherOfAnArchive)
{
    m_served.package = "archive bytes";
    m_served.shipsLauncher = true;
    const std::string folder = JsonEscaped(WideToUtf8(m_data) + "Downloads\\plugin-1\\");
    EXPECT_EQ(Process(Event(R"(,"PluginName":"missing.exe","LauncherPluginName":"tool.exe")", "sample.zip")),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadBytes(m_install.Folder() + L"seen.cfg").rfind(R"({"Plugin":")" + folder + R"(tool.exe",)", 0), 0u);
    EXPECT_EQ(Process(Event(R"(,"LauncherPluginName":"other.exe")", "sample.zip")),
              static_cast<DWORD>(ERROR_INSTALL_PACKAGE_INVALID)); // no such main file in the archive

    // The agent's own launcher is gone: only the package's can have run.
    ASSERT_TRUE(m_install.Remove(L"Additional files", L"Wexler.exe"));
    ASSERT_TRUE(::DeleteFileW((m_install.Folder() + L"seen.path").c_str()));
    EXPECT_EQ(Process(Event(R"(,"PluginLauncher":"bin\\launch.exe")", "sample.zip")),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ReadBytes(m_install.Folder() + L"seen.path").rfind(WideToUtf8(m_data) + "Config\\plugin-1_", 0), 0u);

    ASSERT_TRUE(::DeleteFileW((m_install.Folder() + L"seen.path").c_str()));
    m_services.isTrusted = [](const wchar_t* path) {
        return std::wstring(path).find(L"launch.exe") == std::wstring::npos;
    };
    EXPECT_EQ(Process(Event(R"(,"PluginLauncher":"bin/launch.exe")", "sample.zip")),
              static_cast<DWORD>(CRYPT_E_NO_TRUSTED_SIGNER));
    EXPECT_FALSE(Exists(m_install.Folder() + L"seen.path"));
    EXPECT_EQ(ConfigFiles(), 0);

    // Without the install folder the launcher has nowhere to run: nothing is written.
    m_services.isTrusted = [](const wchar_t*) { return true; };
    ASSERT_TRUE(m_install.RemoveSetupValue(L"Path"));
    EXPECT_EQ(Process(Event(R"(,"PluginLauncher":"bin\\launch.exe")", "sample.zip")),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Exists(m_install.Folder() + L"seen.path"));
    EXPECT_EQ(ConfigFiles(), 0);
}

// A name from the event that would lead out of its folder, or name a device, is refused before anything is
// fetched, written or removed.
TEST_F(PluginExecuteTest, HostileNamesTouchNothing)
{
    const std::pair<const wchar_t*, std::vector<const wchar_t*>> names[] = {
        // The system drops trailing dots and blanks: "..." and " . " are Downloads itself.
        {L"PluginId", {L"..", L"a\\b", L"a:b", L"", L"NUL", L"con.txt", L"COM1 ", L"lpt9...", L"...", L" . "}},
        {L"OperationId", {L"\\..\\..\\x", L"../x", L"a:b", L"a*b", L"a\nb"}},
        {L"PluginName", {L"..\\..\\x.exe", L"C:\\Windows\\x.exe"}},
        {L"LauncherPluginName", {L"bin\\..\\..\\x.exe"}},
        {L"PluginLauncher", {L"..\\..\\..\\Program Files\\X\\any.exe", L"bin\\aux", L"bin\\ "}},
    };
    // What the names point at, if they were followed.
    WriteBytes(m_data + L"x.exe", "kept");
    WriteBytes(m_install.Folder() + L"x.exe", "kept");
    for (const auto& [member, values] : names)
        for (const wchar_t* value : values)
        {
            SCOPED_TRACE(WideToUtf8(member) + " " + testing::PrintToString(std::wstring(value)));
            CMessageObject event;
            ASSERT_TRUE(event.FromUtf8Json(Event(R"(,"Reuse":false)")));
            event.AddString(member, value);
            EXPECT_EQ(Process(event), static_cast<DWORD>(ERROR_INVALID_NAME));
        }
    EXPECT_EQ(m_served.fetches, 0);
    EXPECT_FALSE(Exists(m_data + L"Downloads"));
    EXPECT_EQ(ConfigFiles(), 0);
    EXPECT_FALSE(Exists(m_install.Folder() + L"seen.path"));
    EXPECT_EQ(ReadBytes(m_data + L"x.exe"), "kept");
    EXPECT_EQ(ReadBytes(m_install.Folder() + L"x.exe"), "kept");

    // A sub-folder of the package stays fine.
    EXPECT_EQ(Process(Event(R"(,"PluginName":"bin\\tool.exe")")), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(PluginExecuteTest, FailuresAnswerWithTheirNumber)
{
    EXPECT_EQ(Process(R"({"PluginId":"p","Reuse":false})"), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(CPluginExecuteEventProcessor(&m_config, &m_dispatcher, nullptr, m_services).Process(nullptr),
              static_cast<DWORD>(ERROR_INVALID_DATA));

    // The package is gone once its publisher is checked: it counts as invalid and the launcher is not started.
    m_services.isTrusted = [](const wchar_t* path) {
        ::DeleteFileW(path);
        return true;
    };
    EXPECT_EQ(Process(Event(R"(,"Reuse":false)")), static_cast<DWORD>(ERROR_INSTALL_PACKAGE_INVALID));
    EXPECT_FALSE(Exists(m_install.Folder() + L"seen.cfg"));

    m_services.isTrusted = [](const wchar_t*) { return true; };

    // No "Config" folder: it is the agent's to make, so nothing is made and nothing written.
    ASSERT_TRUE(RemoveTree(m_data + L"Config"));
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_FILE_INVALID));
    EXPECT_FALSE(Exists(m_data + L"Config"));
    EXPECT_FALSE(Exists(m_install.Folder() + L"seen.cfg"));
    ASSERT_EQ(MakeFolderTree(m_data + L"Config"), static_cast<DWORD>(ERROR_SUCCESS));

    // A "Wexler.exe" that is no program: the system's own answer.
    WriteBytes(m_install.Folder() + L"Additional files\\Wexler.exe", "not a program");
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(ConfigFiles(), 0);

    // A launcher that outlasts the wait is left running; its configuration file goes all the same.
    ASSERT_TRUE(m_install.Add(L"test_child_sleep.exe", L"Additional files", L"Wexler.exe"));
    m_services.launcherWaitMs = 300;
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_TIMEOUT));
    const CHandle sleeper(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                        std::stoul("0" + ReadBytes(m_install.Folder() + L"sleeper.pid"))));
    ASSERT_TRUE(sleeper);
    EXPECT_TRUE(::TerminateProcess(sleeper.Get(), 0) && ::WaitForSingleObject(sleeper.Get(), 5000) == WAIT_OBJECT_0);
    EXPECT_EQ(ConfigFiles(), 0);

    // Without the install folder there is no standard launcher.
    ASSERT_TRUE(m_install.RemoveSetupValue(L"Path"));
    EXPECT_EQ(Process(Event("")), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

} // namespace
