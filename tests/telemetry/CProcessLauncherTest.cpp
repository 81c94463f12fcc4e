// The process launcher with the small child programs of this suite: command lines, a started child's life,
// and capturing output within the time limit without leaving a handle behind.

#include "ProcessUsage.h"
#include "TempFolder.h"
#include "TestFiles.h"

#include "platform/CUniqueHandle.h"
#include "telemetry/CProcessLauncher.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
constexpr DWORD kNoExitCode = 0xFFFFFFFF;

std::wstring Pattern(std::size_t count)
{
    std::wstring text;
    for (std::size_t i = 0; i < count; ++i)
        text += static_cast<wchar_t>(L'a' + i % 26);
    return text;
}

TEST(CProcessLauncherTest, CommandLineComesFromItsParts)
{
    struct Row
    {
        const wchar_t* commandLine;
        const wchar_t* directory;
        const wchar_t* file;
        const wchar_t* arguments;
        const wchar_t* expected;
    };
    const Row rows[] = {
        {L"", L"C:\\A", L"b.exe", L"x", L"\"C:\\A\\b.exe\" x"},
        {L"", L"C:\\A\\", L"b.exe", L"x", L"\"C:\\A\\b.exe\" x"},
        {L"", L"", L"C:\\P Q\\b.exe", L"", L"\"C:\\P Q\\b.exe\""},
        {L"", L"", L"", L"x", L""},
        {L"b.exe -v", L"C:\\A", L"c.exe", L"x", L"b.exe -v"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::Message() << row.expected);
        CProcessLauncher launcher;
        launcher.SetCommandLine(row.commandLine);
        launcher.SetExecutable(row.directory, row.file);
        launcher.SetArguments(row.arguments);
        EXPECT_EQ(launcher.BuildCommandLine(), row.expected);
    }

    // Arguments alone start nothing.
    CProcessLauncher launcher;
    launcher.SetArguments(L"x");
    std::wstring output = L"old";
    DWORD exitCode = 5;
    EXPECT_FALSE(launcher.Start());
    EXPECT_FALSE(launcher.RunAndCapture(output, exitCode));
    EXPECT_EQ(output, L"");
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(launcher.GetExitCode(), kNoExitCode);
    EXPECT_FALSE(launcher.Wait(0));
    EXPECT_FALSE(launcher.Terminate());
}

TEST(CProcessLauncherTest, StartedChildRunsUntilEndedOrDone)
{
    CTempFolder folder;
    CProcessLauncher launcher;
    launcher.SetExecutable(CAgentInstall::BuildFolder(), L"test_child_sleep.exe");
    launcher.SetWorkingDirectory(folder.Path());
    ASSERT_TRUE(launcher.Start());
    EXPECT_EQ(launcher.GetExitCode(), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_FALSE(launcher.Wait(50));
    EXPECT_TRUE(launcher.Terminate());
    EXPECT_TRUE(launcher.Wait(10000));
    EXPECT_EQ(launcher.GetExitCode(), static_cast<DWORD>(ERROR_PROCESS_ABORTED));

    // Started again, now from a command line of its own: the new child's exit code.
    launcher.SetCommandLine(L"\"" + ChildProgram(L"print") + L"\" 0 7");
    ASSERT_TRUE(launcher.Start());
    EXPECT_TRUE(launcher.Wait(10000));
    EXPECT_EQ(launcher.GetExitCode(), 7u);
}

TEST(CProcessLauncherTest, RunAndCaptureCollectsOutputWithinItsLimit)
{
    CTempFolder folder;
    const auto run = [&](CProcessLauncher& launcher, std::wstring& output, DWORD& exitCode) {
        launcher.SetWorkingDirectory(folder.Path());
        return launcher.RunAndCapture(output, exitCode);
    };
    std::wstring output;
    DWORD exitCode = 0;
    CProcessLauncher warmUp;
    warmUp.SetExecutable(CAgentInstall::BuildFolder(), L"test_child_print.exe");
    ASSERT_TRUE(run(warmUp, output, exitCode));
    const ProcessUsage before = MeasureProcessUsage();

    // With and without the directory's trailing backslash; 10 KB through a 100-byte pipe, and nothing.
    std::wstring directory = CAgentInstall::BuildFolder();
    CProcessLauncher printer;
    printer.SetExecutable(directory, L"test_child_print.exe");
    printer.SetArguments(L"10240 3");
    ASSERT_TRUE(run(printer, output, exitCode));
    EXPECT_EQ(output, Pattern(10240));
    EXPECT_EQ(exitCode, 3u);
    directory.pop_back();
    printer.SetExecutable(directory, L"test_child_print.exe");
    printer.SetArguments(L"0");
    ASSERT_TRUE(run(printer, output, exitCode));
    EXPECT_EQ(output, L"");
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(printer.GetExitCode(), kNoExitCode) << "RunAndCapture keeps no process";

    // Past the limit the child is ended and the call gives up.
    CProcessLauncher sleeper(3000);
    sleeper.SetExecutable(directory, L"test_child_sleep.exe");
    const ULONGLONG started = ::GetTickCount64();
    EXPECT_FALSE(run(sleeper, output, exitCode));
    EXPECT_LT(::GetTickCount64() - started, 20000u);
    const DWORD pid = static_cast<DWORD>(std::stoul("0" + ReadBytes(folder.Path() + L"sleeper.pid")));
    EXPECT_NE(pid, 0u);
    const CHandle child(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    EXPECT_TRUE(!child || ::WaitForSingleObject(child.Get(), 10000) == WAIT_OBJECT_0) << "the child still runs";

    const ProcessUsage after = MeasureProcessUsage();
    EXPECT_EQ(after.handles, before.handles + (child ? 1 : 0));
    EXPECT_EQ(after.threadAndEventHandles, before.threadAndEventHandles);
}
} // namespace
