// The edition code of the operating-system record: a table of product types per version and architecture.

#include "platform/COperatingSystem.h"
#include "platform/CVersionProbe.h"
#include "platform/OsProbes.h"
#include "platform/ProductTypes.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

namespace
{

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
