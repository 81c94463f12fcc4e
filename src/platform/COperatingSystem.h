#pragma once
// Identification of the running Windows: one record per process, filled by the first living
// COperatingSystem and freed by the last. Holders read it without a lock.

#include "platform/Win.h"

#include <cstdint>
#include <string>

class IOsProbes;

struct OperatingSystemInfo
{
    std::uint32_t osCode = 0;
    std::uint32_t editionCode = 0;
    std::uint32_t architectureClass = 0; // 0 unknown, 1 x86, 2 x64 or Itanium, 3 ARM64
    std::uint32_t isWindowsNt = 0;
    std::uint8_t isServer = 0;
    std::uint8_t isHome = 0;
    std::uint8_t isStarter = 0;
    std::uint8_t isMediaCenter = 0;
    std::uint8_t isTabletPc = 0;
    std::uint8_t isServerCore = 0;
    std::uint16_t servicePackMajor = 0;
    std::uint16_t releaseId = 0;
    std::wstring displayVersion;
    std::wstring productName;
    std::wstring fullName;
    std::uint32_t processorArchitecture = 0; // 0 unknown, 1 x86, 2 x64, 3 Itanium, 4 ARM64
    std::uint32_t majorVersion = 0;
    std::uint32_t minorVersion = 0;
    std::uint32_t buildNumber = 0;
    std::uint32_t updateBuildRevision = 0;
    std::uint32_t productType = 0;
    std::uint8_t hasServerGuiShell = 0;
    std::uint8_t hasServerGuiMgmt = 0;
    std::uint8_t hasServerCoreLevel = 0;
    std::uint8_t isNanoServer = 0;
};

// Operating system codes.
enum : std::uint32_t
{
    kOsUnknown = 0,
    kOsWindowsXp = 1,
    kOsWindowsServer2003 = 2,
    kOsWindowsVista = 3,
    kOsWindowsServer2008 = 4,
    kOsWindows7 = 5,
    kOsWindowsServer2008R2 = 6,
    kOsWindows8 = 7,
    kOsWindowsServer2012 = 8,
    kOsWindows81 = 9,
    kOsWindowsServer2012R2 = 10,
    kOsWindows10 = 11,
    kOsWindowsServer2016 = 12,
    kOsWindowsServer2019 = 13,
    kOsWindows11 = 14,
    kOsWindowsServer2022 = 15,
    kOsWindowsServer2025 = 16,
    kOsLater = 1000,
};

// Fills a fresh record from what the probes report.
void DetectOperatingSystem(IOsProbes& probes, OperatingSystemInfo& info);
// The edition code of an otherwise complete record.
std::uint32_t EditionCode(IOsProbes& probes, const OperatingSystemInfo& info);

class IOperatingSystem
{
public:
    virtual ~IOperatingSystem() = default;
    virtual void Detect(OperatingSystemInfo& info) = 0;
};

class CWindowsOperatingSystem : public IOperatingSystem
{
};

// Nothing to detect in this system.
class CLinuxOperatingSystem : public IOperatingSystem
{
public:
    void Detect(OperatingSystemInfo&) override {}
};

class CMacOperatingSystem : public IOperatingSystem
{
public:
    void Detect(OperatingSystemInfo&) override {}
};

class COperatingSystem : public CWindowsOperatingSystem, public CLinuxOperatingSystem, public CMacOperatingSystem
{
public:
    COperatingSystem();
    ~COperatingSystem() override;
    COperatingSystem(const COperatingSystem&) = delete;
    COperatingSystem& operator=(const COperatingSystem&) = delete;

    void Detect(OperatingSystemInfo& info) override;
    const OperatingSystemInfo& Info() const { return *m_info; }

    // Tests stand in a model machine; nullptr restores Windows. Takes effect for the next new record.
    static void SetProbesForTesting(IOsProbes* probes);

private:
    const OperatingSystemInfo* m_info;
};
