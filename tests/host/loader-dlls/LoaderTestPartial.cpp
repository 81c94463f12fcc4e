// A component that cannot hand out its interfaces: without LOADERTEST_NULL_GET it lacks the Get exports,
// with it the Get exports give null.

#include "host/ComponentExports.h"
#include "host/ICommsWrapper.h"
#include "host/IConfigUtil.h"
#include "host/IDispatchEvent.h"
#include "host/ILogService.h"

// The formatter cannot read EXPORT: it would spread each one-line export over four lines.
// clang-format off
#define EXPORT extern "C" __declspec(dllexport)

#ifdef LOADERTEST_NULL_GET
EXPORT ICommsWrapper* GetICommsWrapper() { return nullptr; }
EXPORT ILogService* GetILogService() { return nullptr; }
EXPORT IDispatchEvent* GetIDispatchEvent() { return nullptr; }
EXPORT IHardware* GetIHardware() { return nullptr; }
EXPORT IConfigUtil* GetUtil() { return nullptr; }
#endif

EXPORT void FreeICommsWrapper(ICommsWrapper** wrapper) { *wrapper = nullptr; }
EXPORT void FreeILogService(ILogService** service) { *service = nullptr; }
EXPORT void FreeIDispatchEvent(IDispatchEvent** dispatcher) { *dispatcher = nullptr; }
EXPORT void FreeIHardware(IHardware** hardware) { *hardware = nullptr; }
