#pragma once
// Export shapes of the other sibling component libraries. Their interfaces stay opaque until the code that
// uses them needs more.
// Shared by the plug-in and the stand-in components; binary contract as in IPlugin.h.

#include "platform/Win.h"

class IHardware;                      // Anvara.dll
class IRepositoryManager;             // Merrow.dll
class IRemoteEndpointControlClient;   // Fenrik.dll
class IDiscoveryInterface;            // Yarran.dll
class IDecompressor;                  // Brevik.dll, IDecompressor.h

// Brevik.dll; archive kinds 2 (zip) and 3 (rar).
using GetCompressionFn = IDecompressor* (*)(DWORD kind);
using FreeCompressionFn = void (*)(DWORD kind, IDecompressor** decompressor);
constexpr DWORD kArchiveZip = 2;
constexpr DWORD kArchiveRar = 3;

// Yarran.dll
using GetDiscoveryInterfaceFn = IDiscoveryInterface* (*)(DWORD* error);

// Merrow.dll
using GetIRepositoryManagerFn = IRepositoryManager* (*)();
using GetRepositoryManagerSupportedApiVersionsFn = void (*)(DWORD* lowest, DWORD* highest);
using FreeIRepositoryManagerFn = void (*)(IRepositoryManager* manager);

// Anvara.dll
using GetIHardwareFn = IHardware* (*)();
using FreeIHardwareFn = void (*)(IHardware** hardware);

// Pelter.dll: arguments passed through (32-bit in the product, pointer-sized so that 64-bit test builds hold).
using GetAgentServiceProvidersListFn = UINT_PTR (*)(UINT_PTR argument);
using FreeAgentServiceProvidersListFn = void (*)(UINT_PTR first, UINT_PTR second);

// Fenrik.dll
using GetIRemoteEndpointControlClientFn = IRemoteEndpointControlClient* (*)();
using FreeIRemoteEndpointControlClientFn = void (*)(IRemoteEndpointControlClient* client);
