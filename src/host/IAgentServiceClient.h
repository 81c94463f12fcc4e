#pragma once
// The agent services component's providers list, as the repository discovery reads it. Arguments and results
// are passed through unchanged (32-bit in the product).

#include "platform/Win.h"

class IAgentServiceClient
{
public:
    virtual ~IAgentServiceClient() = default;                              // slot 0
    virtual UINT_PTR GetProvidersList(UINT_PTR argument) = 0;              // slot 1
    virtual void FreeProvidersList(UINT_PTR first, UINT_PTR second) = 0;   // slot 2
};
