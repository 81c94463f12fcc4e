#include "ChildProcess.h"

#include "platform/CUniqueHandle.h"

#include <thread>

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
    // Only the child holds the write end now: reading ends when it exits.
    writeEnd.Reset();

    std::thread reader([&] {
        char block[4096];
        DWORD read = 0;
        while (::ReadFile(readEnd.Get(), block, sizeof(block), &read, nullptr) && read > 0)
            result.output.append(block, read);
    });
    if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0)
    {
        result.error = ERROR_TIMEOUT;
        ::TerminateProcess(process.Get(), ERROR_TIMEOUT);
    }
    reader.join();
    if (result.error == ERROR_SUCCESS && !::GetExitCodeProcess(process.Get(), &result.exitCode))
        result.error = ::GetLastError();
    return result;
}
