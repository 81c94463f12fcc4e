#pragma once
// The agent services component (Pelter.dll, plug-ins folder), loaded once by the constructor and unloaded by
// the destructor. A failed load is not retried: the operations then return 0 or do nothing.

#include "host/CLoader.h"
#include "host/IAgentServiceClient.h"

class CAgentServiceClient : public IAgentServiceClient
{
public:
    CAgentServiceClient();

    UINT_PTR GetProvidersList(UINT_PTR argument) override;
    void FreeProvidersList(UINT_PTR first, UINT_PTR second) override;

private:
    CComponentLibrary m_library;
};
