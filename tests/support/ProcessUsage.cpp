#include "ProcessUsage.h"

#include <psapi.h>
#include <winternl.h>

#include <string>

ProcessUsage MeasureProcessUsage()
{
    ProcessUsage usage;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory)))
        usage.committedBytes = memory.PagefileUsage;
    using NtQueryObjectFn = NTSTATUS(NTAPI*)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<NtQueryObjectFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    // Handle values are multiples of 4; a process of these tests stays far below this bound.
    for (ULONG_PTR value = 4; value < 0x10000; value += 4)
    {
        DWORD flags = 0;
        const HANDLE handle = reinterpret_cast<HANDLE>(value);
        if (!::GetHandleInformation(handle, &flags))
            continue;
        alignas(8) BYTE buffer[512] = {};
        const auto* type = reinterpret_cast<const UNICODE_STRING*>(buffer);
        ULONG length = 0;
        const bool typed = query && query(handle, ObjectTypeInformation, buffer, sizeof(buffer), &length) == 0;
        const std::wstring name = typed ? std::wstring(type->Buffer, type->Length / sizeof(wchar_t)) : L"";
        ++(name == L"Thread" || name == L"Event" ? usage.threadAndEventHandles : usage.handles);
    }
    return usage;
}
