#include "host/TraceProvider.h"
#include "platform/Win.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    switch (reason)
    {
    case DLL_PROCESS_ATTACH:
        TraceProviderStart(module);
        ::DisableThreadLibraryCalls(module);
        break;
    case DLL_PROCESS_DETACH:
        TraceProviderStop(module);
        break;
    default:
        break;
    }
    return TRUE;
}
