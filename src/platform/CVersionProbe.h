#pragma once
// The version checks that operating-system identification asks of VerifyVersionInfoW, through the probes (so that
// tests stand in for the machine). Each answers whether the running system matches.

#include "platform/OsProbes.h"
#include "platform/Win.h"

class CVersionProbe
{
public:
    explicit CVersionProbe(IOsProbes& probes) : m_probes(probes) {}

    bool PlatformIsNt()
    {
        OSVERSIONINFOEXW info = Fresh();
        info.dwPlatformId = VER_PLATFORM_WIN32_NT;
        return Verify(info, VER_PLATFORMID, ::VerSetConditionMask(0, VER_PLATFORMID, VER_EQUAL));
    }

    bool IsWorkstation()
    {
        OSVERSIONINFOEXW info = Fresh();
        info.wProductType = VER_NT_WORKSTATION;
        return Verify(info, VER_PRODUCT_TYPE, ::VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL));
    }

    bool HasSuite(WORD suite)
    {
        OSVERSIONINFOEXW info = Fresh();
        info.wSuiteMask = suite;
        return Verify(info, VER_SUITENAME, ::VerSetConditionMask(0, VER_SUITENAME, VER_AND));
    }

    bool IsAbove10()
    {
        OSVERSIONINFOEXW info = Fresh();
        info.dwMajorVersion = 10;
        info.dwMinorVersion = 0;
        info.wServicePackMajor = 32767;
        DWORDLONG mask = ::VerSetConditionMask(0, VER_MAJORVERSION, VER_GREATER_EQUAL);
        mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER);
        mask = ::VerSetConditionMask(mask, VER_SERVICEPACKMAJOR, VER_GREATER);
        return Verify(info, VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR, mask);
    }

    bool IsVersion(DWORD major, DWORD minor)
    {
        OSVERSIONINFOEXW info = Fresh();
        info.dwMajorVersion = major;
        info.dwMinorVersion = minor;
        DWORDLONG mask = ::VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL);
        mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_EQUAL);
        return Verify(info, VER_MAJORVERSION | VER_MINORVERSION, mask);
    }

    bool IsServicePack(WORD major)
    {
        OSVERSIONINFOEXW info = Fresh();
        info.wServicePackMajor = major;
        info.wServicePackMinor = 0;
        DWORDLONG mask = ::VerSetConditionMask(0, VER_SERVICEPACKMAJOR, VER_EQUAL);
        mask = ::VerSetConditionMask(mask, VER_SERVICEPACKMINOR, VER_EQUAL);
        return Verify(info, VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR, mask);
    }

private:
    static OSVERSIONINFOEXW Fresh()
    {
        OSVERSIONINFOEXW info = {};
        info.dwOSVersionInfoSize = sizeof info;
        return info;
    }

    bool Verify(OSVERSIONINFOEXW& info, DWORD typeMask, DWORDLONG mask)
    {
        return m_probes.VerifyVersion(info, typeMask, mask) != FALSE;
    }

    IOsProbes& m_probes;
};
