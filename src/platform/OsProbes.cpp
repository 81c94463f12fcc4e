#include "platform/OsProbes.h"

#include "platform/CUniqueHandle.h"

#include <vector>

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
        CRegKey handle;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, kQuery64, handle.Put()) != ERROR_SUCCESS)
            return false;
        DWORD type = 0, data = 0, size = sizeof data;
        if (::RegQueryValueExW(handle.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof data)
            return false;
        value = data;
        return true;
    }

    bool ReadText(const wchar_t* key, const wchar_t* name, std::wstring& value) override
    {
        CRegKey handle;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, kQuery64, handle.Put()) != ERROR_SUCCESS)
            return false;
        DWORD type = 0, size = 0;
        if (::RegQueryValueExW(handle.Get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        // RegQueryValueExW does not promise a terminator: keep room for one and cut at the first NUL.
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        if (::RegQueryValueExW(handle.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                               &size) != ERROR_SUCCESS)
            return false;
        value.assign(data.data());
        return true;
    }

    bool KeyExists(const wchar_t* key) override
    {
        CRegKey handle;
        return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, kQuery64, handle.Put()) == ERROR_SUCCESS;
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
