#pragma once
// How the event processors and the request dispatcher reach the communications component and the system
// information component. The product loads both from the agent's utilities folder (CInstalledComponents);
// unit tests stand in for them in process.

#include "host/ComponentUse.h"
#include "host/ICommsWrapper.h"
#include "host/IHardware.h"

class IComponentAccess
{
public:
    virtual ~IComponentAccess() = default;
    // False when the component cannot be loaded; otherwise use receives its interface, null when the
    // component gave none. Safe on any thread.
    [[nodiscard]] virtual bool UseComms(CComponentUse<ICommsWrapper>& use) = 0;
    [[nodiscard]] virtual bool UseHardware(CComponentUse<IHardware>& use) = 0;
};
