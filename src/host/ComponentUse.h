#pragma once
// One use of an interface that a sibling component hands out, in the spirit of WIL's unique_any: the owner
// gives it back through the component's own release operation when it goes, on every path. The deleter may
// hold more (a wrapper keeping the library loaded): a null owner may still hold the library's use.
//
//     const CComponentUse<IRemoteEndpointControlClient> client(
//         network.GetRemoteEndpointControlClient(),
//         [&network](IRemoteEndpointControlClient* given) { network.FreeRemoteEndpointControlClient(given); });

#include <functional>
#include <memory>

template <typename T>
using CComponentUse = std::unique_ptr<T, std::function<void(T*)>>;
