#pragma once
// Starts one child process and keeps its handles; the destructor closes them and leaves the process running.
//
// The command line is the one set with SetCommandLine, else the executable path (directory, a backslash when
// it has none, file name) in double quotes, then a space and the arguments when there are any. Without
// either, Start and RunAndCapture fail and start nothing.
//
// RunAndCapture reads the child's standard output on a worker thread of its own and gives up after the
// capture limit (ten minutes): the child is then ended with exit code 0 and the call returns false. It does
// not touch what Start keeps.

#include "platform/CUniqueHandle.h"
#include "telemetry/IProcess.h"

class CProcessLauncher : public IProcess
{
public:
    static constexpr DWORD kCaptureLimitMs = 600000;

    explicit CProcessLauncher(DWORD captureLimitMs = kCaptureLimitMs) : m_captureLimitMs(captureLimitMs) {}
    CProcessLauncher(const CProcessLauncher&) = delete;
    CProcessLauncher& operator=(const CProcessLauncher&) = delete;

    void SetCommandLine(const std::wstring& commandLine) override { m_commandLine = commandLine; }
    void SetArguments(const std::wstring& arguments) override { m_arguments = arguments; }
    void SetWorkingDirectory(const std::wstring& folder) override { m_workingDirectory = folder; }
    void SetExecutable(const std::wstring& directory, const std::wstring& fileName) override;
    [[nodiscard]] bool RunAndCapture(std::wstring& output, DWORD& exitCode) override;
    [[nodiscard]] bool Start() override;
    [[nodiscard]] bool Wait(DWORD timeoutMs) override;
    bool Terminate() override;
    [[nodiscard]] DWORD GetExitCode() override;

    // The command line that Start would use; empty when there is none.
    [[nodiscard]] std::wstring BuildCommandLine() const;

private:
    std::wstring m_commandLine;
    std::wstring m_executableDirectory;
    std::wstring m_executableName;
    std::wstring m_arguments;
    std::wstring m_workingDirectory;
    CHandle m_process;
    CHandle m_thread;
    DWORD m_processId = 0;
    DWORD m_threadId = 0;
    DWORD m_captureLimitMs;
};
