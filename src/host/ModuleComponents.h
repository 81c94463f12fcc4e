#pragma once
// What happens to the sibling libraries that this library holds when it is unloaded.
//
// The module-wide helpers that keep a component until then (configuration, dispatcher, compression) register a
// release function when they first take it. When the host frees this library, DllMain releases them, newest
// first, while the trace provider still runs, so that their unload traces are written. When the process is
// ending instead, the libraries loaded after this one may already be detached: nothing calls into them or frees
// them from then on, neither the helpers nor any loader that is destroyed afterwards.
//
// Module-wide objects (these helpers, the shared component libraries, the installed components, and likewise the
// stand-ins' own) are kept at namespace scope, built while the library loads, never as function-local statics:
// the first use of one of those takes the threads library's once-lock, which leaves a thread handle and an event
// behind for every load
// of the library (tests/support/ProcessUsage.h counts them).

using ModuleComponentRelease = void (*)();

// Once per helper; a second registration of the same function is ignored.
void RegisterModuleComponent(ModuleComponentRelease release);

// DLL_PROCESS_DETACH through FreeLibrary: calls every registered release, newest first, and forgets them.
void ReleaseModuleComponents();

// DLL_PROCESS_DETACH at process exit: from now on every owner leaves its sibling library and what it handed out.
void AbandonModuleComponents();
[[nodiscard]] bool ModuleComponentsAbandoned();
