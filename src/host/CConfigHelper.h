#pragma once
// The module's access to the configuration component. Tamsin.dll is loaded from the utilities folder on the
// first GetConfigUtil and freed when this library unloads (never at process exit: see ModuleComponents.h).
// Without an install path there is no utility. A failed load is tried again by the next call; a library
// without "GetUtil" is not loaded twice.

#include "host/IConfigUtil.h"

#include <mutex>

class CConfigHelper
{
public:
    static CConfigHelper& Instance();

    // Null when the component or its export cannot be had. The utility belongs to the component.
    IConfigUtil* GetConfigUtil();

    // util itself, or the module's utility when util is null; null when there is none. Never throws: a caller
    // that needs one says so in its own words.
    [[nodiscard]] static IConfigUtil* Resolve(IConfigUtil* util);

    // Frees the library and forgets everything; the next GetConfigUtil loads it again. Utility pointers
    // handed out before are dangling afterwards.
    void Release();

    CConfigHelper() = default;
    virtual ~CConfigHelper();
    CConfigHelper(const CConfigHelper&) = delete;
    CConfigHelper& operator=(const CConfigHelper&) = delete;

private:
    std::mutex m_mutex;
    HMODULE m_module = nullptr;
    GetUtilFn m_getUtil = nullptr;
    IConfigUtil* m_util = nullptr;
};
