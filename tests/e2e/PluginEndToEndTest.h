#pragma once
// The base of the end-to-end fixtures that deliver events to the plug-in: an agent install with the plug-in and
// every stand-in, an agent data folder of the test's own (its "Config" made; the whole company folder removed
// afterwards), and Telemetry.dll loaded and its plug-in list taken as the host does. A derived SetUp calls this
// one first and returns when it failed (HasFatalFailure); a derived TearDown calls this one last.
// RealServersEndToEndTest adds the server fixture, nginx in front of it and tinyproxy asking for credentials.

#include "CAgentInstall.h"
#include "CNginxFront.h"
#include "CPluginLibrary.h"
#include "CServerFixture.h"
#include "CTinyproxy.h"
#include "LoopbackPorts.h"
#include "TestFiles.h"

#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class PluginEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.AddComponents());
        ASSERT_TRUE(
            m_install.SetSetupValue(L"InitialCompanyName", L"Plugin E2E " + std::to_wstring(::GetCurrentProcessId())) &&
            m_install.SetSetupValue(L"InitialProductName", L"Agent"));
        ASSERT_TRUE(GetCompanyDataFolder(m_company) && GetAgentDataFolder(m_data));
        ASSERT_EQ(MakeFolderTree(m_data + L"Config"), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_TRUE(m_plugin.Load(m_install.Folder() + L"Plugins\\Telemetry.dll"));
    }

    void TearDown() override
    {
        m_plugin.Unload();
        EXPECT_TRUE(RemoveTree(m_company));
    }

    // The event's JSON text to the plug-in; its answer.
    DWORD Deliver(const std::string& json)
    {
        CMessageObject event;
        EXPECT_TRUE(event.FromUtf8Json(json)) << json;
        return m_plugin.Plugin().ProcessEvent(&event);
    }

    // Utils\config.json with these members (",\"key\":value..."). A revision of growing length changes the
    // file's size, so that the configuration stand-in sees every rewrite.
    void WriteConfiguration(const std::string& members)
    {
        WriteBytes(m_install.Folder() + L"Utils\\config.json",
                   R"({"Test.Revision":")" + std::string(++m_revision, 'r') + "\"" + members + "}");
    }

    CAgentInstall m_install;
    std::wstring m_company, m_data;

private:
    CLoadedPlugin m_plugin;
    int m_revision = 0;
};

class RealServersEndToEndTest : public PluginEndToEndTest
{
protected:
    void TearDown() override
    {
        // The test support checks its own servers: none outlives the test.
        EXPECT_TRUE(m_nginx.Stop());
        EXPECT_TRUE(m_proxy.Stop());
        PluginEndToEndTest::TearDown();
    }

    // nginx in front of the fixture, serving the files of folder when one is given.
    void StartNginx(const std::wstring& folder = {})
    {
        std::wstring reason;
        ASSERT_TRUE(m_nginx.Start(m_server.Port(), folder, reason)) << WideToUtf8(reason);
    }

    // tinyproxy asking for user "agent", password "s3cret"; also picks an address where no proxy listens.
    void StartProxy()
    {
        std::wstring reason;
        ASSERT_TRUE(m_proxy.Start("agent", "s3cret", reason)) << WideToUtf8(reason);
        m_proxyAddress = WideToUtf8(m_proxy.Address());
        const std::vector<unsigned short> dead = PickFreePorts("127.0.0.2", 1);
        ASSERT_EQ(dead.size(), 1u);
        m_deadProxyAddress = "127.0.0.2:" + std::to_string(dead[0]);
    }

    // One explicit route of a proxy fallback list; credentials are JSON members (see Credentials) or "".
    static std::string Route(const std::string& address, const std::string& credentials, bool fallback)
    {
        return R"({"source":"explicit","proxyList":")" + address + "\"" + credentials + R"(,"fallback":)" +
               (fallback ? "true" : "false") + "}";
    }
    static std::string Credentials(const std::string& password)
    {
        return R"(,"user":"agent","password":")" + password + "\"";
    }

    CServerFixture m_server;
    CNginxFront m_nginx;
    CTinyproxy m_proxy;
    std::string m_proxyAddress, m_deadProxyAddress;
};
