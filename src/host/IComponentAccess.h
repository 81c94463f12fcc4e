#pragma once
// How the event processors and the request dispatcher reach the communications component and the system
// information component. The product loads both from the agent's utilities folder (CInstalledComponents);
// unit tests stand in for them in process.

#include "host/ICommsWrapper.h"
#include "host/IHardware.h"

#include <functional>
#include <memory>

// One use of a component's interface: the library stays loaded while the owner lives, and the owner gives the
// interface back through the component when it goes. A null owner may still hold the library's use.
template <typename T>
using CComponentUse = std::unique_ptr<T, std::function<void(T*)>>;

class IComponentAccess
{
public:
    virtual ~IComponentAccess() = default;
    // False when the component cannot be loaded; otherwise use receives its interface, null when the
    // component gave none. Safe on any thread.
    [[nodiscard]] virtual bool UseComms(CComponentUse<ICommsWrapper>& use) = 0;
    [[nodiscard]] virtual bool UseHardware(CComponentUse<IHardware>& use) = 0;
};
