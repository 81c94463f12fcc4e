// "PluginExecute" with real servers and real archivers: the package comes over HTTPS from nginx serving a
// folder, also through tinyproxy asking for credentials, and zip packages are made at test time by Info-ZIP and
// 7-Zip from the signed sample plug-in. Each row says what nginx, the proxy or the plug-in saw.

#include "PluginEndToEndTest.h"

#include "platform/Digest.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace
{

constexpr char kSample[] = "TelemetrySample.exe";
constexpr char kNested[] = "Sample Plugins\\Version 1\\TelemetrySample.exe";
constexpr DWORD kUnpackFailed = 605;
constexpr DWORD kSecureChannelError = 12157; // ERROR_WINHTTP_SECURE_CHANNEL_ERROR

struct Archiver
{
    const wchar_t* program;
    const wchar_t* package; // Debian's, named when the program is missing
};
const Archiver kZip{L"/usr/bin/zip", L"zip"};
const Archiver k7zz{L"/usr/bin/7zz", L"7zip"};

// The archiver runs in the staging folder ($1) on what is there; streamed, it writes to standard output, which
// goes to the archive ($2).
constexpr wchar_t kInFolder[] = L"cd \"$1\" && shift 2 && exec \"$@\"";
constexpr wchar_t kStreamedInFolder[] = L"cd \"$1\" && out=$2 && shift 2 && exec \"$@\" > \"$out\"";

// A package as the event names it.
struct Package
{
    std::string name, md5, catalogMd5, pluginName;
};

std::string Md5Of(const std::wstring& path)
{
    std::wstring hex;
    return Md5HexOfFile(path.c_str(), hex) == ERROR_SUCCESS ? WideToUtf8(hex) : std::string();
}

// What text gained since it was size bytes long.
std::string Since(const std::string& text, std::size_t size)
{
    return text.size() > size ? text.substr(size) : std::string();
}

class RealPackagesTest : public RealServersEndToEndTest
{
protected:
    void SetUp() override
    {
        RealServersEndToEndTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(MakeFolderTree(m_served), static_cast<DWORD>(ERROR_SUCCESS));
        Configure("");
        StartNginx(m_served);
    }

    // Utils\config.json in test mode (exchange traces kept), with the proxy routes as plain JSON when given.
    void Configure(const std::string& routes)
    {
        WriteConfiguration(R"(,"Register.Agent.TestMode":"1")" +
                           (routes.empty() ? "" : R"(,"Proxy.Default.FallbackList":{"ProxyConfig":[)" + routes + "]}"));
    }

    // name in the served folder: the archiver with its options, then the archive, "catalog.dat" and the
    // sample's top folder (or the sample itself). The catalog lists the sample at pluginName with its MD5.
    Package Make(const std::string& name, const Archiver& archiver, const std::vector<std::wstring>& options,
                 bool streamed, const std::string& pluginName)
    {
        Package package{name, "", "", pluginName};
        if (!IsUnixProgram(archiver.program))
        {
            ADD_FAILURE() << WideToUtf8(archiver.program) << " is not installed: scripts/setup installs it (Debian "
                          << "package " << WideToUtf8(archiver.package) << ")";
            return package;
        }
        const std::wstring stage = m_install.Folder() + L"Stage\\", archive = m_served + Utf8ToWide(name);
        const std::wstring plugin = stage + Utf8ToWide(pluginName);
        EXPECT_TRUE(RemoveTree(stage));
        ::DeleteFileW(archive.c_str());
        EXPECT_EQ(MakeFolderTree(plugin.substr(0, plugin.rfind(L'\\'))), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_TRUE(::CopyFileW((CAgentInstall::BuildFolder() + L"..\\packages\\" + Utf8ToWide(kSample)).c_str(),
                                plugin.c_str(), FALSE));
        WriteBytes(stage + L"catalog.dat", pluginName + ":" + Md5Of(plugin) + "\n");
        std::vector<std::wstring> line = {L"/bin/sh", L"-c", streamed ? kStreamedInFolder : kInFolder};
        line.insert(line.end(), {L"archiver", UnixPathOf(stage), UnixPathOf(archive), archiver.program});
        line.insert(line.end(), options.begin(), options.end());
        line.insert(line.end(), {streamed ? L"-" : UnixPathOf(archive), L"catalog.dat",
                                 Utf8ToWide(pluginName.substr(0, pluginName.find('\\')))});
        std::string output;
        EXPECT_EQ(CUnixProcess::Run(line, m_install.Folder(), L"archiver", std::chrono::seconds(60), output), 0)
            << output;
        package.md5 = Md5Of(archive);
        package.catalogMd5 = Md5Of(stage + L"catalog.dat");
        return package;
    }

    std::string EventJson(const Package& package) const
    {
        return R"({"PluginExecute":{"PluginId":"sample","PluginName":")" + JsonEscaped(package.pluginName) +
               R"(","OperationId":"op-1","Reuse":false,"Cartridge":{"SourcePath":")" + WideToUtf8(m_nginx.FileUrl()) +
               "/" + package.name + R"(","SourceMd5":")" + package.md5 + R"(","CatalogMd5":")" + package.catalogMd5 +
               "\"}}}";
    }

    // One run without reuse; the sample plug-in leaves its result file when it ran.
    DWORD Execute(const Package& package)
    {
        ::DeleteFileW(ResultFile().c_str());
        return Deliver(EventJson(package));
    }

    std::wstring ResultFile() const { return m_data + L"sample-plugin-result.json"; }

    // After every run without reuse: no package file, no unpacked folder.
    void ExpectNothingLeft() const
    {
        EXPECT_EQ(FilesBelow(m_data + L"Downloads"), std::vector<std::wstring>{});
        EXPECT_FALSE(Exists(m_data + L"Downloads\\sample"));
    }

    const std::wstring m_served = m_install.Folder() + L"Served\\"; // what nginx serves
};

// tinyproxy asking for credentials between the agent and nginx, the routes stored as plain JSON. The host runs
// in a process of its own with a trace session that prints the plug-in's errors: a trace capture in this process
// cannot see them (the plug-in has its own trace provider). The exchange trace names the route that took the
// download; a proxy that is down is skipped when its route allows a fallback.
TEST_F(RealPackagesTest, PackageComesThroughAProxyThatAsksForCredentials)
{
    ASSERT_NO_FATAL_FAILURE(StartProxy());
    const std::string& proxy = m_proxyAddress;
    const std::string right = Credentials("s3cret");
    const std::wstring event = m_install.Folder() + L"event.json";
    WriteBytes(event, EventJson(Make("TelemetrySample.zip", kZip, {L"-q", L"-r"}, false, kSample)));
    const std::string connect = "CONNECT " + WideToUtf8(m_nginx.FileUrl().substr(8)) + " ";
    const struct
    {
        const char* label;
        std::string routes;
        DWORD result;
    } rows[] = {
        {"right credentials", Route(proxy, right, false), ERROR_SUCCESS},
        {"a proxy that is down first, with fallback",
         Route(m_deadProxyAddress, right, true) + "," + Route(proxy, right, false), ERROR_SUCCESS},
        // Wine's WinHTTP reports the tunnel that the proxy refused as a failed TLS handshake.
        {"wrong password", Route(proxy, Credentials("wrong"), false), kSecureChannelError},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        Configure(row.routes);
        EXPECT_TRUE(RemoveTree(m_data + L"Messages"));
        const std::size_t logged = m_proxy.Log().size();
        const ChildResult host = m_install.RunHost(L"--trace 2 7 \"" + event + L"\"");
        ASSERT_EQ(host.error, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_NE(host.output.find("event.json: " + std::to_string(row.result) + " ("), std::string::npos)
            << host.output;
        EXPECT_NE(Since(m_proxy.Log(), logged).find(connect), std::string::npos) << m_proxy.Log();
        if (row.result == ERROR_SUCCESS)
        {
            std::string traces;
            for (const std::wstring& file : FilesBelow(m_data + L"Messages"))
                traces += ReadBytes(m_data + L"Messages\\" + file);
            EXPECT_NE(traces.find("Proxy=" + proxy + "\r\n"), std::string::npos) << traces;
            EXPECT_EQ(host.output.find("[trace] error"), std::string::npos) << host.output;
        }
        ExpectNothingLeft();
    }
}

// Zip packages as real archivers write them, each run once without reuse: what the compression component reads
// runs the plug-in, also from folders with blanks in their names; encryption and methods other than deflate are
// refused (605). Nothing is left either way.
TEST_F(RealPackagesTest, PackagesFromRealArchivers)
{
    const std::vector<std::wstring> zipR = {L"-q", L"-r"}, sevenZip = {L"a", L"-tzip"};
    const auto with = [](std::vector<std::wstring> options, std::initializer_list<std::wstring> more) {
        options.insert(options.end(), more);
        return options;
    };
    const struct
    {
        const char* label;
        const Archiver& archiver;
        std::vector<std::wstring> options;
        bool streamed;
        const char* pluginName;
        DWORD result;
    } rows[] = {
        {"zip, deflate", kZip, zipR, false, kSample, ERROR_SUCCESS},
        {"zip -0, stored", kZip, with(zipR, {L"-0"}), false, kSample, ERROR_SUCCESS},
        {"zip -fd to a stream, data descriptors", kZip, with(zipR, {L"-fd"}), true, kSample, ERROR_SUCCESS},
        {"zip -fz, zip64", kZip, with(zipR, {L"-fz"}), false, kSample, ERROR_SUCCESS},
        {"7zz -mx=9, deflate", k7zz, with(sevenZip, {L"-mx=9"}), false, kSample, ERROR_SUCCESS},
        {"zip, folders with blanks", kZip, zipR, false, kNested, ERROR_SUCCESS},
        {"zip -P, ZipCrypto", kZip, with(zipR, {L"-P", L"secret"}), false, kSample, kUnpackFailed},
        {"7zz -mem=AES256", k7zz, with(sevenZip, {L"-psecret", L"-mem=AES256"}), false, kSample, kUnpackFailed},
        {"zip -Z bzip2", kZip, with(zipR, {L"-Z", L"bzip2"}), false, kSample, kUnpackFailed},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        const Package package = Make("Package.zip", row.archiver, row.options, row.streamed, row.pluginName);
        EXPECT_EQ(Execute(package), row.result);
        EXPECT_EQ(Exists(ResultFile()), row.result == ERROR_SUCCESS);
        ExpectNothingLeft();
    }
}

} // namespace
