// The process launcher with the small child programs of this suite: command lines, and capturing output
// within the time limit without leaving a handle behind; a started child's life is the processors' tests'.

#include "CAgentInstall.h"
#include "ProcessUsage.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "platform/CUniqueHandle.h"
#include "telemetry/CProcessLauncher.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
constexpr DWORD kNoExitCode = 0xFFFFFFFF;
constexpr GUID kLauncherUnit = trace::ParseGuid("6e3c3704-b903-41fa-b52f-ca59ac1dc0aa");

TEST(CProcessLauncherTest, CommandLineComesFromItsParts)
{
    // command line, directory, file, arguments: what Start runs
    const wchar_t* const rows[][5] = {
        {L"", L"C:\\A", L"b.exe", L"x", L"\"C:\\A\\b.exe\" x"},
        {L"", L"C:\\A\\", L"b.exe", L"x", L"\"C:\\A\\b.exe\" x"},
        {L"", L"", L"C:\\P Q\\b.exe", L"", L"\"C:\\P Q\\b.exe\""},
        {L"", L"", L"", L"x", L""},
        {L"b.exe -v", L"C:\\A", L"c.exe", L"x", L"b.exe -v"},
    };
    for (const auto& row : rows)
    {
        CProcessLauncher launcher;
        launcher.SetCommandLine(row[0]);
        launcher.SetExecutable(row[1], row[2]);
        launcher.SetArguments(row[3]);
        EXPECT_EQ(launcher.BuildCommandLine(), row[4]);
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

    // A program that is not there: the system's error for the caller, a trace for each way of running it.
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    launcher.SetExecutable(CAgentInstall::BuildFolder(), L"no_such_child.exe");
    EXPECT_FALSE(launcher.Start());
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(launcher.RunAndCapture(output, exitCode));
    EXPECT_EQ(output, L"");
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(capture.Has(kLauncherUnit, 11) && capture.Has(kLauncherUnit, 16));
}

TEST(CProcessLauncherTest, RunAndCaptureCollectsOutputWithinItsLimit)
{
    CAgentInstall folder;
    std::wstring directory = CAgentInstall::BuildFolder();
    std::wstring output;
    DWORD exitCode = 0;
    const auto run = [&](CProcessLauncher&& launcher, const wchar_t* child, const wchar_t* arguments) {
        launcher.SetExecutable(directory, child);
        launcher.SetArguments(arguments);
        launcher.SetWorkingDirectory(folder.Folder());
        return launcher.RunAndCapture(output, exitCode);
    };
    ASSERT_TRUE(run(CProcessLauncher(), L"test_child_print.exe", L"1")); // warm-up
    const ProcessUsage before = MeasureProcessUsage();

    // 10 KB through a 100-byte pipe, and nothing; with and without the directory's trailing backslash.
    std::wstring expected;
    for (int i = 0; i < 10240; ++i)
        expected += static_cast<wchar_t>(L'a' + i % 26);
    ASSERT_TRUE(run(CProcessLauncher(), L"test_child_print.exe", L"10240 3"));
    EXPECT_TRUE(output == expected && exitCode == 3) << output.size() << " characters, exit code " << exitCode;
    directory.pop_back();
    ASSERT_TRUE(run(CProcessLauncher(), L"test_child_print.exe", L"0"));
    EXPECT_EQ(output, L"");
    EXPECT_EQ(exitCode, 0u);

    // Past the limit the child is ended and the call gives up.
    const ULONGLONG started = ::GetTickCount64();
    EXPECT_FALSE(run(CProcessLauncher(3000), L"test_child_sleep.exe", L""));
    EXPECT_LT(::GetTickCount64() - started, 20000u);
    const DWORD pid = static_cast<DWORD>(std::stoul("0" + ReadBytes(folder.Folder() + L"sleeper.pid")));
    EXPECT_NE(pid, 0u);
    const CHandle child(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    EXPECT_TRUE(!child || ::WaitForSingleObject(child.Get(), 10000) == WAIT_OBJECT_0) << "the child still runs";

    const ProcessUsage after = MeasureProcessUsage();
    EXPECT_EQ(after.handles, before.handles + (child ? 1 : 0));
    EXPECT_EQ(after.threadAndEventHandles, before.threadAndEventHandles);
}
} // namespace
