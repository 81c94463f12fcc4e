// Hollin stand-in: the agent's log. Every Write appends "<UTC time> <level> <text>" as one UTF-8 line to
// agent.log beside this library.

#include "host/ILogService.h"
#include "platform/Files.h"
#include "platform/ModuleFolder.h"
#include "platform/TextUtil.h"
#include "platform/Win.h"

#include <mutex>
#include <new>
#include <string>

namespace
{

std::mutex g_fileMutex;

std::wstring LogPath()
{
    const std::wstring folder = ThisModuleFolder();
    return folder.empty() ? std::wstring() : folder + L"agent.log";
}

const wchar_t* LevelName(DWORD level)
{
    switch (level)
    {
    case 2:
        return L"ERROR";
    case 3:
        return L"WARNING";
    case 4:
        return L"INFO";
    case 5:
        return L"VERBOSE";
    default:
        return L"LEVEL";
    }
}

class CLogService : public ILogService
{
public:
    void Write(DWORD level, const wchar_t* text) override
    {
        SYSTEMTIME now;
        ::GetSystemTime(&now);
        std::wstring line;
        FormatTimestamp(line, now, false);
        line += L' ';
        line += LevelName(level);
        if (level < 2 || level > 5)
            line += std::to_wstring(level);
        line += L' ';
        // One entry, one line.
        for (const wchar_t* at = text != nullptr ? text : L""; *at != L'\0'; ++at)
            line.push_back(*at == L'\r' || *at == L'\n' ? L' ' : *at);
        line += L"\r\n";
        const std::string bytes = WideToUtf8(line);
        if (bytes.empty())
            return;
        const std::wstring path = LogPath();
        std::lock_guard<std::mutex> lock(g_fileMutex);
        if (!path.empty())
            static_cast<void>(WriteWholeFile(path, bytes, kFileAppend));   // logging never fails its caller
    }
};

} // namespace

extern "C" __declspec(dllexport) ILogService* GetILogService()
{
    return new (std::nothrow) CLogService();
}

extern "C" __declspec(dllexport) void FreeILogService(ILogService** service)
{
    if (service == nullptr)
        return;
    delete *service;
    *service = nullptr;
}
