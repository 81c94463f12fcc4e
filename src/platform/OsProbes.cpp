#include "platform/OsProbes.h"

#include "platform/Registry.h"

namespace
{
constexpr REGSAM kQuery64 = KEY_QUERY_VALUE | KEY_WOW64_64KEY;

class CWindowsOsProbes final : public IOsProbes
{
public:
    BOOL VerifyVersion(OSVERSIONINFOEXW& info, DWORD typeMask, DWORDLONG conditionMask) override
    {
        return ::VerifyVersionInfoW(&info, typeMask, conditionMask);
    }

    void GetNativeSystemInfo(SYSTEM_INFO& info) override { ::GetNativeSystemInfo(&info); }

    bool GetNativeMachine(USHORT& nativeMachine) override
    {
        using Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
        const auto fn = reinterpret_cast<Fn>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "IsWow64Process2")));
        USHORT process = 0;
        return fn && fn(::GetCurrentProcess(), &process, &nativeMachine);
    }

    int GetSystemMetrics(int index) override { return ::GetSystemMetrics(index); }

    bool GetProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, DWORD& type) override
    {
        using Fn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, DWORD*);
        const auto fn = reinterpret_cast<Fn>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "GetProductInfo")));
        if (!fn)
            return false;
        fn(major, minor, spMajor, spMinor, &type);
        return true;
    }

    bool ReadNumber(const wchar_t* key, const wchar_t* name, DWORD& value) override
    {
        return ReadRegistryDword(HKEY_LOCAL_MACHINE, key, name, value, kQuery64) == ERROR_SUCCESS;
    }

    bool ReadText(const wchar_t* key, const wchar_t* name, std::wstring& value) override
    {
        return ReadRegistryText(HKEY_LOCAL_MACHINE, key, name, value, kQuery64) == ERROR_SUCCESS;
    }

    bool KeyExists(const wchar_t* key) override
    {
        return ProbeRegistryKey(HKEY_LOCAL_MACHINE, key, kQuery64) == ERROR_SUCCESS;
    }
};

// Built while the library loads: a function-local static would take the threads library's once-lock,
// which leaves a thread handle and an event behind for every load.
CWindowsOsProbes g_windowsOsProbes;
} // namespace

IOsProbes& WindowsOsProbes()
{
    return g_windowsOsProbes;
}
