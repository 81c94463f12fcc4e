// "PluginExecute" end to end: Telemetry.dll from an agent install downloads the sample packages made at build
// time from the server fixture, checks Wexler.exe in "Additional files" and runs the signed sample plug-in
// through it.

#include "CMerrowRepository.h"
#include "CServerFixture.h"
#include "PluginEndToEndTest.h"

#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

class PluginExecuteEndToEndTest : public PluginEndToEndTest
{
protected:
    void SetUp() override
    {
        PluginEndToEndTest::SetUp();
        if (HasFatalFailure())
            return;
        WriteBytes(m_install.Folder() + L"Utils\\config.json", R"({"Register.Agent.TestMode":"1"})");
        const std::wstring packages = CAgentInstall::BuildFolder() + L"..\\packages\\";
        m_server.ServeFiles("/packages/", packages);
        ASSERT_TRUE(m_md5s.FromUtf8Json(ReadBytes(packages + L"packages.json")));
    }

    DWORD Deliver(const std::string& package, const std::string& extra)
    {
        const CMessageObject* sums = nullptr;
        std::wstring sourceMd5, catalogMd5;
        const CMessageItem* item = nullptr;
        if (m_md5s.FindItem(Utf8ToWide(package), item) && item->m_type == MessageItemType::Object)
            sums = item->m_value.object;
        EXPECT_TRUE(sums != nullptr && sums->GetString(L"SourceMd5", sourceMd5));
        if (sums != nullptr)
            sums->GetString(L"CatalogMd5", catalogMd5);
        return PluginEndToEndTest::Deliver(
            R"({"PluginExecute":{"PluginId":"sample","PluginName":"TelemetrySample.exe","OperationId":"op-1",)"
            R"("Cartridge":{"SourcePath":")" +
            m_server.BaseUrl() + "/packages/" + package + R"(","SourceMd5":")" + WideToUtf8(sourceMd5) +
            R"(","CatalogMd5":")" + WideToUtf8(catalogMd5) + "\"}" + extra + "}}");
    }

    CServerFixture m_server;
    CMessageObject m_md5s;
};

// Each package kind runs the sample plug-in through Wexler.exe and answers with its exit code; a package kept
// for reuse is not downloaded again, and goes after a run without reuse.
TEST_F(PluginExecuteEndToEndTest, SamplePluginRunsFromEachPackageKind)
{
    for (const std::string package : {"TelemetrySample.exe", "TelemetrySample.zip"})
    {
        SCOPED_TRACE(package);
        m_server.ClearRequests();
        for (const auto& [exitCode, reuse] : {std::pair<std::string, bool>{"3", true}, {"7", false}})
        {
            SCOPED_TRACE(exitCode);
            EXPECT_EQ(Deliver(package, std::string(R"(,"Reuse":)") + (reuse ? "true" : "false") +
                                           R"(,"Parameters":[{"Name":"ExitCode","Value":")" + exitCode + "\"}]"),
                      std::stoul(exitCode));
            const std::string result = ReadBytes(m_data + L"sample-plugin-result.json");
            EXPECT_NE(result.find(R"({"Name":"ExitCode","Value":")" + exitCode + "\"}"), std::string::npos) << result;
        }
        EXPECT_EQ(m_server.RequestCount(), 1u);
        EXPECT_FALSE(Exists(m_data + L"Downloads\\" + Utf8ToWide(package)));
    }
}

TEST_F(PluginExecuteEndToEndTest, LauncherOfAnotherPublisherIsNotRun)
{
    for (const wchar_t* sample : {L"unsigned.exe", L"korvo-suffix.exe", L"korvo-lower.exe"})
    {
        ASSERT_TRUE(
            m_install.Add(L"..\\publisher-samples\\" + std::wstring(sample), L"Additional files", L"Wexler.exe"));
        EXPECT_EQ(Deliver("TelemetrySample.exe", R"(,"Reuse":false)"), static_cast<DWORD>(CRYPT_E_NO_TRUSTED_SIGNER))
            << WideToUtf8(sample);
        EXPECT_FALSE(Exists(m_data + L"sample-plugin-result.json"));
    }
    ASSERT_TRUE(m_install.Remove(L"Additional files", L"Wexler.exe"));
    EXPECT_EQ(Deliver("TelemetrySample.exe", R"(,"Reuse":false)"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A peer (Pelter's configuration) without the package is asked, through Fenrik, to keep it while the agent
// downloads directly; the same event once the package is gone takes it from the peer, not the server.
TEST_F(PluginExecuteEndToEndTest, PackageTakenFromThePeerAskedToKeepIt)
{
    ASSERT_EQ(MakeFolderTree(m_install.Folder() + L"Peer"), static_cast<DWORD>(ERROR_SUCCESS));
    CMerrowRepository peer(m_install.Folder() + L"Repository\\", m_install.Folder() + L"Peer");
    ASSERT_NE(peer.port, 0);
    const std::string port = std::to_string(peer.port);
    WriteBytes(m_install.Folder() + L"Utils\\config.json",
               R"({"Register.Agent.TestMode":"1","Fenrik.RepositoryPort":)" + port +
                   R"(,"Pelter.Repository.Providers":[{"Address":"127.0.0.1","DeviceId":"peer","Port":)" + port +
                   "}]}");
    // The server sees the agent's download and the peer's, then nothing.
    for (const std::size_t downloads : {2u, 0u})
    {
        m_server.ClearRequests();
        EXPECT_EQ(Deliver("TelemetrySample.exe", R"(,"Reuse":false)"), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_TRUE(peer.waitIdle(20000));
        EXPECT_EQ(m_server.RequestCount(), downloads);
        EXPECT_FALSE(Exists(m_data + L"Downloads\\TelemetrySample.exe"));
    }
}

} // namespace
