#include "platform/CommandLine.h"

#include "platform/CUniqueHandle.h"

#include <shellapi.h>

bool ReadCommandLine(std::vector<std::wstring>& arguments)
{
    int count = 0;
    wchar_t** split = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (split == nullptr)
        return false;
    const CLocalMemory owner(split);
    arguments.assign(split, split + count);
    return true;
}
