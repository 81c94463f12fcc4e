#include "CUnixProcess.h"

#include "LoopbackPorts.h"

#include "platform/Files.h"
#include "platform/FolderTree.h"
#include "platform/ModuleFolder.h"
#include "platform/TextUtil.h"

#include <atomic>
#include <thread>

namespace
{

// $1 the lease, $2 the id file, $3 the exit file, $4 the log, then the program and its arguments. The watcher
// ends the program when the lease is gone; files appear whole (written aside, then renamed). The keeper lets go
// of the output it inherited from Wine (a test runner's pipe, say) at once.
constexpr wchar_t kKeeper[] =
    L"exec </dev/null >/dev/null 2>&1; lease=$1; pidfile=$2; exitfile=$3; log=$4; shift 4; "
    L"\"$@\" </dev/null >\"$log\" 2>&1 & pid=$!; "
    L"echo $pid > \"$pidfile.part\" && mv \"$pidfile.part\" \"$pidfile\"; "
    L"{ while [ -e \"$lease\" ] && kill -0 $pid 2>/dev/null; do sleep 0.1; done; kill $pid 2>/dev/null; } & "
    L"wait $pid; status=$?; "
    L"echo $status > \"$exitfile.part\" && mv \"$exitfile.part\" \"$exitfile\"";

constexpr auto kPoll = std::chrono::milliseconds(20);

struct HeapText
{
    void* text = nullptr;
    ~HeapText()
    {
        if (text != nullptr)
            ::HeapFree(::GetProcessHeap(), 0, text);
    }
};

// Wine's own path conversions: kernel32 exports that only Wine has.
template <typename Function>
Function WineExport(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name)));
}

std::wstring WindowsPathOfUnix(const std::wstring& unixPath)
{
    const auto toDos = WineExport<WCHAR*(CDECL*)(const char*)>("wine_get_dos_file_name");
    if (toDos == nullptr)
        return {};
    HeapText dos{toDos(WideToUtf8(unixPath).c_str())};
    return dos.text != nullptr ? std::wstring(static_cast<const wchar_t*>(dos.text)) : std::wstring();
}

bool ReadNumber(const std::wstring& path, long long& number)
{
    std::string text;
    if (ReadWholeFile(path, text, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != ERROR_SUCCESS)
        return false;
    try
    {
        number = std::stoll(text);
        return true;
    }
    catch (const std::exception&)
    {
        return false;
    }
}

// A Unix program started for its effect alone (Wine gives no handle to wait on, and passes no handles).
bool Launch(const std::wstring& commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    const CHandle thread(process.hThread);
    const CHandle handle(process.hProcess);
    return true;
}

} // namespace

std::wstring UnixPathOf(const std::wstring& windowsPath)
{
    const auto toUnix = WineExport<char*(CDECL*)(const WCHAR*)>("wine_get_unix_file_name");
    if (toUnix == nullptr)
        return {};
    HeapText converted{toUnix(windowsPath.c_str())};
    return converted.text != nullptr ? Utf8ToWide(static_cast<const char*>(converted.text)) : std::wstring();
}

bool IsUnixProgram(const std::wstring& unixPath)
{
    const std::wstring path = WindowsPathOfUnix(unixPath);
    return !path.empty() && IsFile(path);
}

bool CUnixProcess::Start(const std::vector<std::wstring>& arguments, const std::wstring& folder,
                         const std::wstring& name, std::wstring& reason)
{
    if (!Stop())
    {
        reason = L"the program started before is still running";
        return false;
    }
    if (arguments.empty() || !IsUnixProgram(arguments.front()))
    {
        reason = (arguments.empty() ? std::wstring(L"no program") : arguments.front()) + L" is not there";
        return false;
    }
    const std::wstring base = folder + (folder.empty() || folder.back() == L'\\' ? L"" : L"\\") + name;
    m_pidFile = base + L".pid";
    m_exitFile = base + L".exit";
    m_logFile = base + L".log";
    for (const std::wstring* file : {&m_pidFile, &m_exitFile, &m_logFile})
        ::DeleteFileW(file->c_str());

    // Deleted by Wine when this process lets it go, however it ends.
    const std::wstring lease = base + L".lease";
    m_lease.Reset(::CreateFileW(lease.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!m_lease)
    {
        reason = L"cannot write " + lease + L": error " + std::to_wstring(::GetLastError());
        return false;
    }
    std::wstring line;
    for (const std::wstring& part :
         {std::wstring(L"/bin/sh"), std::wstring(L"-c"), std::wstring(kKeeper), std::wstring(L"keeper"),
          UnixPathOf(lease), UnixPathOf(m_pidFile), UnixPathOf(m_exitFile), UnixPathOf(m_logFile)})
        AppendCommandLineArgument(line, part);
    for (const std::wstring& argument : arguments)
        AppendCommandLineArgument(line, argument);
    if (!Launch(line))
    {
        reason = L"cannot start " + arguments.front() + L": error " + std::to_wstring(::GetLastError());
        m_lease.Reset();
        return false;
    }

    long long pid = 0;
    for (auto waited = std::chrono::milliseconds(0); waited < std::chrono::seconds(10); waited += kPoll)
    {
        if (ReadNumber(m_pidFile, pid) && pid > 0)
        {
            m_pid = static_cast<unsigned long>(pid);
            return true;
        }
        std::this_thread::sleep_for(kPoll);
    }
    reason = L"the keeper of " + arguments.front() + L" gave no process id";
    m_lease.Reset();
    return false;
}

bool CUnixProcess::HasEnded(int& exitCode) const
{
    long long status = 0;
    if (m_pid == 0 || !ReadNumber(m_exitFile, status))
        return false;
    exitCode = static_cast<int>(status);
    return true;
}

bool CUnixProcess::WaitForEnd(std::chrono::milliseconds timeout, int& exitCode) const
{
    for (auto waited = std::chrono::milliseconds(0);; waited += kPoll)
    {
        if (HasEnded(exitCode))
            return true;
        if (waited >= timeout)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
}

std::string CUnixProcess::Output() const
{
    std::string text;
    static_cast<void>(ReadWholeFile(m_logFile, text, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    return text;
}

bool CUnixProcess::IsRunning() const
{
    return m_pid != 0 && IsFolder(WindowsPathOfUnix(L"/proc/" + std::to_wstring(m_pid)));
}

bool CUnixProcess::Stop()
{
    if (m_pid == 0)
    {
        m_lease.Reset();
        return true;
    }
    m_lease.Reset(); // the keeper's watcher kills the program
    int exitCode = 0;
    if (!WaitForEnd(std::chrono::seconds(10), exitCode) && IsRunning())
    {
        std::wstring line;
        for (const wchar_t* part : {L"/bin/kill", L"-KILL"})
            AppendCommandLineArgument(line, part);
        AppendCommandLineArgument(line, std::to_wstring(m_pid));
        static_cast<void>(Launch(line));
        for (int i = 0; i < 250 && IsRunning(); ++i)
            std::this_thread::sleep_for(kPoll);
    }
    if (IsRunning())
        return false;
    m_pid = 0;
    return true;
}

int CUnixProcess::Run(const std::vector<std::wstring>& arguments, const std::wstring& folder, const std::wstring& name,
                      std::chrono::milliseconds timeout, std::string& output)
{
    CUnixProcess process;
    std::wstring reason;
    if (!process.Start(arguments, folder, name, reason))
    {
        output = WideToUtf8(reason);
        return -1;
    }
    int exitCode = -1;
    if (!process.WaitForEnd(timeout, exitCode))
        exitCode = -1;
    output = process.Output();
    static_cast<void>(process.Stop());
    return exitCode;
}

std::wstring BuildTreeFolder()
{
    std::wstring bin = ThisModuleFolder();
    while (!bin.empty() && bin.back() == L'\\')
        bin.pop_back();
    return bin.substr(0, bin.find_last_of(L'\\') + 1);
}

bool CUnixServer::MakeFolder(const std::wstring& name, std::wstring& reason)
{
    static std::atomic<unsigned> s_count{0};
    m_folder = BuildTreeFolder() + L"servers\\" + name + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
               std::to_wstring(++s_count) + L"\\";
    RemoveTree(m_folder);
    if (const DWORD error = MakeFolderTree(m_folder); error != ERROR_SUCCESS)
    {
        reason = L"cannot make " + m_folder + L": error " + std::to_wstring(error);
        return false;
    }
    return true;
}

std::wstring CUnixServer::UnixFolder() const
{
    std::wstring folder = UnixPathOf(m_folder);
    if (!folder.empty() && folder.back() != L'/')
        folder += L'/';
    return folder;
}

std::string CUnixServer::ReadText(const std::wstring& name) const
{
    std::string text;
    static_cast<void>(ReadWholeFile(m_folder + name, text, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    return text;
}

bool CUnixServer::Launch(const std::vector<std::wstring>& arguments, const std::wstring& package,
                         const std::string& address, const std::vector<unsigned short>& ports, std::wstring& reason)
{
    if (arguments.empty() || !IsUnixProgram(arguments.front()))
    {
        reason = (arguments.empty() ? std::wstring(L"the server") : arguments.front()) +
                 L" is not installed: scripts/setup installs it (Debian package " + package + L")";
        return false;
    }
    if (!m_process.Start(arguments, m_folder, L"server", reason))
        return false;
    for (auto waited = std::chrono::milliseconds(0); waited < std::chrono::seconds(15); waited += kPoll)
    {
        int exitCode = 0;
        if (m_process.HasEnded(exitCode))
        {
            reason = arguments.front() + L" ended at once with " + std::to_wstring(exitCode) + L": " +
                     Utf8ToWide(m_process.Output());
            return false;
        }
        bool all = true;
        for (const unsigned short port : ports)
            all = all && IsListening(address, port);
        if (all)
            return true;
        std::this_thread::sleep_for(kPoll);
    }
    reason = arguments.front() + L" does not listen after 15 s: " + Utf8ToWide(m_process.Output());
    static_cast<void>(m_process.Stop());
    return false;
}

bool CUnixServer::Stop()
{
    const bool stopped = m_process.Stop();
    if (stopped && !m_folder.empty())
    {
        RemoveTree(m_folder);
        m_folder.clear();
    }
    return stopped;
}
