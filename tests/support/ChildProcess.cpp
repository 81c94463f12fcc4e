#include "ChildProcess.h"

#include "platform/CUniqueHandle.h"

#include <string>

ChildResult RunChild(const std::wstring& commandLine, DWORD timeoutMs)
{
    ChildResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    CHandle readEnd;
    CHandle writeEnd;
    if (!::CreatePipe(readEnd.Put(), writeEnd.Put(), &inheritable, 0) ||
        !::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0))
    {
        result.error = ::GetLastError();
        return result;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    {
        result.error = ::GetLastError();
        return result;
    }
    const CHandle process(info.hProcess);
    const CHandle thread(info.hThread);
    writeEnd.Reset();

    // Read while the child runs, then what it left in the pipe. Waiting for the pipe's end instead would wait for
    // every holder of the write end: under Wine the desktop process (explorer.exe), when the child's work starts
    // it, takes the child's standard handles and keeps them until the prefix stops.
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (bool ended = false; !ended;)
    {
        ended = ::WaitForSingleObject(process.Get(), 20) == WAIT_OBJECT_0;
        DWORD available = 0;
        while (::PeekNamedPipe(readEnd.Get(), nullptr, 0, nullptr, &available, nullptr) && available > 0)
        {
            std::string block(available, '\0');
            DWORD read = 0;
            if (!::ReadFile(readEnd.Get(), block.data(), available, &read, nullptr))
                break;
            result.output.append(block.data(), read);
        }
        if (!ended && ::GetTickCount64() >= deadline)
        {
            result.error = ERROR_TIMEOUT;
            ::TerminateProcess(process.Get(), ERROR_TIMEOUT);
            return result;
        }
    }
    if (!::GetExitCodeProcess(process.Get(), &result.exitCode))
        result.error = ::GetLastError();
    return result;
}
