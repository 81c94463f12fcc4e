// With the agent's "Path" unreadable, copies of the components wait in the current folder, in a folder on
// PATH and (as always in this build) beside the test program: the places where the DLL search order would find
// a library named without a folder. Nothing may take them.
#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "ModuleExport.h"
#include "TestFiles.h"

#include "comms/CommsWrapperRequestDispatcher.h"
#include "host/CDispatcherHelper.h"
#include "message/CMessageObject.h"
#include "telemetry/CTrackingSendEventProcessor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace
{

constexpr const wchar_t* kPlanted[] = {L"Quillon.dll", L"QuillonLC.dll", L"Anvara.dll", L"Tamsin.dll"};

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[32767] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, value, 32767);
    return std::wstring(value, length < 32767 ? length : 0);
}

class BareNameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.RemoveSetupValue(L"Path"));
        const std::wstring current = m_install.Folder() + L"current";
        const std::wstring onPath = m_install.Folder() + L"on path";
        for (const std::wstring& folder : {current, onPath})
        {
            ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
            for (const wchar_t* name : kPlanted)
                ASSERT_TRUE(::CopyFileW((CAgentInstall::BuildFolder() + name).c_str(),
                                        (folder + L"\\" + name).c_str(), FALSE));
        }
        wchar_t previous[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, previous);
        m_previousFolder = previous;
        m_previousPath = Environment(L"PATH");
        ASSERT_TRUE(::SetCurrentDirectoryW(current.c_str()));
        ASSERT_TRUE(::SetEnvironmentVariableW(L"PATH", (onPath + L";" + m_previousPath).c_str()));
    }
    void TearDown() override
    {
        ::SetEnvironmentVariableW(L"PATH", m_previousPath.c_str());
        ::SetCurrentDirectoryW(m_previousFolder.c_str());
    }

    CAgentInstall m_install;
    std::wstring m_previousFolder;
    std::wstring m_previousPath;
};

} // namespace

TEST_F(BareNameTest, NoComponentIsTakenFromTheSearchOrder)
{
    CFakeConfigUtil util;
    const std::wstring trackingFile = m_install.Folder() + L"hit.json";
    WriteBytes(trackingFile, R"({"TrackIndex":"7"})");
    CMessageObject payload;
    payload.AddString(L"Filename", trackingFile);
    // No configuration component to stand in for a missing utility.
    EXPECT_THAT([] { CTrackingSendEventProcessor processor(nullptr, &CDispatcherHelper::Instance()); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("configUtil is nullptr")));
    CTrackingSendEventProcessor processor(&util, &CDispatcherHelper::Instance());
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), processor.Process(&payload));
    EXPECT_TRUE(Exists(trackingFile));   // never sent, so kept

    EXPECT_THAT([&] { CommsWrapperRequestDispatcher dispatcher(&util, false, false); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("Cannot Initialize CommsWrapper")));

    for (const wchar_t* name : kPlanted)
        EXPECT_FALSE(IsLoaded(name)) << name;

    // The plug-in in a host of its own, which inherits the current folder and PATH: no configuration
    // component, so no plug-in, and the trace says why.
    ASSERT_TRUE(m_install.Add(L"Telemetry.dll", L"Plugins"));
    const ChildResult host = m_install.RunHost(L"--trace 2 7");
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), host.error);
    EXPECT_NE(std::string::npos, host.output.find("no install path: no configuration component")) << host.output;
    EXPECT_NE(std::string::npos, host.output.find("the plug-in cannot be built: m_configUtil is nullptr"))
        << host.output;
    EXPECT_NE(std::string::npos, host.output.find("the plug-in list is empty")) << host.output;
}
