#include "host/CConfigReader.h"

#include "host/CConfigHelper.h"
#include "host/Trace.h"
#include "platform/TextUtil.h"

#include <stdexcept>

TRACE_UNIT("e5e49244-1c69-41ac-8d99-414ccd01adc3");

CConfigReader::CConfigReader(IConfigUtil* util)
    : m_configUtil(CConfigHelper::Resolve(util))
{
    if (m_configUtil == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "no configuration utility for a settings reader");
        throw std::invalid_argument("ConfigUtil");
    }
}

bool CConfigReader::ReadObject(const std::wstring& key, CMessageObject& object) const
{
    std::wstring text;
    const DWORD result = m_configUtil->GetValue(key.c_str(), text, 0);
    if (result != ERROR_SUCCESS)
    {
        TRACE_VERBOSE(kTraceFlagEvents, 11, "cannot read %ls: error %u", key, result);
        return false;
    }
    std::string utf8;
    if (!WideToBytes(text, utf8, CP_UTF8))
    {
        TRACE_WARNING(kTraceFlagEvents, 12, "%ls is not convertible to UTF-8", key);
        return false;
    }
    if (!object.FromUtf8Json(utf8))
    {
        TRACE_WARNING(kTraceFlagEvents, 13, "%ls does not hold JSON", key);
        return false;
    }
    return true;
}
