#include "platform/OsProbes.h"

#include "platform/Registry.h"

#include <optional>

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
        return Open(key).Dword(name, value) == ERROR_SUCCESS;
    }

    bool ReadText(const wchar_t* key, const wchar_t* name, std::wstring& value) override
    {
        return Open(key).Text(name, value) == ERROR_SUCCESS;
    }

    bool KeyExists(const wchar_t* key) override
    {
        return ProbeRegistryKey(HKEY_LOCAL_MACHINE, key, kQuery64) == ERROR_SUCCESS;
    }

private:
    // Detection reads one key's values one after the other: the key stays open until another is asked for.
    const CRegistryKey& Open(const wchar_t* key)
    {
        if (!m_key || m_path != key)
        {
            m_key.reset();
            m_path = key;
            m_key.emplace(key, HKEY_LOCAL_MACHINE, kQuery64);
        }
        return *m_key;
    }

    std::wstring m_path;
    std::optional<CRegistryKey> m_key;
};
} // namespace

std::unique_ptr<IOsProbes> MakeWindowsOsProbes()
{
    return std::make_unique<CWindowsOsProbes>();
}
