#pragma once
// What operating-system identification asks Windows. The product uses the real calls; tests stand in a
// model machine, since Wine reports only one Windows.

#include "platform/Win.h"

#include <memory>
#include <string>

class IOsProbes
{
public:
    virtual ~IOsProbes() = default;
    [[nodiscard]] virtual BOOL VerifyVersion(OSVERSIONINFOEXW& info, DWORD typeMask, DWORDLONG conditionMask) = 0;
    virtual void GetNativeSystemInfo(SYSTEM_INFO& info) = 0;
    // False when kernel32 does not export IsWow64Process2 or it fails.
    [[nodiscard]] virtual bool GetNativeMachine(USHORT& nativeMachine) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    // False when kernel32 does not export GetProductInfo.
    [[nodiscard]] virtual bool GetProductInfo(DWORD major, DWORD minor, DWORD spMajor, DWORD spMinor, DWORD& type) = 0;
    // Values under HKEY_LOCAL_MACHINE, 64-bit view. False, output untouched, when absent or of another type.
    [[nodiscard]] virtual bool ReadNumber(const wchar_t* key, const wchar_t* name, DWORD& value) = 0;
    [[nodiscard]] virtual bool ReadText(const wchar_t* key, const wchar_t* name, std::wstring& value) = 0;
    [[nodiscard]] virtual bool KeyExists(const wchar_t* key) = 0;
};

// The real Windows calls, for one detection (they keep the registry key they read last open).
std::unique_ptr<IOsProbes> MakeWindowsOsProbes();
