#pragma once
// The logging component (Hollin.dll, utilities folder), shared by every user: it is loaded by the first
// CLogServiceLoader and unloaded when the last one is destroyed. GetILogService and FreeILogService call
// the component's exports under the component mutex; without the component they give null / do nothing.

#include "host/ILogService.h"

class CLogServiceLoader
{
public:
    CLogServiceLoader();
    ~CLogServiceLoader();
    CLogServiceLoader(const CLogServiceLoader&) = delete;
    CLogServiceLoader& operator=(const CLogServiceLoader&) = delete;

private:
    bool m_holdsUse = false;
};

ILogService* GetILogService();
void FreeILogService(ILogService** service);
