#pragma once
// The plug-in: names its three events and routes each delivered event to a fresh processor.
// "PluginExecute" events run one at a time, so do "FileUpload" events; "TrackingSend" runs freely.
// No exception leaves ProcessEvent: a lack of memory answers ERROR_NOT_ENOUGH_MEMORY, anything else
// ERROR_INTERNAL_ERROR.

#include "host/CLogServiceLoader.h"
#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "host/ILogService.h"
#include "host/IPlugin.h"
#include "plugin/CEventControl.h"
#include "platform/COperatingSystem.h"
#include "telemetry/ITelemetryEventProcessor.h"

#include <functional>
#include <memory>

constexpr wchar_t kPluginName[] = L"Telemetry";
constexpr wchar_t kPluginExecuteEvent[] = L"PluginExecute";
constexpr wchar_t kTrackingSendEvent[] = L"TrackingSend";
constexpr wchar_t kFileUploadEvent[] = L"FileUpload";

enum class TelemetryEvent
{
    PluginExecute,
    TrackingSend,
    FileUpload,
};

// Makes the processor for one event; null when it cannot be made.
using ProcessorFactory = std::function<std::shared_ptr<ITelemetryEventProcessor>(TelemetryEvent)>;

class CTelemetry : public IPlugin
{
public:
    // Takes the module's configuration utility (throws std::logic_error "m_configUtil is nullptr" without
    // one), the logging component and the module's dispatcher.
    CTelemetry();
    // With the collaborators and processors given: for tests.
    CTelemetry(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper, ProcessorFactory factory);
    ~CTelemetry() override;

    [[nodiscard]] DWORD Initialize() override;
    void Uninitialize() override;
    std::wstring GetName() override;
    void GetEvents(std::vector<std::wstring>& events) override;
    [[nodiscard]] DWORD ProcessEvent(CMessageObject* event) override;

private:
    [[nodiscard]] DWORD Route(CMessageObject& event);
    [[nodiscard]] DWORD Run(TelemetryEvent kind, CMessageObject& payload);
    std::shared_ptr<ITelemetryEventProcessor> MakeProcessor(TelemetryEvent kind);

    // Keeps the process-wide operating-system record while the plug-in lives: detecting it costs
    // milliseconds, and every tracking hit and every load of the communications component reads it.
    COperatingSystem m_operatingSystem;
    CLogServiceLoader m_logServiceLoader;
    IDispatcherHelper* m_dispatcherHelper;
    IConfigUtil* m_configUtil = nullptr;
    ILogService* m_logService = nullptr;
    CEventControl m_fileUploadControl{WaitForPrevious};
    CEventControl m_pluginExecuteControl{WaitForPrevious};
    ProcessorFactory m_factory;
};
