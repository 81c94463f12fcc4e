#include "platform/COperatingSystem.h"

#include "platform/OsProbes.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <memory>
#include <mutex>

// Product types that the mingw-w64 headers do not define yet, with their documented values.
#ifndef PRODUCT_ENTERPRISE_SUBSCRIPTION
#define PRODUCT_ENTERPRISE_SUBSCRIPTION 0x0000008C
#endif
#ifndef PRODUCT_ENTERPRISE_SUBSCRIPTION_N
#define PRODUCT_ENTERPRISE_SUBSCRIPTION_N 0x0000008D
#endif
#ifndef PRODUCT_PRO_WORKSTATION
#define PRODUCT_PRO_WORKSTATION 0x000000A1
#endif
#ifndef PRODUCT_PRO_WORKSTATION_N
#define PRODUCT_PRO_WORKSTATION_N 0x000000A2
#endif
#ifndef PRODUCT_PRO_FOR_EDUCATION
#define PRODUCT_PRO_FOR_EDUCATION 0x000000A4
#endif
#ifndef PRODUCT_PRO_FOR_EDUCATION_N
#define PRODUCT_PRO_FOR_EDUCATION_N 0x000000A5
#endif
#ifndef PRODUCT_SERVERRDSH
#define PRODUCT_SERVERRDSH 0x000000AF
#endif
#ifndef PRODUCT_IOTOS
#define PRODUCT_IOTOS 0x000000B9
#endif
#ifndef PRODUCT_IOTEDGEOS
#define PRODUCT_IOTEDGEOS 0x000000BB
#endif
#ifndef PRODUCT_IOTENTERPRISE
#define PRODUCT_IOTENTERPRISE 0x000000BC
#endif
#ifndef PRODUCT_IOTENTERPRISES
#define PRODUCT_IOTENTERPRISES 0x000000BF
#endif

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

// Product types, as a set that a table row holds by value. Built from none: every type.
class CProductTypes
{
public:
    constexpr CProductTypes() = default;
    constexpr CProductTypes(std::initializer_list<DWORD> types) : m_any(false)
    {
        for (const DWORD type : types)
            m_bits[type / 32] |= 1u << (type % 32);
    }
    constexpr CProductTypes operator|(const CProductTypes& other) const
    {
        CProductTypes both;
        both.m_any = m_any || other.m_any;
        for (int i = 0; i < 8; ++i)
            both.m_bits[i] = m_bits[i] | other.m_bits[i];
        return both;
    }
    bool Has(DWORD type) const { return m_any || (type < 256 && (m_bits[type / 32] >> (type % 32) & 1u) != 0); }

private:
    bool m_any = true;
    std::uint32_t m_bits[8] = {};
};

// Architecture classes as bits: 1 << architectureClass.
enum : unsigned
{
    kX86 = 1u << 1,
    kX64 = 1u << 2,
    kArm64 = 1u << 3,
    kAnyArchitecture = ~0u,   // unknown classes too
};

enum class Holds : std::uint8_t
{
    Always,
    ServerCore,
    Home,
    Starter,
    MediaCenter,
};

// One edition among a version's: the first choice that holds gives the code.
struct EditionChoice
{
    CProductTypes types;
    std::uint32_t edition;          // 0: an unused place
    Holds holds = Holds::Always;
    WORD suite = 0;                 // a suite that VerifyVersion must confirm
    const wchar_t* key = nullptr;   // a key under HKEY_LOCAL_MACHINE that must exist
};

// The editions of one version on some architectures: a choice, else the fallback. No group: 0.
struct EditionGroup
{
    std::uint32_t os;
    unsigned architectures;
    std::uint32_t fallback;
    EditionChoice choices[8];
};

constexpr CProductTypes kEnterprise{PRODUCT_ENTERPRISE, PRODUCT_ENTERPRISE_N, PRODUCT_ENTERPRISE_E};
constexpr CProductTypes kProfessional{PRODUCT_PROFESSIONAL, PRODUCT_PROFESSIONAL_N, PRODUCT_PROFESSIONAL_E,
                                      PRODUCT_PROFESSIONAL_WMC};
constexpr CProductTypes kEmbedded{PRODUCT_EMBEDDED, PRODUCT_EMBEDDED_A, PRODUCT_EMBEDDED_E, PRODUCT_EMBEDDED_EVAL,
                                  PRODUCT_EMBEDDED_E_EVAL};
constexpr CProductTypes kIndustry{PRODUCT_EMBEDDED_INDUSTRY_A,   PRODUCT_EMBEDDED_INDUSTRY,
                                  PRODUCT_EMBEDDED_INDUSTRY_E,   PRODUCT_EMBEDDED_INDUSTRY_A_E,
                                  PRODUCT_EMBEDDED_INDUSTRY_EVAL, PRODUCT_EMBEDDED_INDUSTRY_E_EVAL};
constexpr CProductTypes kServerCores{PRODUCT_DATACENTER_SERVER_CORE, PRODUCT_STANDARD_SERVER_CORE,
                                     PRODUCT_ENTERPRISE_SERVER_CORE};
constexpr CProductTypes kStandardServer{PRODUCT_STANDARD_SERVER, PRODUCT_STANDARD_SERVER_V};
constexpr CProductTypes kDatacenterServer{PRODUCT_DATACENTER_SERVER, PRODUCT_DATACENTER_SERVER_V};
constexpr CProductTypes kEnterpriseServer{PRODUCT_ENTERPRISE_SERVER, PRODUCT_ENTERPRISE_SERVER_IA64,
                                          PRODUCT_ENTERPRISE_SERVER_V};
constexpr CProductTypes kServerCoresV{PRODUCT_DATACENTER_SERVER_CORE_V, PRODUCT_STANDARD_SERVER_CORE_V,
                                      PRODUCT_ENTERPRISE_SERVER_CORE_V};
constexpr CProductTypes kSmallBusinessServer{PRODUCT_SMALLBUSINESS_SERVER, PRODUCT_HOME_SERVER,
                                             PRODUCT_SERVER_FOR_SMALLBUSINESS, PRODUCT_SMALLBUSINESS_SERVER_PREMIUM};
constexpr CProductTypes kUltimate{PRODUCT_ULTIMATE, PRODUCT_ULTIMATE_N};
constexpr CProductTypes kUltimate7{PRODUCT_ULTIMATE, PRODUCT_ULTIMATE_N, PRODUCT_ULTIMATE_E};
constexpr CProductTypes kHomeBasic{PRODUCT_HOME_BASIC, PRODUCT_HOME_BASIC_N, PRODUCT_HOME_BASIC_E};
constexpr CProductTypes kHomePremium{PRODUCT_HOME_PREMIUM, PRODUCT_HOME_PREMIUM_N};
constexpr CProductTypes kHomePremium7{PRODUCT_HOME_PREMIUM, PRODUCT_HOME_PREMIUM_N, PRODUCT_HOME_PREMIUM_E};
constexpr CProductTypes kBusiness{PRODUCT_BUSINESS, PRODUCT_BUSINESS_N};
constexpr CProductTypes kVistaEnterprise{PRODUCT_ENTERPRISE, PRODUCT_ENTERPRISE_N};
constexpr CProductTypes kWin10Enterprise =
    kEnterprise | CProductTypes{PRODUCT_ENTERPRISE_EVALUATION,    PRODUCT_ENTERPRISE_N_EVALUATION,
                                PRODUCT_ENTERPRISE_S,             PRODUCT_ENTERPRISE_S_N,
                                PRODUCT_ENTERPRISE_S_EVALUATION,  PRODUCT_ENTERPRISE_S_N_EVALUATION,
                                PRODUCT_ENTERPRISE_SUBSCRIPTION, PRODUCT_ENTERPRISE_SUBSCRIPTION_N};
constexpr CProductTypes kWin10Pro{PRODUCT_PROFESSIONAL, PRODUCT_PROFESSIONAL_N, PRODUCT_PROFESSIONAL_WMC,
                                  PRODUCT_PRO_WORKSTATION, PRODUCT_PRO_WORKSTATION_N};
constexpr CProductTypes kWin10Education{PRODUCT_EDUCATION, PRODUCT_EDUCATION_N, PRODUCT_PRO_FOR_EDUCATION,
                                        PRODUCT_PRO_FOR_EDUCATION_N};
constexpr CProductTypes kIotOs{PRODUCT_IOTOS, PRODUCT_IOTEDGEOS};
constexpr CProductTypes kIotEnterprise{PRODUCT_IOTENTERPRISE, PRODUCT_IOTENTERPRISES};
constexpr CProductTypes kMultiSession{PRODUCT_SERVERRDSH};
constexpr CProductTypes kAny{};

constexpr wchar_t kWepos[] = L"SYSTEM\\WPA\\WEPOS";
constexpr wchar_t kXpPosReady[] = L"SYSTEM\\WPA\\POSReady";
constexpr wchar_t kWes[] = L"SYSTEM\\WPA\\WES";
constexpr wchar_t kPosReady7[] = L"SOFTWARE\\Microsoft\\POSReady";
constexpr Holds kAlways = Holds::Always;

constexpr EditionGroup kEditionGroups[] = {
    {kOsWindowsXp, kX86, 66,
     {{kAny, 124, kAlways, VER_SUITE_EMBEDDEDNT, kWepos}, {kAny, 125, kAlways, VER_SUITE_EMBEDDEDNT, kXpPosReady},
      {kAny, 126, kAlways, VER_SUITE_EMBEDDEDNT, kWes}, {kAny, 123, kAlways, VER_SUITE_EMBEDDEDNT},
      {kAny, 65, Holds::Home}, {kAny, 64, Holds::Starter}, {kAny, 67, Holds::MediaCenter}}},
    {kOsWindowsXp, kX64, 18, {}},
    {kOsWindowsServer2003, kX86, 69,
     {{kAny, 70, kAlways, VER_SUITE_ENTERPRISE}, {kAny, 71, kAlways, VER_SUITE_DATACENTER},
      {kAny, 68, kAlways, VER_SUITE_BLADE}, {kAny, 44, kAlways, VER_SUITE_COMPUTE_SERVER}}},
    {kOsWindowsServer2003, kX64, 25,
     {{kAny, 26, kAlways, VER_SUITE_ENTERPRISE}, {kAny, 27, kAlways, VER_SUITE_DATACENTER},
      {kAny, 21, kAlways, VER_SUITE_BLADE}}},
    {kOsWindowsVista, kX86, 29,
     {{kUltimate, 33}, {kHomePremium, 30}, {kVistaEnterprise, 32}, {kBusiness, 31}, {{PRODUCT_STARTER}, 28}}},
    {kOsWindowsVista, kX64, 34, {{kUltimate, 38}, {kHomePremium, 35}, {kVistaEnterprise, 37}, {kBusiness, 36}}},
    {kOsWindowsServer2008, kX86, 39, {{kServerCores, 106}}},
    {kOsWindowsServer2008, kX64, 40, {{kSmallBusinessServer, 45}, {kServerCores, 107}}},
    {kOsWindows7, kX86, 46,
     {{kHomeBasic, 47}, {kHomePremium7, 48}, {kBusiness | kProfessional, 49}, {kEnterprise, 50},
      {kUltimate7, 51}, {kEmbedded, 127, kAlways, 0, kPosReady7}, {kEmbedded, 129}}},
    {kOsWindows7, kX64, 52,
     {{kHomePremium7, 53}, {kBusiness | kProfessional, 54}, {kEnterprise, 55}, {kUltimate7, 56},
      {kEmbedded, 128, kAlways, 0, kPosReady7}, {kEmbedded, 130}}},
    {kOsWindowsServer2008R2, kAnyArchitecture, 57,
     {{kStandardServer, 58}, {kEnterpriseServer, 59}, {kDatacenterServer, 60},
      {{PRODUCT_WEB_SERVER, PRODUCT_WEB_SERVER_CORE}, 61},
      {{PRODUCT_SMALLBUSINESS_SERVER, PRODUCT_HOME_PREMIUM_SERVER}, 62}, {{PRODUCT_SB_SOLUTION_SERVER}, 63},
      {kServerCores | kServerCoresV, 108}}},
    {kOsWindows8, kX86, 73, {{kEnterprise, 82}, {kProfessional, 75}, {kEmbedded, 131}, {kIndustry, 135}}},
    {kOsWindows8, kX64, 74, {{kEnterprise, 83}, {kProfessional, 76}, {kEmbedded, 132}, {kIndustry, 136}}},
    {kOsWindowsServer2012, kAnyArchitecture, 77,
     {{kAny, 109, Holds::ServerCore}, {kStandardServer, 80}, {kDatacenterServer, 81},
      {{PRODUCT_SERVER_FOUNDATION}, 78}, {{PRODUCT_SB_SOLUTION_SERVER}, 79}}},
    {kOsWindows81, kX86, 84, {{kEnterprise, 88}, {kProfessional, 86}, {kEmbedded | kIndustry, 137}}},
    {kOsWindows81, kX64, 85, {{kEnterprise, 89}, {kProfessional, 87}, {kEmbedded | kIndustry, 138}}},
    {kOsWindowsServer2012R2, kAnyArchitecture, 90,
     {{kAny, 110, Holds::ServerCore}, {kStandardServer, 93}, {kDatacenterServer, 94},
      {{PRODUCT_SERVER_FOUNDATION}, 91}, {{PRODUCT_SB_SOLUTION_SERVER}, 92}}},
    {kOsWindows10, kX86, 95,
     {{kWin10Enterprise, 99}, {kWin10Pro, 97}, {kWin10Education, 121}, {kIotOs, 139}, {kIotEnterprise, 141},
      {kMultiSession, 145}}},
    {kOsWindows10, kX64, 96,
     {{kWin10Enterprise, 100}, {kWin10Pro, 98}, {kWin10Education, 122}, {kIotOs, 140}, {kIotEnterprise, 142},
      {kMultiSession, 146}}},
    {kOsWindows10, kArm64, 143, {{kWin10Pro, 144}}},
    {kOsWindowsServer2016, kAnyArchitecture, 101,
     {{kAny, 111, Holds::ServerCore}, {kDatacenterServer, 105}, {kEnterpriseServer, 102},
      {{PRODUCT_SERVER_FOUNDATION}, 103}, {{PRODUCT_SB_SOLUTION_SERVER}, 104}}},
    {kOsWindowsServer2019, kAnyArchitecture, 112, {{kAny, 114, Holds::ServerCore}, {kDatacenterServer, 113}}},
    {kOsWindows11, kX64, 147,
     {{kWin10Enterprise, 152}, {kWin10Pro, 150}, {kWin10Education, 149}, {kIotEnterprise, 158},
      {kMultiSession, 153}}},
    {kOsWindows11, kArm64, 148, {{kWin10Enterprise | kWin10Pro | kMultiSession, 151}, {kWin10Education, 157}}},
    {kOsWindowsServer2022, kAnyArchitecture, 154, {{kAny, 156, Holds::ServerCore}, {kDatacenterServer, 155}}},
    {kOsWindowsServer2025, kX64, 159, {{kDatacenterServer, 160}}},
    {kOsWindowsServer2025, kArm64, 161, {{kDatacenterServer, 162}}},
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

std::uint32_t EditionCode(IOsProbes& probes, const OperatingSystemInfo& info)
{
    CVersionProbe version(probes);
    const unsigned architecture = 1u << std::min<std::uint32_t>(info.architectureClass, 31);
    // Later versions are told apart as Windows 11 is.
    const std::uint32_t os = info.osCode == kOsLater ? kOsWindows11 : info.osCode;
    const auto holds = [&](Holds what) {
        switch (what)
        {
        case Holds::ServerCore: return info.isServerCore != 0;
        case Holds::Home: return info.isHome != 0;
        case Holds::Starter: return info.isStarter != 0;
        case Holds::MediaCenter: return info.isMediaCenter != 0;
        default: return true;
        }
    };
    const auto chosen = [&](const EditionChoice& choice) {
        return choice.types.Has(info.productType) && holds(choice.holds) &&
               (choice.suite == 0 || version.HasSuite(choice.suite)) &&
               (choice.key == nullptr || probes.KeyExists(choice.key));
    };
    for (const EditionGroup& group : kEditionGroups)
    {
        if (group.os != os || (group.architectures & architecture) == 0)
            continue;
        for (const EditionChoice& choice : group.choices)
            if (choice.edition != 0 && chosen(choice))
                return choice.edition;
        return group.fallback;
    }
    return 0;
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
