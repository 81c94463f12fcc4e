#pragma once
// One child process: configure, start, wait, stop, read its exit code; or run one to its end while capturing
// its standard output. Used by one thread at a time.

#include "platform/Win.h"

#include <string>

class IProcess
{
public:
    virtual ~IProcess() = default;
    // Used as it stands when non-empty; otherwise the command line is made from the executable and arguments.
    virtual void SetCommandLine(const std::wstring& commandLine) = 0;
    virtual void SetArguments(const std::wstring& arguments) = 0;
    virtual void SetWorkingDirectory(const std::wstring& folder) = 0;
    virtual void SetExecutable(const std::wstring& directory, const std::wstring& fileName) = 0;
    // Runs the process to its end; output is its standard output, one character per byte.
    [[nodiscard]] virtual bool RunAndCapture(std::wstring& output, DWORD& exitCode) = 0;
    [[nodiscard]] virtual bool Start() = 0;
    // True when the started process ended within timeoutMs.
    [[nodiscard]] virtual bool Wait(DWORD timeoutMs) = 0;
    // Ends the started process with exit code 1067 (ERROR_PROCESS_ABORTED).
    virtual bool Terminate() = 0;
    // 0xFFFFFFFF before a start or when the system cannot say; STILL_ACTIVE (259) while it runs.
    [[nodiscard]] virtual DWORD GetExitCode() = 0;
};
