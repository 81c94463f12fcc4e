#pragma once
// Dispatcher access that takes every event and sends nothing, for code that needs one but is not tested on it.

#include "host/IDispatcherHelper.h"

class CNoDispatcher : public IDispatcherHelper
{
public:
    DWORD SendObjects(const CMessageBatch&, bool) override { return ERROR_SUCCESS; }
    DWORD SendObject(const CMessageObject&, bool) override { return ERROR_SUCCESS; }
    DWORD SendText(const std::wstring&, bool) override { return ERROR_SUCCESS; }
    DWORD SendEach(const std::vector<std::wstring>&, bool) override { return ERROR_SUCCESS; }
    DWORD SendAsArray(const std::vector<std::wstring>&, bool) override { return ERROR_SUCCESS; }
};
