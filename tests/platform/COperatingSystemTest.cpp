#include "platform/COperatingSystem.h"
#include "platform/OsProbes.h"

#include <gtest/gtest.h>

#include <map>

namespace
{
struct Version
{
    DWORD major, minor, build;
};

// A machine described by its numbers. VerifyVersion is answered the way Windows answers it: major, minor
// and service pack compare as one version, the first differing part deciding.
class CModelMachine : public IOsProbes
{
public:
    DWORD major = 10, minor = 0, spMajor = 0, build = 19045;
    BYTE productType = VER_NT_WORKSTATION;
    WORD suites = 0;
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    int metric = -1; // the one system metric that is set
    WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_AMD64; // 0: no IsWow64Process2
    DWORD productInfo = 48;
    std::map<std::wstring, DWORD> numbers; // "key|name"
    std::map<std::wstring, std::wstring> texts;
    std::map<std::wstring, bool> keys;
    int verifyCalls = 0;

    CModelMachine() = default;
    // A machine of that version, a server or not, with that product type.
    CModelMachine(const Version& version, bool server, DWORD type)
        : major(version.major), minor(version.minor), build(version.build),
          productType(server ? VER_NT_SERVER : VER_NT_WORKSTATION), productInfo(type)
    {
        Registry(version.build, L"Windows");
    }

    void Registry(DWORD registryBuild, const wchar_t* productName, const wchar_t* displayVersion = nullptr)
    {
        texts[Cv(L"CurrentBuildNumber")] = std::to_wstring(registryBuild);
        texts[Cv(L"ProductName")] = productName;
        if (displayVersion)
            texts[Cv(L"DisplayVersion")] = displayVersion;
        numbers[Cv(L"CurrentMajorVersionNumber")] = major;
        numbers[Cv(L"CurrentMinorVersionNumber")] = minor;
    }

    static std::wstring Cv(const wchar_t* name)
    {
        return std::wstring(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion|") + name;
    }

    BOOL VerifyVersion(OSVERSIONINFOEXW& info, DWORD typeMask, DWORDLONG mask) override
    {
        ++verifyCalls;
        const auto condition = [&](DWORD type) {
            for (BYTE c = 1; c <= 7; ++c)
                if ((mask & ::VerSetConditionMask(0, type, 7)) == ::VerSetConditionMask(0, type, c))
                    return c;
            return BYTE(0);
        };
        const auto compare = [](DWORD actual, DWORD wanted, BYTE c) {
            switch (c)
            {
            case VER_EQUAL: return actual == wanted;
            case VER_GREATER: return actual > wanted;
            case VER_GREATER_EQUAL: return actual >= wanted;
            case VER_AND: return (actual & wanted) == wanted;
            default: return false;
            }
        };
        const struct
        {
            DWORD type, actual, wanted;
        } parts[] = {{VER_MAJORVERSION, major, info.dwMajorVersion},
                     {VER_MINORVERSION, minor, info.dwMinorVersion},
                     {VER_SERVICEPACKMAJOR, spMajor, info.wServicePackMajor},
                     {VER_SERVICEPACKMINOR, 0, info.wServicePackMinor}};
        bool result = true;
        for (const auto& part : parts)
            if (typeMask & part.type)
            {
                result = compare(part.actual, part.wanted, condition(part.type));
                if (part.actual != part.wanted)
                    break;
            }
        const auto holds = [&](DWORD type, DWORD actual, DWORD wanted) {
            return !(typeMask & type) || compare(actual, wanted, condition(type));
        };
        return result && holds(VER_PLATFORMID, platformId, info.dwPlatformId) &&
               holds(VER_PRODUCT_TYPE, productType, info.wProductType) &&
               holds(VER_SUITENAME, suites, info.wSuiteMask) && holds(VER_BUILDNUMBER, build, info.dwBuildNumber);
    }
    void GetNativeSystemInfo(SYSTEM_INFO& info) override { info.wProcessorArchitecture = nativeArchitecture; }
    bool GetNativeMachine(USHORT& machine) override
    {
        machine = nativeMachine;
        return nativeMachine != 0;
    }
    int GetSystemMetrics(int index) override { return index == metric ? 1 : 0; }
    bool GetProductInfo(DWORD, DWORD, DWORD, DWORD, DWORD& type) override
    {
        type = productInfo;
        return true;
    }
    bool ReadNumber(const wchar_t* k, const wchar_t* n, DWORD& out) override { return Find(numbers, k, n, out); }
    bool ReadText(const wchar_t* k, const wchar_t* n, std::wstring& out) override { return Find(texts, k, n, out); }
    bool KeyExists(const wchar_t* key) override { return keys.count(key) != 0; }

    template <typename T>
    static bool Find(const std::map<std::wstring, T>& values, const wchar_t* key, const wchar_t* name, T& out)
    {
        const auto it = values.find(std::wstring(key) + L"|" + name);
        if (it != values.end())
            out = it->second;
        return it != values.end();
    }
};

OperatingSystemInfo Detect(CModelMachine& machine)
{
    OperatingSystemInfo info;
    DetectOperatingSystem(machine, info);
    return info;
}
} // namespace

TEST(COperatingSystemTest, VersionsMapToTheirCodes)
{
    struct Row
    {
        Version version;
        bool server;
        DWORD productType;
        std::uint32_t code;
    };
    const Row rows[] = {
        {{10, 0, 19045}, false, 48, kOsWindows10},       {{10, 0, 21999}, false, 48, kOsWindows10},
        {{10, 0, 22000}, false, 48, kOsWindows11},       {{10, 0, 14393}, true, 8, kOsWindowsServer2016},
        {{10, 0, 17758}, true, 8, kOsWindowsServer2019}, {{10, 0, 20347}, true, 8, kOsWindowsServer2019},
        {{10, 0, 20348}, true, 8, kOsWindowsServer2022}, {{10, 0, 26100}, true, 8, kOsWindowsServer2025},
        {{10, 0, 19045}, true, 175, kOsWindows10},       {{10, 0, 22631}, true, 175, kOsWindows11},
        {{10, 0, 26100}, true, 175, kOsWindows11},       {{10, 0, 14393}, true, 175, kOsWindowsServer2016},
        {{6, 3, 9600}, false, 48, kOsWindows81},         {{6, 3, 9600}, true, 8, kOsWindowsServer2012R2},
        {{6, 1, 7601}, false, 48, kOsWindows7},          {{6, 1, 7601}, true, 8, kOsWindowsServer2008R2},
        {{5, 2, 3790}, false, 0, kOsWindowsXp},          {{5, 2, 3790}, true, 0, kOsWindowsServer2003},
        {{5, 1, 2600}, false, 0, kOsWindowsXp},          {{11, 0, 30000}, false, 48, kOsLater},
        {{10, 1, 30000}, false, 48, kOsLater},           {{5, 0, 2195}, false, 0, kOsUnknown},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(testing::Message() << row.version.major << "." << row.version.minor << "." << row.version.build
                                        << (row.server ? " server" : "") << " type " << row.productType);
        CModelMachine machine(row.version, row.server, row.productType);
        const OperatingSystemInfo info = Detect(machine);
        EXPECT_EQ(info.osCode, row.code);
        EXPECT_EQ(info.isServer, row.server && row.productType != 175 ? 1 : row.code == kOsWindowsServer2016);
        if (row.code != kOsUnknown)
        {
            EXPECT_EQ(info.majorVersion, row.version.major);
            EXPECT_EQ(info.minorVersion, row.version.minor);
        }
    }
    // A system outside the NT family is not read at all.
    CModelMachine win98({4, 10, 2222}, false, 0);
    win98.platformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_EQ(Detect(win98).isWindowsNt, 0u);
    EXPECT_EQ(Detect(win98).fullName, L"");
}

TEST(COperatingSystemTest, NamesCarryArchitectureAndVersion)
{
    CModelMachine win11;
    win11.build = 22631;
    win11.Registry(22631, L"Windows 10 Pro", L"23H2");
    const OperatingSystemInfo info = Detect(win11);
    EXPECT_EQ(info.productName, L"Windows 11 Pro");
    EXPECT_EQ(info.fullName, L"Windows 11 Pro 64 bits Version 23H2");
    EXPECT_EQ(info.buildNumber, 22631u);

    CModelMachine win7;
    win7.major = 6;
    win7.minor = 1;
    win7.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    win7.nativeMachine = 0;
    win7.texts[CModelMachine::Cv(L"CurrentVersion")] = L"6.1";
    win7.texts[CModelMachine::Cv(L"ProductName")] = L"Windows 7 Professional";
    EXPECT_EQ(Detect(win7).fullName, L"Windows 7 Professional Version 0");
    win7.spMajor = 1;
    win7.texts[CModelMachine::Cv(L"CSDVersion")] = L"Service Pack 1";
    const OperatingSystemInfo sp1 = Detect(win7);
    EXPECT_EQ(sp1.fullName, L"Windows 7 Professional Service Pack 1");
    EXPECT_EQ(sp1.majorVersion, 6u);
}

// The native machine, when the system tells it, decides the class; else the processor does. Without a
// DisplayVersion the name carries the ReleaseId, only when it is a number that fits.
TEST(COperatingSystemTest, ArchitectureAndReleaseIdInTheFullName)
{
    struct Row
    {
        const char* what;
        WORD processor;
        USHORT machine;
        const wchar_t* releaseId;
        std::uint32_t processorArchitecture;
        std::uint32_t architectureClass;
        const wchar_t* fullName;
    };
    constexpr WORD amd64 = PROCESSOR_ARCHITECTURE_AMD64;
    const Row rows[] = {
        {"x64 told to a 32-bit process on ARM64", amd64, IMAGE_FILE_MACHINE_ARM64, L"1909", 4, 3,
         L"Windows 10 Pro ARM 64 Version 1909"},
        {"x64 without a native machine", amd64, 0, L"2004", 2, 2, L"Windows 10 Pro 64 bits Version 2004"},
        {"unknown machine falls back", amd64, IMAGE_FILE_MACHINE_ARMNT, L"65535", 2, 2,
         L"Windows 10 Pro 64 bits Version 65535"},
        {"IA64", PROCESSOR_ARCHITECTURE_IA64, 0, L"65536", 3, 2, L"Windows 10 Pro 64 bits Version 0"},
        {"ARM64", PROCESSOR_ARCHITECTURE_ARM64, 0, L"19x9", 4, 3, L"Windows 10 Pro ARM 64 Version 0"},
        {"unknown processor", PROCESSOR_ARCHITECTURE_UNKNOWN, 0, L"4294967296", 0, 0, L"Windows 10 Pro Version 0"},
        {"x86", PROCESSOR_ARCHITECTURE_INTEL, 0, L"12345678901", 1, 1, L"Windows 10 Pro Version 0"},
        {"empty ReleaseId", amd64, IMAGE_FILE_MACHINE_AMD64, L"", 2, 2, L"Windows 10 Pro 64 bits Version 0"},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        CModelMachine machine;
        machine.nativeArchitecture = row.processor;
        machine.nativeMachine = row.machine;
        machine.Registry(19045, L"Windows 10 Pro");
        machine.texts[CModelMachine::Cv(L"ReleaseId")] = row.releaseId;
        const OperatingSystemInfo info = Detect(machine);
        EXPECT_EQ(info.processorArchitecture, row.processorArchitecture);
        EXPECT_EQ(info.architectureClass, row.architectureClass);
        EXPECT_EQ(info.fullName, row.fullName);
    }
}

TEST(COperatingSystemTest, EditionCodes)
{
    const Version win10{10, 0, 19045}, win11{10, 0, 22631}, server2019{10, 0, 17763}, win7{6, 1, 7601}, xp{5, 1, 2600},
        server2003{5, 2, 3790};
    constexpr USHORT x86 = IMAGE_FILE_MACHINE_I386, x64 = IMAGE_FILE_MACHINE_AMD64;
    struct Row
    {
        const char* what;
        Version version;
        bool server;
        DWORD productType;
        USHORT machine;
        std::uint32_t edition;
        WORD suites = 0;
        const wchar_t* key = nullptr; // a registry key that exists
        bool serverCore = false;
        int metric = -1; // a system metric that is set
    };
    const Row rows[] = {
        {"10 pro x64", win10, false, 48, x64, 98},
        {"10 other x86", win10, false, 101, x86, 95},
        {"10 multi-session", win10, true, 175, x64, 146},
        {"11 x86", win11, false, 4, x86, 0},
        {"2019 core", server2019, true, 8, x64, 114, 0, nullptr, true},
        {"7 pos x86", win7, false, 65, x86, 127, 0, L"SOFTWARE\\Microsoft\\POSReady"},
        {"7 embedded x64", win7, false, 65, x64, 130},
        {"xp wepos", xp, false, 0, x86, 124, VER_SUITE_EMBEDDEDNT, L"SYSTEM\\WPA\\WEPOS"},
        {"xp home", xp, false, 0, x86, 65, VER_SUITE_PERSONAL},
        {"xp starter", xp, false, 0, x86, 64, 0, nullptr, false, SM_STARTER},
        {"xp media center", xp, false, 0, x86, 67, 0, nullptr, false, SM_MEDIACENTER},
        {"2003 enterprise", server2003, true, 0, x86, 70, VER_SUITE_ENTERPRISE},
        {"later", {11, 0, 30000}, false, 48, x64, 150},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        CModelMachine machine(row.version, row.server, row.productType);
        machine.nativeMachine = row.machine;
        machine.suites = row.suites;
        machine.metric = row.metric;
        if (row.key)
            machine.keys[row.key] = true;
        if (row.serverCore)
            machine.numbers[L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Server\\ServerLevels|ServerCore"] = 1;
        const OperatingSystemInfo info = Detect(machine);
        EXPECT_EQ(info.editionCode, row.edition);
        EXPECT_EQ(info.isServerCore, row.serverCore ? 1 : 0);
    }
}

TEST(COperatingSystemTest, UsersShareOneRecordUntilTheLastLeaves)
{
    CModelMachine machine;
    machine.Registry(19045, L"Windows 10 Pro", L"22H2");
    COperatingSystem::SetProbesForTesting(&machine);
    {
        COperatingSystem first;
        const int calls = machine.verifyCalls;
        EXPECT_GT(calls, 0);
        COperatingSystem second;
        EXPECT_EQ(&first.Info(), &second.Info());
        EXPECT_EQ(machine.verifyCalls, calls);
        EXPECT_EQ(second.Info().fullName, L"Windows 10 Pro 64 bits Version 22H2");
    }
    const int calls = machine.verifyCalls;
    {
        COperatingSystem again;
        EXPECT_GT(machine.verifyCalls, calls);
    }
    COperatingSystem::SetProbesForTesting(nullptr);
}

TEST(COperatingSystemTest, RealDetectionSeesWindows10)
{
    // The prefix is set to Windows 10, and this program's manifest declares support for it.
    COperatingSystem os;
    const OperatingSystemInfo& info = os.Info();
    EXPECT_EQ(info.isWindowsNt, 1u);
    EXPECT_EQ(info.majorVersion, 10u);
    EXPECT_EQ(info.osCode, kOsWindows10);
    EXPECT_FALSE(info.productName.empty());
    std::printf("detected: %ls (code %u, edition %u, build %u, product type %u)\n", info.fullName.c_str(), info.osCode,
                info.editionCode, info.buildNumber, info.productType);
}
