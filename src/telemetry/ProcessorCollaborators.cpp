#include "telemetry/ProcessorCollaborators.h"

#include "host/CConfigHelper.h"
#include "host/CInstalledComponents.h"
#include "host/Trace.h"

#include <stdexcept>

TRACE_UNIT("509bad8e-8dc8-4e08-aa68-b25a0fa5a904");

IConfigUtil* RequireConfigUtil(IConfigUtil* configUtil, const wchar_t* event)
{
    IConfigUtil* util = configUtil != nullptr ? configUtil : CConfigHelper::Instance().GetConfigUtil();
    if (util == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "%ls without a configuration component", event);
        throw std::logic_error("configUtil is nullptr");
    }
    return util;
}

IDispatcherHelper* RequireDispatcherHelper(IDispatcherHelper* dispatcherHelper, const wchar_t* event)
{
    if (dispatcherHelper == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "%ls without dispatcher access", event);
        throw std::logic_error("dispatcherHelper is nullptr");
    }
    return dispatcherHelper;
}

IComponentAccess& ComponentsOrInstalled(IComponentAccess* components)
{
    return components != nullptr ? *components : CInstalledComponents::Instance();
}
