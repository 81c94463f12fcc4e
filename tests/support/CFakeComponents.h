#pragma once
// The components as a unit test gives them: the communications interface and the hardware interface of the
// test's own, each loading or not and handing out its interface or null, counting the uses not yet given back.

#include "host/IComponentAccess.h"

#include <atomic>
#include <memory>

class CFakeComponents : public IComponentAccess
{
public:
    explicit CFakeComponents(ICommsWrapper* comms, IHardware* hardware = nullptr) : comms(comms), hardware(hardware) {}

    ICommsWrapper* comms;   // null: the component gives no interface
    IHardware* hardware;
    bool commsLoads = true;
    bool hardwareLoads = true;

    int Outstanding() const { return m_uses; }

    bool UseComms(CComponentUse<ICommsWrapper>& use) override { return Use(commsLoads, comms, use); }
    bool UseHardware(CComponentUse<IHardware>& use) override { return Use(hardwareLoads, hardware, use); }

private:
    template <typename T>
    bool Use(bool loads, T* object, CComponentUse<T>& use)
    {
        if (!loads)
            return false;
        ++m_uses;
        // The use ends with the owner, whether or not it holds an interface.
        const std::shared_ptr<std::atomic<int>> end(&m_uses, [](std::atomic<int>* uses) { --*uses; });
        use = CComponentUse<T>(object, [end](T*) {});
        return true;
    }

    std::atomic<int> m_uses{0};
};
