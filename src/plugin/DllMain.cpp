#include "host/ModuleComponents.h"
#include "host/TraceProvider.h"
#include "platform/Win.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    switch (reason)
    {
    case DLL_PROCESS_ATTACH:
        TraceProviderStart(module);
        ::DisableThreadLibraryCalls(module);
        break;
    case DLL_PROCESS_DETACH:
        // A non-null reserved argument: the process is ending, and the libraries loaded after this one may
        // already be detached. Otherwise the host freed this library: the components are given back while
        // the trace provider still writes their unload traces.
        if (reserved != nullptr)
            AbandonModuleComponents();
        else
            ReleaseModuleComponents();
        TraceProviderStop(module);
        break;
    default:
        break;
    }
    return TRUE;
}
