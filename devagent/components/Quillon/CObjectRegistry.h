#pragma once
// Every object this component hands out, by address and kind, so that a release of an address the component
// never gave out (or gave out as another kind, or already took back) is ignored instead of freeing foreign
// memory, and so that tests can ask how many objects are still out.

#include "platform/Win.h"

enum class EObjectKind
{
    Wrapper,
    ProxyList,
    ProxyConfig,
    Request,
    Result,
    Buffer,
    DataServiceClient,
    TrackingRequest,
    CertificateTrust,
};

namespace registry
{

// False only when the registry itself cannot grow (the caller then frees the object and reports failure).
bool Add(const void* object, EObjectKind kind) noexcept;
// True when object was out as that kind; it is no longer.
bool Take(const void* object, EObjectKind kind) noexcept;
bool IsOut(const void* object, EObjectKind kind) noexcept;
DWORD Outstanding() noexcept;

// Hands out a new object: registered, or null (and deleted) when it cannot be.
template <typename T>
T* HandOut(T* object, EObjectKind kind) noexcept
{
    if (object != nullptr && !Add(object, kind))
    {
        delete object;
        return nullptr;
    }
    return object;
}

} // namespace registry
