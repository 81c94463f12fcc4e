#include "CAgentInstall.h"
#include "ChildProcess.h"
#include "TestFiles.h"

#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace
{

std::wstring LauncherCommand(const std::wstring& config)
{
    std::wstring line;
    AppendCommandLineArgument(line, CAgentInstall::BuildFolder() + L"Wexler.exe");
    AppendCommandLineArgument(line, L"-cfg");
    AppendCommandLineArgument(line, config);
    return line;
}

} // namespace

TEST(LauncherTest, RunsThePluginWithItsParametersAndExitsWithItsCode)
{
    CAgentInstall install;
    ASSERT_TRUE(install.Add(L"Hollin.dll", L"Utils"));
    std::wstring dataFolder;
    ASSERT_TRUE(GetAgentDataFolder(dataFolder));
    const std::wstring result = dataFolder + L"sample-plugin-result.json";
    ::DeleteFileW(result.c_str());

    CMessageObject config;
    config.AddString(L"Plugin", CAgentInstall::BuildFolder() + L"TelemetrySample.exe");
    CMessageObject* parameters = config.AddArray(L"Parameters");
    for (const auto& [name, value] : {std::pair{L"ExitCode", L"7"}, std::pair{L"Path", L"C:\\a b\\\" c\\"}})
    {
        CMessageObject* parameter = parameters->AddObject(L"", false);
        parameter->AddString(L"Name", name);
        parameter->AddString(L"Value", value);
    }
    config.AddString(L"OperationId", L"op-1");
    std::string text;
    ASSERT_TRUE(config.SerializeUtf8(text));
    const std::wstring configPath = install.Folder() + L"run.cfg";
    WriteBytes(configPath, text);

    const ChildResult run = RunChild(LauncherCommand(configPath));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), run.error);
    EXPECT_EQ(7u, run.exitCode) << run.output;

    const std::string written = ReadBytes(result);
    EXPECT_NE(std::string::npos, written.find(R"({"Name":"Path","Value":"C:\\a b\\\" c\\"})")) << written;
    const std::string log = ReadBytes(install.Folder() + L"Utils\\agent.log");
    EXPECT_NE(std::string::npos, log.find("(operation \"op-1\"): exit code 7")) << log;
    ::DeleteFileW(result.c_str());

    // Its own codes: a configuration file that is missing, and one without a plug-in.
    const ChildResult missing = RunChild(LauncherCommand(install.Folder() + L"none.cfg"));
    EXPECT_EQ(0x20000002u, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.output.find("cannot read the configuration file")) << missing.output;
    WriteBytes(configPath, R"({"Reuse":true})");
    EXPECT_EQ(0x20000003u, RunChild(LauncherCommand(configPath)).exitCode);
}
