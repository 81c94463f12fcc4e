#pragma once
// The product's component access: Quillon.dll through the shared communications loader and Anvara.dll
// through its own wrapper, both from the folder that GetUtilsFolder gives (without one, loading fails).

#include "host/IComponentAccess.h"

class CInstalledComponents : public IComponentAccess
{
public:
    // The one instance; it keeps no state of its own.
    static CInstalledComponents& Instance();

    [[nodiscard]] bool UseComms(CComponentUse<ICommsWrapper>& use) override;
    [[nodiscard]] bool UseHardware(CComponentUse<IHardware>& use) override;
};
