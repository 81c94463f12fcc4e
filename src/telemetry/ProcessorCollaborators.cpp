#include "telemetry/ProcessorCollaborators.h"

#include "host/CConfigHelper.h"
#include "host/CInstalledComponents.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"

#include <stdexcept>

TRACE_UNIT("509bad8e-8dc8-4e08-aa68-b25a0fa5a904");

IConfigUtil* RequireConfigUtil(IConfigUtil* configUtil, const wchar_t* event)
{
    IConfigUtil* util = CConfigHelper::Resolve(configUtil);
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

const CMessageObject* ChildObject(const CMessageObject& parent, const wchar_t* name)
{
    const CMessageItem* item = nullptr;
    if (!parent.FindItem(name, item) || item->m_type != MessageItemType::Object || item->m_value.object == nullptr ||
        item->m_value.object->IsArray())
        return nullptr;
    return item->m_value.object;
}

std::vector<std::pair<std::wstring, std::wstring>> ReadNameValuePairs(const CMessageObject& parent,
                                                                      const wchar_t* name, bool emptyNames)
{
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    const CMessageObject* array = nullptr;
    if (!parent.GetArray(name, array))
        return pairs;
    for (const CMessageItem& element : array->Items())
    {
        if (element.m_type != MessageItemType::Object || element.m_value.object == nullptr)
            continue;
        std::wstring key;
        std::wstring value;
        if (element.m_value.object->GetString(L"Name", key) && (emptyNames || !key.empty()) &&
            element.m_value.object->GetString(L"Value", value))
            pairs.emplace_back(std::move(key), std::move(value));
    }
    return pairs;
}
