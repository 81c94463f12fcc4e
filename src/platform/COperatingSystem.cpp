#include "platform/COperatingSystem.h"

#include "platform/CVersionProbe.h"
#include "platform/OsProbes.h"
#include "platform/ProductTypes.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>

namespace
{
constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr wchar_t kServerLevelsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Server\\ServerLevels";

std::mutex g_mutex;
OperatingSystemInfo* g_record = nullptr;
unsigned g_users = 0;
IOsProbes* g_testProbes = nullptr;

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
    if (info.productType == PRODUCT_SERVERRDSH)
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
    if (g_testProbes != nullptr)
    {
        DetectOperatingSystem(*g_testProbes, info);
        return;
    }
    DetectOperatingSystem(*MakeWindowsOsProbes(), info);
}

void COperatingSystem::SetProbesForTesting(IOsProbes* probes)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_testProbes = probes;
}
