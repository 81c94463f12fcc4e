#include "HostOutput.h"

#include "platform/CUniqueHandle.h"
#include "platform/TextUtil.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace
{
std::mutex g_outputMutex;
}

void PrintLine(const std::wstring& text)
{
    const std::string utf8 = WideToUtf8(text);
    const std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fprintf(stdout, "%s\n", utf8.c_str());
    std::fflush(stdout);
}

namespace
{

// What the plug-in, the stand-ins and the development launcher can answer, for the numbers the system has no
// text for (under Wine or on Windows).
std::wstring OwnMeaning(DWORD code)
{
    static const std::pair<DWORD, const wchar_t*> kTexts[] = {
        {2, L"The system cannot find the file specified."},
        {3, L"The system cannot find the path specified."},
        {8, L"Not enough memory resources are available to process this command."},
        {13, L"The data is invalid."},
        {87, L"The parameter is incorrect."},
        {120, L"This function is not supported on this system."},
        {123, L"The filename, directory name, or volume label syntax is incorrect."},
        {223, L"The file size exceeds the limit allowed and cannot be saved."},
        {266, L"The copy functions cannot be used."},
        {605, L"The plug-in package could not be unpacked."},
        {1003, L"Cannot complete this function."},
        {1006, L"The volume for a file has been externally altered so that the opened file is no longer valid."},
        {1067, L"The process terminated unexpectedly."},
        {1114, L"A dynamic link library (DLL) initialization routine failed."},
        {1168, L"Element not found."},
        {1359, L"An internal error occurred."},
        {1460, L"This operation returned because the timeout period expired."},
        {1620, L"This installation package could not be opened. Contact the application vendor to verify that "
               L"this is a valid Windows Installer package."},
        {4311, L"The media changer could not be cleaned."},
        {4312, L"The object identifier does not represent a valid object."},
        {4320, L"The operator or administrator has refused the request."},
        {5023, L"The group or resource is not in the correct state to perform the requested operation."},
        // WinHTTP's, which the system's own table does not hold.
        {12002, L"The request has timed out."},
        {12005, L"The URL is invalid."},
        {12006, L"The URL specified a scheme other than \"http:\" or \"https:\"."},
        {12007, L"The server name cannot be resolved."},
        {12029, L"The connection to the server failed."},
        {12030, L"The connection with the server has been reset or terminated, or an incompatible SSL protocol was "
                L"encountered."},
        {12152, L"The server response cannot be parsed."},
        {12157, L"An error occurred in the secure channel support."},
        {12175, L"One or more errors were found in the certificate sent by the server."},
        {0x8009202B, L"No signer certificate trusted by the agent (the launcher's publisher is not trusted)."},
        {0x20000001, L"Wexler: the command line is not -cfg \"<file>\"."},
        {0x20000002, L"Wexler: the configuration file is missing or cannot be read."},
        {0x20000003, L"Wexler: the configuration file is not a JSON object with a \"Plugin\" text."},
        {0x20000004, L"Wexler: the plug-in could not be started or waited for."},
    };
    for (const auto& [number, text] : kTexts)
        if (number == code)
            return text;
    return L"no description";
}

} // namespace

std::wstring Meaning(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const CLocalMemory owner(text);
    std::wstring meaning = length != 0 ? std::wstring(text, length) : OwnMeaning(code);
    while (!meaning.empty() && (meaning.back() == L'\n' || meaning.back() == L'\r' || meaning.back() == L' '))
        meaning.pop_back();
    return meaning;
}
