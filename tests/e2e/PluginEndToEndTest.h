#pragma once
// The base of the end-to-end fixtures that run "PluginExecute": an agent install with the plug-in and every
// stand-in, an agent data folder of the test's own (its "Config" made; the whole company folder removed
// afterwards), and Telemetry.dll loaded and its plug-in list taken as the host does. A derived SetUp calls this
// one first and returns when it failed (HasFatalFailure); a derived TearDown calls this one last.

#include "CAgentInstall.h"
#include "CPluginLibrary.h"
#include "TestFiles.h"

#include "host/InstallLocations.h"
#include "message/CMessageObject.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
        m_library = std::make_unique<CPluginLibrary>(m_install.Folder() + L"Plugins\\Telemetry.dll");
        ASSERT_TRUE(m_library->IsLoaded());
        m_list = m_library->Get();
        ASSERT_TRUE(m_list != nullptr && m_list->size() == 1);
    }

    void TearDown() override
    {
        if (m_list != nullptr)
            m_library->Free(m_list);
        m_library.reset();
        EXPECT_TRUE(RemoveTree(m_company));
    }

    // The event's JSON text to the plug-in; its answer.
    DWORD Deliver(const std::string& json)
    {
        CMessageObject event;
        EXPECT_TRUE(event.FromUtf8Json(json)) << json;
        return (*m_list)[0].plugin->ProcessEvent(&event);
    }

    CAgentInstall m_install;
    std::wstring m_company, m_data;

private:
    std::unique_ptr<CPluginLibrary> m_library;
    PluginList* m_list = nullptr;
};
