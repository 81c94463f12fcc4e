#include "ProcessUsage.h"

#include <psapi.h>
#include <winternl.h>

#include <string>

namespace
{

using NtQueryObjectFn = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);

bool IsThreadOrEvent(NtQueryObjectFn query, HANDLE handle)
{
    if (query == nullptr)
        return false;
    alignas(8) BYTE buffer[512] = {};
    ULONG length = 0;
    if (query(handle, ObjectTypeInformation, buffer, sizeof(buffer), &length) != 0)
        return false;
    const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer);
    const std::wstring type(name->Buffer, name->Length / sizeof(wchar_t));
    return type == L"Thread" || type == L"Event";
}

} // namespace

ProcessUsage MeasureProcessUsage()
{
    ProcessUsage usage;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory)))
        usage.committedBytes = memory.PagefileUsage;
    const auto query = reinterpret_cast<NtQueryObjectFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    // Handle values are multiples of 4; a process of these tests stays far below this bound.
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
    {
        DWORD flags = 0;
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (!::GetHandleInformation(handle, &flags))
            continue;
        if (IsThreadOrEvent(query, handle))
            ++usage.threadAndEventHandles;
        else
            ++usage.handles;
    }
    return usage;
}
