// What the plug-in library does with the components it holds when it goes: given back in reverse order of
// creation while its traces are still written when the host frees it; left alone when the process ends.
// The host is agent-host in a child process, the plug-in the probe library (the product's parts, with the
// dispatcher and compression helpers taken by GetPluginList).
#include "CAgentInstall.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

class ModuleLifetimeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.Add(L"TelemetryProbe.dll", L"Plugins", L"Telemetry.dll"));
        ASSERT_TRUE(m_install.Add(L"Tamsin.dll", L"Utils"));
        ASSERT_TRUE(m_install.Add(L"Hollin.dll", L"Utils"));
        ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L""));
    }

    CAgentInstall m_install;
};

} // namespace

TEST_F(ModuleLifetimeTest, FreedLibraryGivesBackItsComponentsNewestFirstBeforeTheProviderStops)
{
    const ChildResult run = m_install.RunHost(L"--trace 5 7");
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), run.error);
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("event sent: {\"Probe\":{}}")) << run.output;

    const char* inOrder[] = {
        "CCompressionHelper::~CCompressionHelper",
        "dispatcher component Ostrel.dll released",
        "configuration component Tamsin.dll released",
        "trace provider stopping",
    };
    std::size_t last = 0;
    for (const char* text : inOrder)
    {
        SCOPED_TRACE(text);
        const std::size_t at = run.output.find(text);
        ASSERT_NE(std::string::npos, at) << run.output;
        EXPECT_LT(last, at) << run.output;
        last = at;
    }
}

// The Ostrel stand-in ends the process with 0xDEAD when it is called after its own detach.
TEST_F(ModuleLifetimeTest, ProcessEndingWithThePluginHeldTouchesNoComponent)
{
    for (int run = 0; run < 50; ++run)
    {
        SCOPED_TRACE(run);
        const ChildResult result = m_install.RunHost(L"--keep-loaded");
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result.error);
        ASSERT_EQ(0u, result.exitCode) << result.output;
    }
}
