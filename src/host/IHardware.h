#pragma once
// The system information component's hardware interface (Anvara.dll: "GetIHardware" hands it out,
// "FreeIHardware" takes it back and clears the pointer). The caller owns the description; the component
// fills it.
//
// Shared by the plug-in and the stand-in component. Virtual tables and std::wstring are compiler-specific:
// the binary contract holds between modules built by this toolchain (GCC, mingw-w64), which share msvcrt's
// heap.

#include <string>
#include <vector>

struct HardwareDescription
{
    std::vector<std::wstring> processors;   // one name per logical processor
    std::vector<std::wstring> disks;        // root of every fixed drive, "C:\"
    bool isPortable = false;                // the flag the tracking hit reports as "_po"
};

class IHardware
{
public:
    virtual ~IHardware() = default;   // slot 0
    // Slot 1: replaces the description's content; false when it could not be filled (then left as found).
    [[nodiscard]] virtual bool GetDescription(HardwareDescription& description) = 0;
};
