#pragma once
// The discovery component's interface (Yarran.dll, "get_discovery_interface") and the repository message
// record that travels through its slot 6 to another agent. The interface belongs to the component: slot 0
// gives it back. What the component does with the values of slots 1, 3, 4 and 5 is its own; 0 is success.
//
// Shared by the plug-in and the stand-in component; binary contract as in IPlugin.h.

#include "platform/Win.h"

#include <cstddef>

// Called by the component while discovery runs; what data points at is the component's.
using DiscoveryHandlerFn = void (*)(const void* data);

// A repository request for the agent at host: service "Repository", kind "event", body and parameters JSON.
// The texts behind the pointers belong to the caller and live until the call returns.
struct DiscoveryRepositoryMessage
{
    DWORD version;                 // kDiscoveryMessageVersion
    wchar_t service[260];          // NUL-terminated, truncated to fit
    wchar_t host[45];              // NUL-terminated, truncated to fit
    BYTE padding[2];
    const wchar_t* kind;
    const wchar_t* body;
    const wchar_t* parameters;
};

constexpr DWORD kDiscoveryMessageVersion = 1;
#ifndef _WIN64
static_assert(offsetof(DiscoveryRepositoryMessage, service) == 4, "service follows the version");
static_assert(offsetof(DiscoveryRepositoryMessage, host) == 524, "host follows 260 service units");
static_assert(offsetof(DiscoveryRepositoryMessage, kind) == 616, "two padding bytes after 45 host units");
static_assert(offsetof(DiscoveryRepositoryMessage, body) == 620, "body follows kind");
static_assert(offsetof(DiscoveryRepositoryMessage, parameters) == 624, "parameters follow body");
static_assert(sizeof(DiscoveryRepositoryMessage) == 628, "the 32-bit record is 628 bytes");
#endif

class IDiscoveryInterface
{
public:
    virtual void Release() = 0;                                                          // slot 0
    virtual DWORD Start(DWORD port, const char* text, DiscoveryHandlerFn found, DiscoveryHandlerFn lost) = 0;
    virtual DWORD Stop() = 0;                                                            // slot 2
    virtual DWORD Query3(UINT_PTR argument) = 0;                                         // slot 3
    virtual DWORD Query4(UINT_PTR argument) = 0;                                         // slot 4
    virtual DWORD Query5(UINT_PTR argument) = 0;                                         // slot 5
    virtual DWORD SendRepositoryMessage(const DiscoveryRepositoryMessage* message) = 0;  // slot 6

protected:
    ~IDiscoveryInterface() = default;
};
