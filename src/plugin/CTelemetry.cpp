#include "plugin/CTelemetry.h"

#include "host/CConfigHelper.h"
#include "host/CDispatcherHelper.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "telemetry/CFileUploadEventProcessor.h"
#include "telemetry/CPluginExecuteEventProcessor.h"
#include "telemetry/CTrackingSendEventProcessor.h"

#include <exception>
#include <new>
#include <stdexcept>

TRACE_UNIT("9a4e0f7b-3c61-4d2a-8e15-6b7f2c9d0a43");

CTelemetry::CTelemetry() : m_dispatcherHelper(&CDispatcherHelper::Instance())
{
    m_configUtil = CConfigHelper::Instance().GetConfigUtil();
    if (m_configUtil == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "no configuration component: the plug-in cannot be built");
        throw std::logic_error("m_configUtil is nullptr");
    }
    m_logService = GetILogService();
}

CTelemetry::CTelemetry(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper, ProcessorFactory factory)
    : m_dispatcherHelper(dispatcherHelper), m_configUtil(configUtil), m_factory(std::move(factory))
{
    if (m_configUtil == nullptr)
        throw std::logic_error("m_configUtil is nullptr");
    m_logService = GetILogService();
}

CTelemetry::~CTelemetry()
{
    if (m_logService != nullptr)
        FreeILogService(&m_logService);
}

DWORD CTelemetry::Initialize()
{
    return ERROR_SUCCESS;
}

void CTelemetry::Uninitialize() {}

std::wstring CTelemetry::GetName()
{
    return kPluginName;
}

void CTelemetry::GetEvents(std::vector<std::wstring>& events)
{
    events.clear();
    events.emplace_back(kPluginExecuteEvent);
    events.emplace_back(kTrackingSendEvent);
    events.emplace_back(kFileUploadEvent);
}

DWORD CTelemetry::ProcessEvent(CMessageObject* event)
{
    // The host is not ours to unwind: every failure becomes a number here.
    try
    {
        if (event == nullptr)
        {
            TRACE_ERROR(kTraceFlagEvents, 11, "event without a message object");
            return ERROR_INVALID_PARAMETER;
        }
        return Route(*event);
    }
    catch (const std::bad_alloc&)
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "out of memory while processing an event");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    catch (const std::exception& e)
    {
        TRACE_ERROR(kTraceFlagEvents, 13, "event processing failed: %s", e.what());
        return ERROR_INTERNAL_ERROR;
    }
    catch (...)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "event processing failed with an unknown exception");
        return ERROR_INTERNAL_ERROR;
    }
}

DWORD CTelemetry::Route(CMessageObject& event)
{
    std::wstring name;
    if (!event.GetMessageName(name))
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "event without a name");
        return ERROR_INVALID_PARAMETER;
    }
    CMessageItem* item = nullptr;
    if (!event.FindItem(name, item) || item->m_type != Object || item->m_value.object == nullptr ||
        item->m_value.object->IsArray())
    {
        TRACE_WARNING(kTraceFlagEvents, 19, "event %ls carries no payload object: no processor ran", name);
        return ERROR_SUCCESS;
    }
    CMessageObject& payload = *item->m_value.object;

    if (name == kPluginExecuteEvent)
    {
        const CAutoEventControl admission(m_pluginExecuteControl);
        if (!admission.Entered())
        {
            TRACE_WARNING(kTraceFlagEvents, 16, "PluginExecute refused by its event control");
            return ERROR_SERVICE_ALREADY_RUNNING;
        }
        return Run(TelemetryEvent::PluginExecute, payload);
    }
    if (name == kTrackingSendEvent)
        return Run(TelemetryEvent::TrackingSend, payload);
    if (name == kFileUploadEvent)
    {
        const CAutoEventControl admission(m_fileUploadControl);
        if (!admission.Entered())
        {
            TRACE_WARNING(kTraceFlagEvents, 17, "FileUpload refused by its event control");
            return ERROR_SERVICE_ALREADY_RUNNING;
        }
        return Run(TelemetryEvent::FileUpload, payload);
    }
    TRACE_ERROR(kTraceFlagEvents, 18, "unknown event %ls", name);
    return ERROR_NOT_FOUND;
}

DWORD CTelemetry::Run(TelemetryEvent kind, CMessageObject& payload)
{
    const std::shared_ptr<ITelemetryEventProcessor> processor = MakeProcessor(kind);
    if (!processor)
        return ERROR_SUCCESS;
    return processor->Process(&payload);
}

std::shared_ptr<ITelemetryEventProcessor> CTelemetry::MakeProcessor(TelemetryEvent kind)
{
    if (m_factory)
        return m_factory(kind);
    switch (kind)
    {
    case TelemetryEvent::PluginExecute:
        return std::make_shared<CPluginExecuteEventProcessor>(m_configUtil, m_dispatcherHelper, m_logService);
    case TelemetryEvent::TrackingSend:
        return std::make_shared<CTrackingSendEventProcessor>(m_configUtil, m_dispatcherHelper);
    case TelemetryEvent::FileUpload:
        return std::make_shared<CFileUploadEventProcessor>(m_configUtil, m_dispatcherHelper);
    }
    return nullptr;
}
