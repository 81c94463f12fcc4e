#include "platform/COperatingSystem.h"

#include "platform/OsProbes.h"

#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <mutex>

namespace
{
constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kServerLevelsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Server\\ServerLevels";

constexpr DWORD kProductTypeMultiSessionDesktop = 175;

std::mutex g_mutex;
OperatingSystemInfo* g_record = nullptr;
unsigned g_users = 0;
IOsProbes* g_testProbes = nullptr;

bool In(DWORD value, std::initializer_list<DWORD> values)
{
    for (const DWORD v : values)
        if (v == value)
            return true;
    return false;
}

bool InRange(DWORD value, DWORD first, DWORD last) { return value >= first && value <= last; }

// Digits only, fitting 32 bits; anything else leaves the field at 0.
bool ParseDecimal(const std::wstring& text, DWORD& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    unsigned long long n = 0;
    for (const wchar_t c : text)
    {
        if (c < L'0' || c > L'9')
            return false;
        n = n * 10 + static_cast<unsigned>(c - L'0');
    }
    if (n > 0xFFFFFFFFull)
        return false;
    value = static_cast<DWORD>(n);
    return true;
}

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

void ReadArchitecture(IOsProbes& probes, OperatingSystemInfo& info)
{
    SYSTEM_INFO system = {};
    probes.GetNativeSystemInfo(system);
    switch (system.wProcessorArchitecture)
    {
    case PROCESSOR_ARCHITECTURE_INTEL: info.processorArchitecture = 1; break;
    case PROCESSOR_ARCHITECTURE_AMD64: info.processorArchitecture = 2; break;
    case PROCESSOR_ARCHITECTURE_IA64: info.processorArchitecture = 3; break;
    case PROCESSOR_ARCHITECTURE_ARM64: info.processorArchitecture = 4; break;
    default: info.processorArchitecture = 0; break;
    }

    // A 32-bit process on ARM64 Windows is told it runs on x64; the native machine says otherwise.
    USHORT machine = 0;
    if (probes.GetNativeMachine(machine))
    {
        switch (machine)
        {
        case IMAGE_FILE_MACHINE_ARM64:
            info.architectureClass = 3;
            if (info.processorArchitecture == 2)
                info.processorArchitecture = 4;
            break;
        case IMAGE_FILE_MACHINE_AMD64:
        case IMAGE_FILE_MACHINE_IA64: info.architectureClass = 2; break;
        case IMAGE_FILE_MACHINE_I386: info.architectureClass = 1; break;
        default: info.architectureClass = 0; break;
        }
    }
    if (info.architectureClass == 0)
    {
        switch (info.processorArchitecture)
        {
        case 1: info.architectureClass = 1; break;
        case 2:
        case 3: info.architectureClass = 2; break;
        case 4: info.architectureClass = 3; break;
        default: break;
        }
    }
}

void ReadServerLevels(IOsProbes& probes, OperatingSystemInfo& info)
{
    const auto level = [&](const wchar_t* name) -> std::uint8_t {
        DWORD value = 0;
        return probes.ReadNumber(kServerLevelsKey, name, value) && value == 1;
    };
    info.hasServerGuiShell = level(L"Server-Gui-Shell");
    info.hasServerGuiMgmt = level(L"Server-Gui-Mgmt");
    info.hasServerCoreLevel = level(L"ServerCore");
    info.isNanoServer = level(L"NanoServer");
    info.isServerCore =
        !info.hasServerGuiShell && (info.isNanoServer || info.hasServerCoreLevel || info.hasServerGuiMgmt);
}

void ReadRegistryVersion(IOsProbes& probes, OperatingSystemInfo& info)
{
    DWORD number = 0;
    std::wstring text;
    if (probes.ReadNumber(kCurrentVersionKey, L"CurrentMajorVersionNumber", number))
    {
        info.majorVersion = number;
        if (probes.ReadNumber(kCurrentVersionKey, L"CurrentMinorVersionNumber", number))
            info.minorVersion = number;
    }
    else if (probes.ReadText(kCurrentVersionKey, L"CurrentVersion", text))
    {
        int major = 0, minor = 0;
        if (std::swscanf(text.c_str(), L"%d.%d", &major, &minor) == 2)
        {
            info.majorVersion = static_cast<std::uint32_t>(major);
            info.minorVersion = static_cast<std::uint32_t>(minor);
        }
    }
    if (probes.ReadText(kCurrentVersionKey, L"CurrentBuildNumber", text) && ParseDecimal(text, number))
        info.buildNumber = number;
    if (probes.ReadNumber(kCurrentVersionKey, L"UBR", number))
        info.updateBuildRevision = number;

    if (probes.ReadText(kCurrentVersionKey, L"DisplayVersion", text))
        info.displayVersion = text;
    else if (probes.ReadText(kCurrentVersionKey, L"ReleaseId", text))
    {
        if (ParseDecimal(text, number) && number <= 0xFFFF)
            info.releaseId = static_cast<std::uint16_t>(number);
    }
    else if (probes.ReadText(kCurrentVersionKey, L"CSDVersion", text))
    {
        unsigned short servicePack = 0;
        if (std::swscanf(text.c_str(), L"%*s %*s %hu", &servicePack) == 1)
            info.servicePackMajor = servicePack;
    }
    if (probes.ReadText(kCurrentVersionKey, L"ProductName", text))
        info.productName = text;
}

std::uint32_t CodeFor10(const OperatingSystemInfo& info)
{
    if (!info.isServer)
        return info.buildNumber < 22000 ? kOsWindows10 : kOsWindows11;
    if (info.buildNumber < 17758)
        return kOsWindowsServer2016;
    if (info.buildNumber < 20348)
        return kOsWindowsServer2019;
    return info.buildNumber < 26100 ? kOsWindowsServer2022 : kOsWindowsServer2025;
}

void FindOsCode(CVersionProbe& version, OperatingSystemInfo& info)
{
    if (version.IsAbove10())
    {
        for (DWORD major : {10u, 11u})
            for (DWORD minor : {0u, 1u, 2u})
                if (version.IsVersion(major, minor))
                {
                    info.majorVersion = major;
                    info.minorVersion = minor;
                }
        info.osCode = kOsLater;
        return;
    }
    struct Known
    {
        DWORD major, minor;
        std::uint32_t workstation, server;
    };
    static const Known known[] = {
        {10, 0, 0, 0},
        {6, 3, kOsWindows81, kOsWindowsServer2012R2},
        {6, 2, kOsWindows8, kOsWindowsServer2012},
        {6, 1, kOsWindows7, kOsWindowsServer2008R2},
        {6, 0, kOsWindowsVista, kOsWindowsServer2008},
        {5, 2, kOsWindowsXp, kOsWindowsServer2003},
        {5, 1, kOsWindowsXp, kOsWindowsXp},
    };
    for (const Known& k : known)
    {
        if (!version.IsVersion(k.major, k.minor))
            continue;
        info.majorVersion = k.major;
        info.minorVersion = k.minor;
        info.osCode = k.major == 10 ? CodeFor10(info) : info.isServer ? k.server : k.workstation;
        if (k.major == 5 || (k.major == 6 && k.minor <= 1))
        {
            info.servicePackMajor = 0;
            for (WORD sp = 0; sp <= 5; ++sp)
                if (version.IsServicePack(sp))
                {
                    info.servicePackMajor = sp;
                    break;
                }
        }
        return;
    }
}

void ApplyProductTypeCorrections(OperatingSystemInfo& info)
{
    // Multi-session desktops report themselves as servers.
    if (info.productType == kProductTypeMultiSessionDesktop)
    {
        if (info.osCode == kOsWindowsServer2019)
        {
            info.osCode = kOsWindows10;
            info.isServer = 0;
        }
        else if (info.osCode == kOsWindowsServer2022 || info.osCode == kOsWindowsServer2025)
        {
            info.osCode = kOsWindows11;
            info.isServer = 0;
        }
    }
    // Windows 11 keeps "Windows 10" in its registered product name.
    if (info.osCode == kOsWindows11)
    {
        const size_t at = info.productName.find(L" 10 ");
        if (at != std::wstring::npos)
            info.productName[at + 2] = L'1';
    }
}

void BuildFullName(OperatingSystemInfo& info)
{
    info.fullName = info.productName;
    if (info.architectureClass == 2)
        info.fullName += L" 64 bits";
    else if (info.architectureClass == 3)
        info.fullName += L" ARM 64";
    if (!info.displayVersion.empty())
        info.fullName += L" Version " + info.displayVersion;
    else if (info.servicePackMajor != 0)
        info.fullName += L" Service Pack " + std::to_wstring(info.servicePackMajor);
    else
        info.fullName += L" Version " + std::to_wstring(info.releaseId);
}
} // namespace

std::uint32_t EditionCode(IOsProbes& probes, const OperatingSystemInfo& info)
{
    CVersionProbe version(probes);
    const DWORD type = info.productType;
    const bool x86 = info.architectureClass == 1;
    const bool x64 = info.architectureClass == 2;
    const bool arm64 = info.architectureClass == 3;
    const bool core = info.isServerCore != 0;

    // Groups of product types that recur across versions.
    const auto business = [&] { return In(type, {4, 27, 70}); };
    const auto professional = [&] { return In(type, {48, 49, 69, 103}); };
    const auto embedded = [&] { return In(type, {65, 88, 90, 107, 108}); };
    const auto win10Enterprise = [&] { return In(type, {4, 27, 70, 72, 84, 125, 126, 129, 130, 140, 141}); };
    const auto win10Pro = [&] { return In(type, {48, 49, 103, 161, 162}); };
    const auto win10Education = [&] { return In(type, {121, 122, 164, 165}); };

    switch (info.osCode)
    {
    case kOsWindowsXp:
        if (x86)
        {
            if (version.HasSuite(VER_SUITE_EMBEDDEDNT))
            {
                if (probes.KeyExists(L"SYSTEM\\WPA\\WEPOS"))
                    return 124;
                if (probes.KeyExists(L"SYSTEM\\WPA\\POSReady"))
                    return 125;
                return probes.KeyExists(L"SYSTEM\\WPA\\WES") ? 126 : 123;
            }
            return info.isHome ? 65 : info.isStarter ? 64 : info.isMediaCenter ? 67 : 66;
        }
        return x64 ? 18 : 0;
    case kOsWindowsServer2003:
    {
        if (!x86 && !x64)
            return 0;
        const bool enterprise = version.HasSuite(VER_SUITE_ENTERPRISE);
        const bool datacenter = version.HasSuite(VER_SUITE_DATACENTER);
        const bool web = version.HasSuite(VER_SUITE_BLADE);
        if (x86)
        {
            const bool cluster = version.HasSuite(VER_SUITE_COMPUTE_SERVER);
            return enterprise ? 70 : datacenter ? 71 : web ? 68 : cluster ? 44 : 69;
        }
        return enterprise ? 26 : datacenter ? 27 : web ? 21 : 25;
    }
    case kOsWindowsVista:
        if (x86)
            return In(type, {1, 28}) ? 33 : In(type, {3, 26}) ? 30 : In(type, {4, 27}) ? 32
                 : In(type, {6, 16}) ? 31 : type == 11 ? 28 : 29;
        if (x64)
            return In(type, {1, 28}) ? 38 : In(type, {3, 26}) ? 35 : In(type, {4, 27}) ? 37
                 : In(type, {6, 16}) ? 36 : 34;
        return 0;
    case kOsWindowsServer2008:
        if (x86)
            return InRange(type, 12, 14) ? 106 : 39;
        if (x64)
            return In(type, {9, 19, 24, 25}) ? 45 : InRange(type, 12, 14) ? 107 : 40;
        return 0;
    case kOsWindows7:
    {
        const bool posReady = embedded() && probes.KeyExists(L"SOFTWARE\\Microsoft\\POSReady");
        if (x86)
            return In(type, {2, 5, 67}) ? 47 : In(type, {3, 26, 68}) ? 48
                 : In(type, {6, 16, 48, 49, 69, 103}) ? 49 : In(type, {4, 27, 70}) ? 50
                 : In(type, {1, 28, 71}) ? 51 : embedded() ? (posReady ? 127 : 129) : 46;
        if (x64)
            return In(type, {3, 26, 68}) ? 53 : In(type, {6, 16, 48, 49, 69, 103}) ? 54
                 : In(type, {4, 27, 70}) ? 55 : In(type, {1, 28, 71}) ? 56
                 : embedded() ? (posReady ? 128 : 130) : 52;
        return 0;
    }
    case kOsWindowsServer2008R2:
        return In(type, {7, 36}) ? 58 : In(type, {10, 15, 38}) ? 59 : In(type, {8, 37}) ? 60
             : In(type, {17, 29}) ? 61 : In(type, {9, 34}) ? 62 : type == 50 ? 63
             : In(type, {12, 13, 14, 39, 40, 41}) ? 108 : 57;
    case kOsWindows8:
    {
        const bool thin = In(type, {86, 89, 91, 92, 105, 106});
        if (x86)
            return business() ? 82 : professional() ? 75 : embedded() ? 131 : thin ? 135 : 73;
        if (x64)
            return business() ? 83 : professional() ? 76 : embedded() ? 132 : thin ? 136 : 74;
        return 0;
    }
    case kOsWindowsServer2012:
        return core ? 109 : In(type, {7, 36}) ? 80 : In(type, {8, 37}) ? 81 : type == 33 ? 78
             : type == 50 ? 79 : 77;
    case kOsWindows81:
    {
        const bool embeddedOrThin = In(type, {65, 86, 88, 89, 90, 91, 92, 105, 106, 107, 108});
        if (x86)
            return business() ? 88 : professional() ? 86 : embeddedOrThin ? 137 : 84;
        if (x64)
            return business() ? 89 : professional() ? 87 : embeddedOrThin ? 138 : 85;
        return 0;
    }
    case kOsWindowsServer2012R2:
        return core ? 110 : In(type, {7, 36}) ? 93 : In(type, {8, 37}) ? 94 : type == 33 ? 91
             : type == 50 ? 92 : 90;
    case kOsWindows10:
        if (x86)
            return win10Enterprise() ? 99 : win10Pro() ? 97 : win10Education() ? 121 : In(type, {185, 187}) ? 139
                 : In(type, {188, 191}) ? 141 : type == 175 ? 145 : 95;
        if (x64)
            return win10Enterprise() ? 100 : win10Pro() ? 98 : win10Education() ? 122 : In(type, {185, 187}) ? 140
                 : In(type, {188, 191}) ? 142 : type == 175 ? 146 : 96;
        if (arm64)
            return win10Pro() ? 144 : 143;
        return 0;
    case kOsWindowsServer2016:
        return core ? 111 : In(type, {8, 37}) ? 105 : In(type, {10, 15, 38}) ? 102 : type == 33 ? 103
             : type == 50 ? 104 : 101;
    case kOsWindowsServer2019:
        return core ? 114 : In(type, {8, 37}) ? 113 : 112;
    case kOsWindows11:
    case kOsLater:
        if (x64)
            return win10Enterprise() ? 152 : win10Pro() ? 150 : win10Education() ? 149 : In(type, {188, 191}) ? 158
                 : type == 175 ? 153 : 147;
        if (arm64)
            return win10Enterprise() || win10Pro() || type == 175 ? 151 : win10Education() ? 157 : 148;
        return 0;
    case kOsWindowsServer2022:
        return core ? 156 : In(type, {8, 37}) ? 155 : 154;
    case kOsWindowsServer2025:
        if (x64)
            return In(type, {8, 37}) ? 160 : 159;
        if (arm64)
            return In(type, {8, 37}) ? 162 : 161;
        return 0;
    default:
        return 0;
    }
}

void DetectOperatingSystem(IOsProbes& probes, OperatingSystemInfo& info)
{
    CVersionProbe version(probes);
    if (!version.PlatformIsNt())
        return;
    info.isWindowsNt = 1;

    ReadArchitecture(probes, info);

    info.isServer = !version.IsWorkstation();
    if (!info.isServer)
    {
        info.isHome = version.HasSuite(VER_SUITE_PERSONAL);
        info.isStarter = probes.GetSystemMetrics(SM_STARTER) != 0;
        info.isMediaCenter = probes.GetSystemMetrics(SM_MEDIACENTER) != 0;
        info.isTabletPc = probes.GetSystemMetrics(SM_TABLETPC) != 0;
    }
    else
        ReadServerLevels(probes, info);

    ReadRegistryVersion(probes, info);
    FindOsCode(version, info);

    DWORD productType = 0;
    if (probes.GetProductInfo(info.majorVersion, info.minorVersion, info.servicePackMajor, 0, productType))
        info.productType = productType;

    ApplyProductTypeCorrections(info);
    BuildFullName(info);
    info.editionCode = EditionCode(probes, info);
}

COperatingSystem::COperatingSystem()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_users;
    if (!g_record)
    {
        try
        {
            auto record = std::make_unique<OperatingSystemInfo>();
            COperatingSystem::Detect(*record);
            g_record = record.release();
        }
        catch (...)
        {
            --g_users;
            throw;
        }
    }
    m_info = g_record;
}

COperatingSystem::~COperatingSystem()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (--g_users == 0)
    {
        delete g_record;
        g_record = nullptr;
    }
}

void COperatingSystem::Detect(OperatingSystemInfo& info)
{
    DetectOperatingSystem(g_testProbes ? *g_testProbes : WindowsOsProbes(), info);
}

void COperatingSystem::SetProbesForTesting(IOsProbes* probes)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_testProbes = probes;
}
