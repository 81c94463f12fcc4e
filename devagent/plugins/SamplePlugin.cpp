// TelemetrySample.exe, a sample telemetry plug-in: writes what it sees of the machine and its parameters to
// "sample-plugin-result.json" in the agent's data folder and exits 0, or with the "ExitCode" parameter's value.
// Parameters arrive as the launcher passes them: one "Name=Value" argument each.

#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/CommandLine.h"
#include "platform/Files.h"
#include "platform/OsProbes.h"
#include "platform/TextUtil.h"
#include "platform/Win.h"

#include <cstdio>
#include <string>
#include <vector>

namespace
{

constexpr wchar_t kResultFile[] = L"sample-plugin-result.json";

// The data folder and its parents, as the agent's installer would have made them.
bool MakeFolders(const std::wstring& folder)
{
    for (std::size_t at = folder.find(L'\\', 3); at != std::wstring::npos; at = folder.find(L'\\', at + 1))
        if (!::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    return true;
}

} // namespace

int main()
{
    std::vector<std::wstring> arguments;
    if (!ReadCommandLine(arguments))
        return static_cast<int>(::GetLastError());
    CMessageObject result;
    CMessageObject* parameters = result.AddArray(L"Parameters");
    std::int32_t exitCode = 0;
    for (std::size_t i = 1; i < arguments.size(); ++i)
    {
        const std::wstring& argument = arguments[i];
        const std::size_t equals = argument.find(L'=');
        const std::wstring name = argument.substr(0, equals);
        const std::wstring value = equals == std::wstring::npos ? std::wstring() : argument.substr(equals + 1);
        CMessageObject* parameter = parameters->AddObject(L"", false);
        parameter->AddString(L"Name", name);
        parameter->AddString(L"Value", value);
        if (name == L"ExitCode")
            static_cast<void>(ReadLeadingInt32(value, exitCode));
    }

    OperatingSystemInfo os;
    DetectOperatingSystem(*MakeWindowsOsProbes(), os);
    result.AddString(L"OsName", os.fullName);
    result.AddString(L"OsVersion", UInt32ToText(os.majorVersion) + L"." + UInt32ToText(os.minorVersion) + L"." +
                                       UInt32ToText(os.buildNumber));

    std::wstring folder;
    if (!GetAgentDataFolder(folder) || !MakeFolders(folder))
    {
        std::fputs("TelemetrySample: no agent data folder\n", stderr);
        return static_cast<int>(ERROR_PATH_NOT_FOUND);
    }
    ULARGE_INTEGER freeBytes{};
    if (::GetDiskFreeSpaceExW(folder.c_str(), &freeBytes, nullptr, nullptr))
        result.AddUInt64(L"FreeDiskBytes", freeBytes.QuadPart);

    std::string text;
    if (!result.SerializeUtf8(text))
        return static_cast<int>(ERROR_INVALID_DATA);
    if (const DWORD error = WriteWholeFile(folder + kResultFile, text); error != ERROR_SUCCESS)
    {
        std::fprintf(stderr, "TelemetrySample: cannot write %ls%ls: error %lu\n", folder.c_str(), kResultFile, error);
        return static_cast<int>(error);
    }
    return exitCode;
}
