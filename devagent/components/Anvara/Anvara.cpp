// The development agent's system information component: a hardware description from Windows, with the
// portable flag taken from "config.json" beside this library (README).

#include "CComponentSettings.h"
#include "host/ComponentExports.h"
#include "host/IHardware.h"
#include "platform/CHandedOut.h"
#include "platform/Registry.h"

#include <cwchar>
#include <iterator>
#include <mutex>
#include <memory>
#include <string>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

constexpr wchar_t kPortable[] = L"Anvara.Portable";
constexpr wchar_t kNoInterface[] = L"Anvara.Fault.NoInterface";
constexpr wchar_t kFailDescription[] = L"Anvara.Fault.FailDescription";
constexpr wchar_t kProcessorKey[] = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\";

// Asked on every call (tests switch keys between hits); the file is parsed again only when it changed.
CComponentSettings g_settings;

bool IsOn(const wchar_t* key)
{
    return g_settings.Number(key) != 0;
}

std::wstring ProcessorName(DWORD index)
{
    const std::wstring key = kProcessorKey + std::to_wstring(index);
    std::wstring name;
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, key.c_str(), L"ProcessorNameString", name) == ERROR_SUCCESS &&
        !name.empty())
        return name;
    return L"Processor " + std::to_wstring(index);
}

// Processors and drives do not change while the library is loaded: they are read once.
std::mutex g_describeMutex;
bool g_described = false;
HardwareDescription g_machine;

void Describe(HardwareDescription& description)
{
    std::lock_guard<std::mutex> lock(g_describeMutex);
    if (!g_described)
    {
        HardwareDescription machine;
        SYSTEM_INFO system{};
        ::GetNativeSystemInfo(&system);
        for (DWORD i = 0; i < system.dwNumberOfProcessors; ++i)
            machine.processors.push_back(ProcessorName(i));

        wchar_t drives[512] = {};
        const DWORD length = ::GetLogicalDriveStringsW(static_cast<DWORD>(std::size(drives) - 1), drives);
        if (length < std::size(drives))
            for (const wchar_t* drive = drives; *drive != L'\0'; drive += std::wcslen(drive) + 1)
                if (::GetDriveTypeW(drive) == DRIVE_FIXED)
                    machine.disks.emplace_back(drive);
        g_machine = std::move(machine);
        g_described = true;
    }
    description.processors = g_machine.processors;
    description.disks = g_machine.disks;
}

class CHardware final : public IHardware
{
public:
    bool GetDescription(HardwareDescription& description) override
    {
        try
        {
            if (IsOn(kFailDescription))
                return false;
            HardwareDescription filled;
            Describe(filled);
            filled.isPortable = IsOn(kPortable);
            description = std::move(filled);
            return true;
        }
        catch (...)
        {
            return false;   // nothing may unwind into the caller's module
        }
    }
};

CHandedOut<IHardware> g_interfaces;

} // namespace

EXPORT IHardware* GetIHardware()
{
    try
    {
        if (IsOn(kNoInterface))
            return nullptr;
        return g_interfaces.HandOut(std::make_unique<CHardware>());
    }
    catch (...)
    {
        return nullptr;
    }
}

EXPORT void FreeIHardware(IHardware** hardware)
{
    g_interfaces.TakeBack(hardware);
}

// Interfaces handed out and not yet taken back.
EXPORT DWORD AnvaraOutstandingObjects()
{
    return g_interfaces.Outstanding();
}
