// Wexler.exe, the development launcher: Wexler -cfg "<configuration file>". Runs the configuration's "Plugin"
// with its "Parameters" (one "Name=Value" argument each, in order), waits for it, writes one line to the
// agent's log and exits with the plug-in's exit code. Exit codes of its own: see README.md.

#include "host/CLogServiceLoader.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"
#include "platform/CommandLine.h"
#include "platform/Files.h"
#include "platform/TextUtil.h"
#include "platform/Win.h"

#include <cstdio>
#include <string>
#include <vector>

namespace
{

// Customer-defined codes (bit 29), so that they never read as a Windows error a plug-in could exit with.
constexpr DWORD kExitBadCommandLine = 0x20000001;
constexpr DWORD kExitConfigUnreadable = 0x20000002;
constexpr DWORD kExitConfigInvalid = 0x20000003;
constexpr DWORD kExitPluginNotStarted = 0x20000004;

void Log(DWORD level, const std::wstring& text)
{
    const CLogServiceLoader loader;
    ILogService* log = GetILogService();
    if (log == nullptr)
        return;   // no agent install: standard error has said it already where it matters
    log->Write(level, text.c_str());
    FreeILogService(&log);
}

DWORD Fail(DWORD code, const std::wstring& text)
{
    std::fprintf(stderr, "Wexler: %ls\n", text.c_str());
    Log(2, L"Wexler: " + text + L" (exit code " + UInt32ToText(code) + L")");
    return code;
}

// The plug-in's command line: its path, then one "Name=Value" argument per kept parameter.
std::wstring PluginCommandLine(const std::wstring& plugin, const CMessageObject& config)
{
    std::wstring line;
    AppendCommandLineArgument(line, plugin);
    const CMessageObject* parameters = nullptr;
    if (!config.GetArray(L"Parameters", parameters))
        return line;
    for (const CMessageItem& item : parameters->Items())
    {
        if (item.m_type != Object || item.m_value.object == nullptr)
            continue;
        std::wstring name;
        std::wstring value;
        if (item.m_value.object->GetString(L"Name", name) && item.m_value.object->GetString(L"Value", value))
            AppendCommandLineArgument(line, name + L"=" + value);
    }
    return line;
}

DWORD Launch(const std::wstring& configPath)
{
    std::string bytes;
    if (const DWORD error = ReadWholeFile(configPath, bytes, FILE_SHARE_READ | FILE_SHARE_WRITE);
        error != ERROR_SUCCESS)
        return Fail(kExitConfigUnreadable,
                    L"cannot read the configuration file " + configPath + L": error " + UInt32ToText(error));
    CMessageObject config;
    std::wstring plugin;
    if (!config.FromUtf8Json(bytes) || !config.GetString(L"Plugin", plugin) || plugin.empty())
        return Fail(kExitConfigInvalid, L"the configuration file " + configPath +
                                            L" is not a JSON object with a \"Plugin\" text");

    std::wstring commandLine = PluginCommandLine(plugin, config);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(plugin.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
    {
        const DWORD error = ::GetLastError();
        return Fail(kExitPluginNotStarted, L"cannot start " + plugin + L": error " + UInt32ToText(error));
    }
    const CHandle process(started.hProcess);
    const CHandle thread(started.hThread);

    DWORD exitCode = 0;
    if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.Get(), &exitCode))
    {
        const DWORD error = ::GetLastError();
        return Fail(kExitPluginNotStarted, L"lost " + plugin + L": error " + UInt32ToText(error));
    }
    std::wstring operation;
    config.GetString(L"OperationId", operation);
    Log(exitCode == 0 ? 4 : 3, L"Wexler: ran " + plugin + L" (operation \"" + operation + L"\"): exit code " +
                                   UInt32ToText(exitCode));
    return exitCode;
}

} // namespace

int main()
{
    std::vector<std::wstring> arguments;
    if (!ReadCommandLine(arguments))
        return static_cast<int>(Fail(kExitBadCommandLine, L"cannot read the command line"));
    const std::wstring option = arguments.size() == 3 ? arguments[1] : L"";
    const std::wstring configPath = arguments.size() == 3 ? arguments[2] : L"";
    if (option != L"-cfg" || configPath.empty())
        return static_cast<int>(Fail(kExitBadCommandLine, L"usage: Wexler -cfg \"<configuration file>\""));
    return static_cast<int>(Launch(configPath));
}
