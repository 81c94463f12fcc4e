#include "HostOutput.h"

#include "platform/TextUtil.h"

#include <cstdio>
#include <mutex>

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

std::wstring Meaning(DWORD code)
{
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring meaning = length != 0 ? std::wstring(text, length) : L"no description";
    ::LocalFree(text);
    while (!meaning.empty() && (meaning.back() == L'\n' || meaning.back() == L'\r' || meaning.back() == L' '))
        meaning.pop_back();
    return meaning;
}
