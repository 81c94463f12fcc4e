#include "host/CInstalledComponents.h"

#include "host/CCommsWrapperLoader.h"
#include "host/CSystemInfoMng.h"
#include "host/InstallLocations.h"

#include <string>

namespace
{

// One use of a component through its wrapper over the utilities folder. The wrapper is shared, so that the
// deleter (a std::function) can be copied; the library's use ends with the owner.
template <typename Wrapper, typename T>
bool Use(T* (Wrapper::*get)(), void (Wrapper::*giveBack)(T**), CComponentUse<T>& use)
{
    auto wrapper = std::make_shared<Wrapper>(FolderOrEmpty(GetUtilsFolder));
    if (!wrapper->Load())
        return false;
    use = CComponentUse<T>(((*wrapper).*get)(), [wrapper, giveBack](T* given) { ((*wrapper).*giveBack)(&given); });
    return true;
}

// Module-wide: see ModuleComponents.h.
CInstalledComponents g_installedComponents;

} // namespace

CInstalledComponents& CInstalledComponents::Instance()
{
    return g_installedComponents;
}

bool CInstalledComponents::UseComms(CComponentUse<ICommsWrapper>& use)
{
    return Use(&CCommsWrapperLoader::GetCommsWrapper, &CCommsWrapperLoader::FreeCommsWrapper, use);
}

bool CInstalledComponents::UseHardware(CComponentUse<IHardware>& use)
{
    return Use(&CSystemInfoMng::GetHardware, &CSystemInfoMng::FreeHardware, use);
}
