#include "telemetry/CProcessLauncher.h"

#include "host/Trace.h"
#include "platform/Path.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <string>

TRACE_UNIT("6e3c3704-b903-41fa-b52f-ca59ac1dc0aa");

namespace
{
constexpr DWORD kNoExitCode = 0xFFFFFFFF;
constexpr DWORD kPipeBufferBytes = 100;
constexpr DWORD kReadChunkBytes = 99;
// Once its child is ended the worker needs moments; one still blocked after this (a grandchild holding the
// pipe open) is left to end by itself: it holds nothing of the launcher.
constexpr DWORD kWorkerGraceMs = 5000;

// What the capture worker and its caller share; each holds a reference, so either may end first.
struct CaptureJob
{
    std::wstring commandLine;
    std::wstring workingDirectory;
    std::wstring output;
    DWORD exitCode = 0;
    std::mutex mutex;          // guards process and abandoned
    CHandle process;
    bool abandoned = false;    // the caller gave up: a child started later is ended at once
};

const wchar_t* FolderOrNull(const std::wstring& folder)
{
    return folder.empty() ? nullptr : folder.c_str();
}

// The child's standard output into job.output; ERROR_SUCCESS or the error of the step that failed.
DWORD Capture(CaptureJob& job)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    CHandle readEnd;
    CHandle writeEnd;
    if (!::CreatePipe(readEnd.Put(), writeEnd.Put(), &inheritable, kPipeBufferBytes))
        return ::GetLastError();
    // The child must inherit the write end only, or its copy of the read end would keep the pipe open.
    CHandle ownReadEnd;
    if (!::DuplicateHandle(::GetCurrentProcess(), readEnd.Get(), ::GetCurrentProcess(), ownReadEnd.Put(), 0, FALSE,
                           DUPLICATE_SAME_ACCESS))
        return ::GetLastError();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdOutput = writeEnd.Get();
    PROCESS_INFORMATION info{};
    std::wstring line = job.commandLine;
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                          FolderOrNull(job.workingDirectory), &startup, &info))
        return ::GetLastError();
    const CHandle thread(info.hThread);
    const HANDLE process = info.hProcess;   // owned by the job from here on
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        job.process.Reset(process);
        if (job.abandoned)
            ::TerminateProcess(process, 0);
    }
    readEnd.Reset();
    writeEnd.Reset();

    // Reads fail once the child has closed its end.
    std::string bytes;
    char chunk[kReadChunkBytes];
    DWORD read = 0;
    while (::ReadFile(ownReadEnd.Get(), chunk, kReadChunkBytes, &read, nullptr))
        bytes.append(chunk, std::find(chunk, chunk + read, '\0'));   // each chunk up to its first zero byte
    job.output.assign(bytes.begin(), bytes.end());
    for (wchar_t& c : job.output)
        c = static_cast<wchar_t>(static_cast<unsigned char>(c));

    if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0)
    {
        const DWORD error = ::GetLastError();
        ::TerminateProcess(process, 0);
        return error;
    }
    if (!::GetExitCodeProcess(process, &job.exitCode))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

DWORD WINAPI CaptureWorker(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<CaptureJob>> held(static_cast<std::shared_ptr<CaptureJob>*>(parameter));
    CaptureJob& job = **held;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    try
    {
        error = Capture(job);
    }
    catch (const std::bad_alloc&)
    {
    }
    if (error != ERROR_SUCCESS && job.exitCode == 0)
        job.exitCode = error;
    return error;
}
} // namespace

void CProcessLauncher::SetExecutable(const std::wstring& directory, const std::wstring& fileName)
{
    m_executableDirectory = directory;
    m_executableName = fileName;
}

std::wstring CProcessLauncher::BuildCommandLine() const
{
    if (!m_commandLine.empty())
        return m_commandLine;
    const std::wstring path = WithTrailingBackslash(m_executableDirectory) + m_executableName;
    if (path.empty())
        return path;
    std::wstring line = L"\"" + path + L"\"";
    if (!m_arguments.empty())
        line += L" " + m_arguments;
    return line;
}

bool CProcessLauncher::Start()
{
    std::wstring line = BuildCommandLine();
    if (line.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "no command line: nothing to start");
        return false;
    }
    m_process.Reset();
    m_thread.Reset();
    m_processId = 0;
    m_threadId = 0;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                          FolderOrNull(m_workingDirectory), &startup, &info))
    {
        const DWORD error = ::GetLastError();
        TRACE_ERROR(kTraceFlagEvents, 11, "cannot start %ls: error %u", line, error);
        ::SetLastError(error);
        return false;
    }
    m_process.Reset(info.hProcess);
    m_thread.Reset(info.hThread);
    m_processId = info.dwProcessId;
    m_threadId = info.dwThreadId;
    return true;
}

bool CProcessLauncher::Wait(DWORD timeoutMs)
{
    return m_process && ::WaitForSingleObject(m_process.Get(), timeoutMs) == WAIT_OBJECT_0;
}

bool CProcessLauncher::Terminate()
{
    if (!m_process)
        return false;
    if (::TerminateProcess(m_process.Get(), ERROR_PROCESS_ABORTED))
        return true;
    const DWORD error = ::GetLastError();
    TRACE_ERROR(kTraceFlagEvents, 12, "cannot end process %u: error %u", m_processId, error);
    return false;
}

DWORD CProcessLauncher::GetExitCode()
{
    DWORD code = kNoExitCode;
    if (m_process && !::GetExitCodeProcess(m_process.Get(), &code))
        code = kNoExitCode;
    return code;
}

bool CProcessLauncher::RunAndCapture(std::wstring& output, DWORD& exitCode)
{
    output.clear();
    exitCode = 0;
    try
    {
        auto job = std::make_shared<CaptureJob>();
        job->commandLine = BuildCommandLine();
        if (job->commandLine.empty())
        {
            TRACE_ERROR(kTraceFlagEvents, 13, "no command line: nothing to run");
            return false;
        }
        job->workingDirectory = m_workingDirectory;
        auto parameter = std::make_unique<std::shared_ptr<CaptureJob>>(job);
        const CHandle worker(::CreateThread(nullptr, 0, CaptureWorker, parameter.get(), 0, nullptr));
        if (!worker)
        {
            TRACE_ERROR(kTraceFlagEvents, 14, "no worker to run %ls: error %u", job->commandLine, ::GetLastError());
            return false;
        }
        parameter.release();   // the worker's now

        if (::WaitForSingleObject(worker.Get(), m_captureLimitMs) != WAIT_OBJECT_0)
        {
            {
                std::lock_guard<std::mutex> lock(job->mutex);
                job->abandoned = true;
                if (job->process)
                    ::TerminateProcess(job->process.Get(), 0);
            }
            TRACE_ERROR(kTraceFlagEvents, 15, "%ls still ran after %u ms: ended", job->commandLine, m_captureLimitMs);
            ::WaitForSingleObject(worker.Get(), kWorkerGraceMs);
            return false;
        }
        DWORD workerResult = ERROR_SUCCESS;
        if (!::GetExitCodeThread(worker.Get(), &workerResult) || workerResult != ERROR_SUCCESS)
        {
            TRACE_ERROR(kTraceFlagEvents, 16, "cannot run %ls: error %u", job->commandLine, workerResult);
            return false;
        }
        output = std::move(job->output);
        exitCode = job->exitCode;
        return true;
    }
    catch (const std::bad_alloc&)
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "not enough memory to run a process");
        return false;
    }
}
